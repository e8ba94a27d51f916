#include "image/exif.h"

#include <cstring>

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kEntryBytes = 12;

struct Reader {
    const uint8_t* data;
    size_t size;
    bool bigEndian;

    // Callers check offset + 2 or + 4 <= size first.
    uint16_t U16(size_t offset) const {
        const uint8_t* p = data + offset;
        return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                         : static_cast<uint16_t>(p[1] << 8 | p[0]);
    }
    uint32_t U32(size_t offset) const {
        const uint8_t* p = data + offset;
        return bigEndian ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                         : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
    }
};

}  // namespace

int ExifOrientation(const uint8_t* block, size_t size) {
    if (!block || size < 8) return kOrientationAsStored;
    Reader r{block, size, false};
    if (block[0] == 'M' && block[1] == 'M') {
        r.bigEndian = true;
    } else if (!(block[0] == 'I' && block[1] == 'I')) {
        return kOrientationAsStored;
    }
    if (r.U16(2) != 42) return kOrientationAsStored;
    const uint32_t ifd = r.U32(4);
    if (ifd < 8 || ifd > size - 2) return kOrientationAsStored;
    const size_t entries = r.U16(ifd);
    // An IFD claiming more entries than the block holds is not trusted at all.
    if (entries > (size - ifd - 2) / kEntryBytes) return kOrientationAsStored;

    int found = 0;
    for (size_t i = 0; i < entries; ++i) {
        const size_t entry = ifd + 2 + i * kEntryBytes;
        if (r.U16(entry) != kOrientationTag) continue;
        // Two tags that may disagree: neither is believed.
        if (found != 0) return kOrientationAsStored;
        found = -1;
        if (r.U16(entry + 2) != kTypeShort || r.U32(entry + 4) != 1) continue;
        // A single short sits in the first two bytes of the value field.
        const int value = r.U16(entry + 8);
        if (value >= 1 && value <= 8) found = value;
    }
    return found > 0 ? found : kOrientationAsStored;
}

int JpegApp1Orientation(const uint8_t* payload, size_t size) {
    static constexpr uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!payload || size < sizeof kExif || std::memcmp(payload, kExif, sizeof kExif) != 0)
        return kOrientationAsStored;
    return ExifOrientation(payload + sizeof kExif, size - sizeof kExif);
}

void ReversePixels(uint8_t* row, int64_t width, int bytesPerPixel) {
    if (width < 2) return;
    uint8_t* left = row;
    uint8_t* right = row + (width - 1) * bytesPerPixel;
    uint8_t pixel[8];
    for (; left < right; left += bytesPerPixel, right -= bytesPerPixel) {
        std::memcpy(pixel, left, bytesPerPixel);
        std::memcpy(left, right, bytesPerPixel);
        std::memcpy(right, pixel, bytesPerPixel);
    }
}

void PlaceTransposedRows(const uint8_t* rows, size_t rowStride, int64_t firstRow, int64_t count,
                         int64_t width, int64_t height, int bytesPerPixel, int orientation,
                         uint8_t* upright, size_t uprightStride) {
    if (firstRow < 0 || count <= 0 || firstRow >= height) return;
    if (count > height - firstRow) count = height - firstRow;
    // Stored pixel (row s, column c) goes to upright row c (or width-1-c) and column s (or
    // height-1-s). Column by column, so that each upright row gets the strip's pixels side by
    // side: a strip of stored rows writes runs of pixels, not single ones.
    const bool columnFromRight = orientation == 6 || orientation == 7;
    const bool rowFromBottom = orientation == 7 || orientation == 8;
    const size_t bpp = static_cast<size_t>(bytesPerPixel);
    const int64_t x0 = columnFromRight ? height - 1 - firstRow : firstRow;
    const ptrdiff_t xStep = columnFromRight ? -static_cast<ptrdiff_t>(bpp) : static_cast<ptrdiff_t>(bpp);
    for (int64_t c = 0; c < width; ++c) {
        const int64_t y = rowFromBottom ? width - 1 - c : c;
        uint8_t* to = upright + static_cast<size_t>(y) * uprightStride + static_cast<size_t>(x0) * bpp;
        const uint8_t* from = rows + static_cast<size_t>(c) * bpp;
        for (int64_t k = 0; k < count; ++k, from += rowStride, to += xStep) std::memcpy(to, from, bpp);
    }
}
