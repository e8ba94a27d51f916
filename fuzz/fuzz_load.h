#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Loads the bytes as a file with the given extension through the whole image pipeline: the
// reader, the loader and each resampling path.
void FuzzLoadImage(const uint8_t* data, size_t size, const std::string& extension);

// Loads the bytes again with the reader's decode thread held back at its start, and stops the
// load while the reader waits for it, as the viewer leaves a slow picture for the next one: the
// decode is left to end on its own after the image has gone. For the readers that decode on a
// thread of their own; the hook and count are that reader's. Returns once the decode has ended.
void FuzzLoadLeavingItsDecode(const uint8_t* data, size_t size, const std::string& extension,
                              void (*setHook)(void (*)()), int (*decodesRunning)());
