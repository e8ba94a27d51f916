#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Whether icon entry data begin with the PNG signature instead of a bitmap header.
bool IsPngIconData(const uint8_t* data, size_t size);

// Decodes a PNG-compressed icon entry with libpng into a 24-bit bottom-up picture of the entry's
// size (width x height pixels, `stride` bytes a row, bottom row first). The PNG's rows are laid
// from the top; a PNG larger than the entry is cut, a smaller one leaves the rest as it was.
// Partly transparent pixels are blended onto white, so a transparent pixel shows white like a
// masked pixel of a bitmap entry. A PNG that fails midway keeps the rows decoded so far.
// False when not even the PNG header could be read. `failure`, when given, receives the
// library's words for whatever stopped the decode.
bool DecodePngIcon(const uint8_t* data, size_t size, int32_t width, int32_t height,
                   uint8_t* picture, size_t stride, std::string* failure = nullptr);
