#include "image/exif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/orientation.h"

namespace {

int Parse(const std::string& block) {
    return ExifOrientation(reinterpret_cast<const uint8_t*>(block.data()), block.size());
}

// Overwrites bytes at `offset` (the block from ExifBlock: IFD0 at 8, its entry at 10, the
// entry's type at 12, count at 14, value at 18).
std::string Patched(std::string block, size_t offset, const std::string& bytes) {
    block.replace(offset, bytes.size(), bytes);
    return block;
}

TEST(ExifTest, OrientationIsReadOnlyFromASoundIfd0Entry) {
    const std::string ii = ExifBlock(6, false);
    const std::string mm = ExifBlock(8, true);
    std::string twice = ExifBlock(6, false);
    twice.replace(8, 2, std::string("\2\0", 2));
    twice.insert(22, twice.substr(10, 12));
    struct Case {
        const char* what;
        std::string block;
        int expected;
    } cases[] = {
        {"little-endian", ii, 6},
        {"big-endian", mm, 8},
        {"value 1..8 kept", ExifBlock(3, true), 3},
        {"empty", "", 1},
        {"only the header", ii.substr(0, 8), 1},
        {"cut inside the entry", ii.substr(0, 20), 1},
        {"byte order mark IM", Patched(ii, 0, "IM"), 1},
        {"byte orders mixed", Patched(ii, 0, "MM"), 1},
        {"not 42", Patched(ii, 2, "\x2B"), 1},
        {"IFD0 past the end", Patched(ii, 4, "\xF0\xFF\xFF\xFF"), 1},
        {"IFD0 at the last byte", Patched(ii, 4, std::string("\x19\0\0\0", 4)), 1},
        {"IFD0 inside the header", Patched(ii, 4, std::string("\4\0\0\0", 4)), 1},
        {"entry count beyond the block", Patched(ii, 8, "\xFF\xFF"), 1},
        {"value count overflowing", Patched(ii, 14, "\xFF\xFF\xFF\xFF"), 1},
        {"count 2", Patched(ii, 14, std::string("\2\0\0\0", 4)), 1},
        {"type LONG", Patched(ii, 12, std::string("\4\0", 2)), 1},
        {"value 0", Patched(ii, 18, std::string("\0\0", 2)), 1},
        {"value 9", Patched(ii, 18, std::string("\x09\0", 2)), 1},
        {"value 0x106 (a short read as a byte)", Patched(ii, 18, std::string("\x06\x01", 2)), 1},
        {"two orientation tags", twice, 1},
        {"the next IFD pointing at itself", Patched(ii, 22, std::string("\x08\0\0\0", 4)), 6},
    };
    for (const Case& c : cases) EXPECT_EQ(Parse(c.block), c.expected) << c.what;

    const std::string app1 = std::string("Exif\0\0", 6) + ii;
    const auto* bytes = reinterpret_cast<const uint8_t*>(app1.data());
    EXPECT_EQ(JpegApp1Orientation(bytes, app1.size()), 6);
    EXPECT_EQ(JpegApp1Orientation(bytes, 5), 1);
    EXPECT_EQ(JpegApp1Orientation(bytes + 1, app1.size() - 1), 1);
}

// Where stored pixel (row s, column c) of a w x h picture belongs upright, per the Exif meaning
// of each transposing orientation, worked out independently of the placing code.
size_t UprightOffset(int orientation, int s, int c, int w, int h, size_t stride, int bpp) {
    int y = c, x = s;                            // 5: transposed
    if (orientation == 6) y = c, x = h - 1 - s;  // turned clockwise to show
    if (orientation == 7) y = w - 1 - c, x = h - 1 - s;
    if (orientation == 8) y = w - 1 - c, x = s;  // turned anticlockwise to show
    return static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bpp;
}

TEST(ExifTest, TransposedStripsLandWhereTheOrientationPutsThemAndNowhereElse) {
    struct Case {
        int width, height, bpp, strip;
    } cases[] = {
        {7, 45, 3, 1},  {7, 45, 3, 13},  {7, 45, 3, 32}, {7, 45, 3, 45}, {50, 3, 3, 2},
        {1, 70, 3, 33}, {33, 66, 3, 40}, {7, 45, 4, 13}, {50, 3, 4, 3},  {33, 66, 4, 66},
    };
    for (const Case& c : cases) {
        for (int o = 5; o <= 8; ++o) {
            const size_t rowBytes = static_cast<size_t>(c.width) * c.bpp;
            // Padding past each upright row, which the placing must leave alone.
            const size_t stride = static_cast<size_t>(c.height) * c.bpp + 3;
            std::vector<uint8_t> upright(stride * c.width, 0xEE), want = upright;
            for (int first = 0; first < c.height; first += c.strip) {
                const int count = std::min(c.strip, c.height - first);
                // Exactly the strip's bytes: a read past its last pixel is out of bounds.
                std::vector<uint8_t> rows(rowBytes * count);
                for (int k = 0; k < count; ++k)
                    for (int x = 0; x < c.width; ++x)
                        for (int b = 0; b < c.bpp; ++b) {
                            const auto v = static_cast<uint8_t>((first + k) * 7 + x * 13 + b * 101);
                            rows[k * rowBytes + x * c.bpp + b] = v;
                            want[UprightOffset(o, first + k, x, c.width, c.height, stride, c.bpp) +
                                 b] = v;
                        }
                PlaceTransposedRows(rows.data(), rowBytes, first, count, c.width, c.height, c.bpp,
                                    o, upright.data(), stride);
            }
            EXPECT_EQ(upright, want) << c.width << " x " << c.height << " x " << c.bpp << " strip "
                                     << c.strip << " orientation " << o;
        }
    }
}

}  // namespace
