#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes the bytes as a file with the given extension through the reader and the row protocol
// the loader drives, on the calling thread, at the picture's own size (nothing resampled): many
// times faster than a whole load, so a fuzzer reaches far more inputs.
void FuzzReadImage(const uint8_t* data, size_t size, const std::string& extension);

// The same bytes read as a batch resize's row pipe reads them: the reader may hand out rows of
// its own, and the consumer, always caught up, says after each row that it is done with it.
void FuzzReadRowsHandedOn(const uint8_t* data, size_t size, const std::string& extension);

// Points the settings store at a scratch folder of this process, removed at exit: images read
// the settings when they are made, which creates the file when it is missing.
void FuzzUseScratchSettings();

// Writes the bytes to a file in memory-backed storage, named with the extension, and returns
// its path (empty when it could not be written). The file is reused by the next call.
std::string FuzzWriteInput(const uint8_t* data, size_t size, const std::string& extension);
