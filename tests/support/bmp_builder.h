#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds BMP files byte by byte, so tests can make any header, including wrong ones.
struct BmpDesc {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t infoSize = 40;
    uint32_t clrUsed = 0;
    std::vector<uint8_t> colourBlock;  // palette entries or masks, after the info header
    std::vector<uint8_t> pixels;       // pixel data exactly as stored in the file
    int64_t offBitsOverride = -1;      // -1: right after the colour block
    int64_t sizeOverride = -1;         // bfSize; -1: the file's real size
    // Bit-field masks (red, green, blue...): inside a header longer than 40 bytes, where V4 and V5
    // headers keep them; else right after the 40-byte header, ahead of the colour block.
    std::vector<uint32_t> masks;
};

std::string BuildBmp(const BmpDesc& desc);

// File rows for true-colour pixels given top-down as B, G, R(, X) bytes per pixel, each row
// padded to 4 bytes, stored in the order the height's sign asks for.
std::vector<uint8_t> PackRows(const std::vector<std::vector<uint8_t>>& rowsTopDown, bool bottomUp);

void PutLe16(std::string& out, uint16_t v);
void PutLe32(std::string& out, uint32_t v);
