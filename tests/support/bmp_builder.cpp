#include "support/bmp_builder.h"

void PutLe16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void PutLe32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string BuildBmp(const BmpDesc& desc) {
    std::string masks;
    for (uint32_t m : desc.masks) PutLe32(masks, m);
    const bool masksInHeader = desc.infoSize > 40;
    const uint32_t block = static_cast<uint32_t>(desc.colourBlock.size()) +
                           (masksInHeader ? 0 : static_cast<uint32_t>(masks.size()));
    const uint32_t offBits = desc.offBitsOverride >= 0
        ? static_cast<uint32_t>(desc.offBitsOverride)
        : 14 + desc.infoSize + block;
    const uint32_t total = 14 + desc.infoSize + block + static_cast<uint32_t>(desc.pixels.size());
    std::string out = "BM";
    PutLe32(out, desc.sizeOverride >= 0 ? static_cast<uint32_t>(desc.sizeOverride) : total);
    PutLe32(out, 0);
    PutLe32(out, offBits);
    PutLe32(out, desc.infoSize);
    PutLe32(out, static_cast<uint32_t>(desc.width));
    PutLe32(out, static_cast<uint32_t>(desc.height));
    PutLe16(out, 1);
    PutLe16(out, desc.bitCount);
    PutLe32(out, desc.compression);
    PutLe32(out, 0);
    PutLe32(out, 2835);
    PutLe32(out, 2835);
    PutLe32(out, desc.clrUsed);
    PutLe32(out, 0);
    if (masksInHeader)
        masks.resize(desc.infoSize - 40, '\0');  // the rest of the longer header
    else
        out.append(desc.infoSize - 40, '\0');
    out += masks;
    out.append(desc.colourBlock.begin(), desc.colourBlock.end());
    out.append(desc.pixels.begin(), desc.pixels.end());
    return out;
}

std::vector<uint8_t> PackRows(const std::vector<std::vector<uint8_t>>& rowsTopDown, bool bottomUp) {
    std::vector<uint8_t> out;
    const size_t n = rowsTopDown.size();
    for (size_t k = 0; k < n; ++k) {
        const auto& row = rowsTopDown[bottomUp ? n - 1 - k : k];
        out.insert(out.end(), row.begin(), row.end());
        for (size_t pad = row.size(); pad % 4 != 0; ++pad) out.push_back(0);
    }
    return out;
}
