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
        return bigEndian
                   ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
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

// Stored pixel (row s, column c) goes to upright row c (or width-1-c) and column s (or
// height-1-s). A block of kRun stored rows becomes, in every upright row, one run of kRun
// neighbouring pixels, written left to right: the writes are sequential and each upright row is
// visited once per block, while the block's rows (a few cache lines per column) stay in the
// first-level cache for the reads. Consecutive upright rows lie pages apart, beyond what the
// hardware prefetcher follows, so each run's destination is asked for kAhead rows early: the
// writes then rarely wait for memory (at 6000 x 4000 this halves the time).
template <size_t kBytes>
void PlaceFixed(const uint8_t* rows, size_t rowStride, int64_t firstRow, int64_t count,
                int64_t width, int64_t height, int orientation, uint8_t* upright,
                size_t uprightStride) {
    constexpr int64_t kRun = 32;
    constexpr int64_t kAhead = 16;
    const bool columnFromRight = orientation == 6 || orientation == 7;
    const bool rowFromBottom = orientation == 7 || orientation == 8;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(rowStride);
    for (int64_t k0 = 0; k0 < count; k0 += kRun) {
        const int64_t run = count - k0 < kRun ? count - k0 : kRun;
        // The run's leftmost pixel comes from its last stored row when columns count from the
        // right, so the stored rows are then walked backwards.
        const int64_t xLeft = columnFromRight ? height - (firstRow + k0 + run) : firstRow + k0;
        const uint8_t* leftRow =
            rows + static_cast<size_t>(columnFromRight ? k0 + run - 1 : k0) * rowStride;
        const ptrdiff_t step = columnFromRight ? -stride : stride;
        for (int64_t c = 0; c < width; ++c) {
            const int64_t y = rowFromBottom ? width - 1 - c : c;
            uint8_t* to = upright + static_cast<size_t>(y) * uprightStride +
                          static_cast<size_t>(xLeft) * kBytes;
            const uint8_t* from = leftRow + static_cast<size_t>(c) * kBytes;
            if (c + kAhead < width) {
                const int64_t yAhead = rowFromBottom ? y - kAhead : y + kAhead;
                const uint8_t* ahead = to + (yAhead - y) * static_cast<ptrdiff_t>(uprightStride);
                __builtin_prefetch(ahead, 1);
                __builtin_prefetch(ahead + run * static_cast<int64_t>(kBytes) - 1, 1);
            }
            if constexpr (kBytes == 3) {
                // Four-byte moves; each store's fourth byte is the next pixel's first, which
                // that pixel's store then sets. The last pixel of the run moves exactly three,
                // leaving its neighbour alone, and so does the last column, whose fourth byte
                // may lie past the caller's rows.
                if (c + 1 < width) {
                    for (int64_t j = 1; j < run; ++j, from += step, to += 3)
                        std::memcpy(to, from, 4);
                    std::memcpy(to, from, 3);
                } else {
                    for (int64_t j = 0; j < run; ++j, from += step, to += 3)
                        std::memcpy(to, from, 3);
                }
            } else {
                for (int64_t j = 0; j < run; ++j, from += step, to += kBytes)
                    std::memcpy(to, from, kBytes);
            }
        }
    }
}

}  // namespace

void ReversePixels(uint8_t* row, int64_t width, int bytesPerPixel) {
    if (width < 2) return;
    if (bytesPerPixel == 3) return ReverseFixed<3>(row, width);
    if (bytesPerPixel == 4) return ReverseFixed<4>(row, width);
}

void ReverseBytes(uint8_t* bytes, size_t count) {
    // Eight bytes from each end at a time, each word byte-swapped into the other's place.
    uint8_t* left = bytes;
    uint8_t* right = bytes + count;
    for (; right - left >= 16; left += 8, right -= 8) {
        uint64_t a, b;
        std::memcpy(&a, left, 8);
        std::memcpy(&b, right - 8, 8);
        a = __builtin_bswap64(a);
        b = __builtin_bswap64(b);
        std::memcpy(left, &b, 8);
        std::memcpy(right - 8, &a, 8);
    }
    for (; right - left >= 2; ++left) {
        --right;
        const uint8_t t = *left;
        *left = *right;
        *right = t;
    }
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
