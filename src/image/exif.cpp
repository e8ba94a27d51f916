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

namespace {

// Fixed pixel sizes, so that each pixel moves in one or two inlined loads and stores instead of
// calls to memcpy.
template <size_t kBytes>
void ReverseFixed(uint8_t* row, int64_t width) {
    uint8_t* left = row;
    uint8_t* right = row + (width - 1) * static_cast<int64_t>(kBytes);
    uint8_t pixel[kBytes];
    for (; left < right; left += kBytes, right -= kBytes) {
        std::memcpy(pixel, left, kBytes);
        std::memcpy(left, right, kBytes);
        std::memcpy(right, pixel, kBytes);
    }
}

template <size_t kBytes>
void PlaceFixed(const uint8_t* rows, size_t rowStride, int64_t firstRow, int64_t count,
                int64_t width, int64_t height, int orientation, uint8_t* upright,
                size_t uprightStride) {
    // Stored pixel (row s, column c) goes to upright row c (or width-1-c) and column s (or
    // height-1-s). In tiles of kTile columns: a tile reads each stored row's few pixels side by
    // side and writes each of kTile upright rows a run of pixels, so neither side strides across
    // a page per pixel.
    constexpr int64_t kTile = 32;
    const bool columnFromRight = orientation == 6 || orientation == 7;
    const bool rowFromBottom = orientation == 7 || orientation == 8;
    const ptrdiff_t rowStep =
        rowFromBottom ? -static_cast<ptrdiff_t>(uprightStride) : static_cast<ptrdiff_t>(uprightStride);
    for (int64_t c0 = 0; c0 < width; c0 += kTile) {
        const int64_t tile = width - c0 < kTile ? width - c0 : kTile;
        const int64_t y0 = rowFromBottom ? width - 1 - c0 : c0;
        uint8_t* const tileRow = upright + static_cast<size_t>(y0) * uprightStride;
        for (int64_t k = 0; k < count; ++k) {
            const int64_t s = firstRow + k;
            const int64_t x = columnFromRight ? height - 1 - s : s;
            const uint8_t* from = rows + static_cast<size_t>(k) * rowStride + static_cast<size_t>(c0) * kBytes;
            uint8_t* to = tileRow + static_cast<size_t>(x) * kBytes;
            for (int64_t c = 0; c < tile; ++c, from += kBytes, to += rowStep) std::memcpy(to, from, kBytes);
        }
    }
}

}  // namespace

void ReversePixels(uint8_t* row, int64_t width, int bytesPerPixel) {
    if (width < 2) return;
    if (bytesPerPixel == 3) return ReverseFixed<3>(row, width);
    if (bytesPerPixel == 4) return ReverseFixed<4>(row, width);
}

void PlaceTransposedRows(const uint8_t* rows, size_t rowStride, int64_t firstRow, int64_t count,
                         int64_t width, int64_t height, int bytesPerPixel, int orientation,
                         uint8_t* upright, size_t uprightStride) {
    if (firstRow < 0 || count <= 0 || firstRow >= height) return;
    if (count > height - firstRow) count = height - firstRow;
    if (bytesPerPixel == 3)
        PlaceFixed<3>(rows, rowStride, firstRow, count, width, height, orientation, upright,
                      uprightStride);
    if (bytesPerPixel == 4)
        PlaceFixed<4>(rows, rowStride, firstRow, count, width, height, orientation, upright,
                      uprightStride);
}
