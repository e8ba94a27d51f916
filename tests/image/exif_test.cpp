#include "image/exif.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
