#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Loads the bytes as a file with the given extension through the whole image pipeline: the
// reader, the loader and each resampling path.
void FuzzLoadImage(const uint8_t* data, size_t size, const std::string& extension);
