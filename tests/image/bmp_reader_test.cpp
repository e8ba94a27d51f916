#include "image/bmp_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "image/image.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/temp_dir.h"

namespace {

struct Decoded {
    BITMAPINFOHEADER header{};
    std::vector<std::vector<uint8_t>> rows;  // in memory (delivery) order
    uint32_t fileRowStride = 0;
};

class BmpReaderTest : public testing::Test {
protected:
    Decoded Decode(const std::string& bytes, uint8_t fill = 0) {
        const std::string file = dir_.file("t" + std::to_string(counter_++) + ".bmp");
        WriteFileBytes(file, bytes);
        CBmpReader reader(file);
        reader.OpenFile();
        Decoded out;
        out.header = reader.header.bmiHeader;
        out.fileRowStride = reader.fileRowStride();
        const int64_t stride = DibStride(out.header.biWidth, out.header.biBitCount);
        const int32_t rows = std::abs(out.header.biHeight);
        for (int32_t r = 0; r < rows; ++r) {
            std::vector<uint8_t> row(static_cast<size_t>(stride) + 1, fill);
            uint8_t* p = row.data();
            reader.NextLine(&p);
            row.pop_back();
            out.rows.push_back(row);
        }
        uint8_t spare[8] = {};
        uint8_t* p = spare;
        reader.NextLine(&p);  // past the end: changes nothing
        EXPECT_EQ(reader.lineCounter, rows - 1);
        reader.Close();
        return out;
    }
    TempDir dir_;
    int counter_ = 0;
};

std::vector<uint8_t> Palette(std::initializer_list<uint32_t> bgrx) {
    std::vector<uint8_t> out;
    for (uint32_t c : bgrx)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(c >> (8 * i)));
    return out;
}

std::vector<uint8_t> Px(const std::vector<uint8_t>& row, size_t i, int bpp) {
    return {row.begin() + static_cast<std::ptrdiff_t>(i * bpp),
            row.begin() + static_cast<std::ptrdiff_t>((i + 1) * bpp)};
}

TEST_F(BmpReaderTest, TrueColourBottomUpRowsArriveInFileOrder) {
    BmpDesc desc;
    desc.width = 3;
    desc.height = 2;
    desc.pixels = PackRows({{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}}, true);
    ASSERT_EQ(desc.pixels.size(), 24u);
    Decoded d = Decode(BuildBmp(desc));
    EXPECT_EQ(d.header.biWidth, 3);
    EXPECT_EQ(d.header.biHeight, 2);
    EXPECT_EQ(d.header.biBitCount, 24);
    EXPECT_EQ(d.fileRowStride, 12u);
    // The file's first row is the picture's bottom row, and it is delivered first.
    EXPECT_EQ(Px(d.rows[0], 0, 3), (std::vector<uint8_t>{10, 11, 12}));
    EXPECT_EQ(Px(d.rows[1], 2, 3), (std::vector<uint8_t>{7, 8, 9}));
}

TEST_F(BmpReaderTest, NegativeHeightGivesATopDownImage) {
    BmpDesc desc;
    desc.width = 1;
    desc.height = -2;
    desc.bitCount = 32;
    desc.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    Decoded d = Decode(BuildBmp(desc));
    EXPECT_EQ(d.header.biHeight, -2);
    EXPECT_EQ(d.header.biBitCount, 32);
    EXPECT_EQ(d.rows[0], (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(d.rows[1], (std::vector<uint8_t>{5, 6, 7, 8}));
}

TEST_F(BmpReaderTest, PaletteFilesExpandToTheirTableEntries) {
    // 1 bit, black and white: 10100000 -> pixels 1, 0, 1.
    BmpDesc one;
    one.width = 3;
    one.bitCount = 1;
    one.colourBlock = Palette({0x00000000, 0x00FFFFFF});
    one.pixels = {0xA0, 0, 0, 0};
    Decoded d = Decode(BuildBmp(one));
    EXPECT_EQ(d.header.biBitCount, 32);
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{255, 255, 255, 0}));
    EXPECT_EQ(Px(d.rows[0], 1, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Px(d.rows[0], 2, 4), (std::vector<uint8_t>{255, 255, 255, 0}));

    // 4 bit, odd width: the last pixel is the high half of the last byte.
    BmpDesc four;
    four.width = 3;
    four.bitCount = 4;
    four.colourBlock = Palette({0x00000001, 0x00000002, 0x00000003});
    four.pixels = {0x12, 0x01, 0, 0};
    d = Decode(BuildBmp(four));
    EXPECT_EQ(d.rows[0][0], 2);
    EXPECT_EQ(d.rows[0][4], 3);
    EXPECT_EQ(d.rows[0][8], 1);

    // 8 bit, an index beyond the table takes entry 0; the reserved byte is copied unchanged.
    BmpDesc eight;
    eight.width = 2;
    eight.bitCount = 8;
    eight.clrUsed = 2;
    eight.colourBlock = Palette({0x11223344, 0xAABBCCDD});
    eight.pixels = {1, 200, 0, 0};
    d = Decode(BuildBmp(eight));
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{0xDD, 0xCC, 0xBB, 0xAA}));
    EXPECT_EQ(Px(d.rows[0], 1, 4), (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));

    // No table at all: black.
    eight.clrUsed = 0;
    eight.colourBlock.clear();
    d = Decode(BuildBmp(eight));
    ASSERT_EQ(d.header.biWidth, 2);
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(BmpReaderTest, SixteenBitChannelsAreScaledByBitReplication) {
    // 5-5-5: white, pure red, and the mid value 16 in blue.
    BmpDesc rgb555;
    rgb555.width = 3;
    rgb555.bitCount = 16;
    rgb555.pixels = {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x00, 0, 0};
    Decoded d = Decode(BuildBmp(rgb555));
    EXPECT_EQ(d.header.biBitCount, 24);
    EXPECT_EQ(Px(d.rows[0], 0, 3), (std::vector<uint8_t>{255, 255, 255}));
    EXPECT_EQ(Px(d.rows[0], 1, 3), (std::vector<uint8_t>{0, 0, 255}));
    EXPECT_EQ(Px(d.rows[0], 2, 3), (std::vector<uint8_t>{132, 0, 0}));

    // 5-6-5 bit fields: green 0x3F -> 255, 0x20 -> 130.
    BmpDesc rgb565;
    rgb565.width = 2;
    rgb565.bitCount = 16;
    rgb565.compression = BI_BITFIELDS;
    rgb565.colourBlock = Palette({0xF800, 0x07E0, 0x001F});
    rgb565.pixels = {0xE0, 0x07, 0x00, 0x04};
    d = Decode(BuildBmp(rgb565));
    EXPECT_EQ(Px(d.rows[0], 0, 3), (std::vector<uint8_t>{0, 255, 0}));
    EXPECT_EQ(Px(d.rows[0], 1, 3), (std::vector<uint8_t>{0, 130, 0}));
}

// One 32-bit bit-field pixel as stored: a little-endian word.
std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return out;
}

TEST_F(BmpReaderTest, ThirtyTwoBitFieldsAreReadThroughTheirMasks) {
    BmpDesc desc;
    desc.width = 3;
    desc.bitCount = 32;
    desc.compression = BI_BITFIELDS;

    // Red in the lowest byte: red, green and blue pixels, with junk in the unused byte.
    desc.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
    desc.pixels = Words({0xAA0000FF, 0x0000FF00, 0x00FF0000});
    Decoded d = Decode(BuildBmp(desc));
    EXPECT_EQ(d.header.biBitCount, 32);
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{0, 0, 255, 0}));
    EXPECT_EQ(Px(d.rows[0], 1, 4), (std::vector<uint8_t>{0, 255, 0, 0}));
    EXPECT_EQ(Px(d.rows[0], 2, 4), (std::vector<uint8_t>{255, 0, 0, 0}));

    // The same masks in a V5 header.
    BmpDesc v5 = desc;
    v5.infoSize = 124;
    d = Decode(BuildBmp(v5));
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{0, 0, 255, 0}));

    // The usual layout, three empty masks, and bit fields without room for masks keep the
    // stored bytes as they are.
    desc.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (const auto& masks : std::vector<std::vector<uint32_t>>{
             {0x00FF0000, 0x0000FF00, 0x000000FF}, {0, 0, 0}, {}}) {
        desc.masks = masks;
        d = Decode(BuildBmp(desc));
        EXPECT_EQ(d.rows[0], desc.pixels) << (masks.empty() ? -1 : int64_t{masks[0]});
    }

    // Ten bits a channel keep their top eight; the two spare bits are ignored.
    desc.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    desc.pixels = Words({0xFFF00000 | 0x200 << 10 | 0x0FF, 0x3FFFFFFF, 0x00000003});
    d = Decode(BuildBmp(desc));
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{0x3F, 0x80, 0xFF, 0}));
    EXPECT_EQ(Px(d.rows[0], 1, 4), (std::vector<uint8_t>{255, 255, 255, 0}));
    EXPECT_EQ(Px(d.rows[0], 2, 4), (std::vector<uint8_t>{0, 0, 0, 0}));

    // Narrow channels are widened by bit replication, and an empty mask gives 0.
    desc.masks = {0x00007C00, 0x00000000, 0x0000001F};
    desc.pixels = Words({0xFFFF7C00, 0x00000010, 0xFFFFFFFF});
    d = Decode(BuildBmp(desc));
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{0, 0, 255, 0}));
    EXPECT_EQ(Px(d.rows[0], 1, 4), (std::vector<uint8_t>{132, 0, 0, 0}));
    EXPECT_EQ(Px(d.rows[0], 2, 4), (std::vector<uint8_t>{255, 0, 255, 0}));

    // A row cut short converts only the whole pixels it holds.
    desc.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
    desc.pixels = {0x10, 0x20, 0x30, 0, 0x40, 0x50};
    d = Decode(BuildBmp(desc), 0xEE);
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{0x30, 0x20, 0x10, 0}));
    EXPECT_EQ(Px(d.rows[0], 2, 4), (std::vector<uint8_t>{0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(BmpReaderTest, V5HeadersAreReadWithTheirTableAfterTheLongerHeader) {
    BmpDesc desc;
    desc.infoSize = 124;
    desc.width = 2;
    desc.bitCount = 8;
    desc.colourBlock = Palette({0x00010203, 0x00040506});
    desc.clrUsed = 2;
    desc.pixels = {1, 0, 0, 0};
    Decoded d = Decode(BuildBmp(desc));
    EXPECT_EQ(d.header.biSize, 40u);
    EXPECT_EQ(Px(d.rows[0], 0, 4), (std::vector<uint8_t>{6, 5, 4, 0}));
    EXPECT_EQ(Px(d.rows[0], 1, 4), (std::vector<uint8_t>{3, 2, 1, 0}));

    // Masks of a V5 16-bit file sit inside the header, where a short header's masks would be.
    BmpDesc masks;
    masks.infoSize = 124;
    masks.width = 1;
    masks.bitCount = 16;
    masks.compression = BI_BITFIELDS;
    std::string file = BuildBmp([&] {
        masks.pixels = {0x1F, 0x00, 0, 0};  // blue only
        return masks;
    }());
    // Write the masks 5-6-5 into header bytes 40..51.
    const uint32_t m[3] = {0xF800, 0x07E0, 0x001F};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 4; ++i) file[14 + 40 + 4 * c + i] = static_cast<char>(m[c] >> (8 * i));
    d = Decode(file);
    EXPECT_EQ(Px(d.rows[0], 0, 3), (std::vector<uint8_t>{255, 0, 0}));
}

TEST_F(BmpReaderTest, RunLengthFilesAreDecoded) {
    // RLE8, 4 x 3: row 0 = run of 3 x index 1 then absolute (1), row 1 skipped by a delta,
    // row 2 starts at x 2 after the delta.
    BmpDesc rle8;
    rle8.width = 4;
    rle8.height = 3;
    rle8.bitCount = 8;
    rle8.compression = BI_RLE8;
    rle8.colourBlock = Palette({0x00000000, 0x000000FF, 0x0000FF00});
    rle8.pixels = {3, 1, 0, 3, 2, 2, 1, 0,  // run, absolute run of 3 (padded to even)
                   0, 0,                    // end of row 0
                   0, 2, 2, 1,              // delta: right 2, up 1 (row 1 stays black)
                   1, 2,                    // row 2, x = 2: one pixel of index 2
                   0, 1};                   // end of picture
    Decoded d = Decode(BuildBmp(rle8), 0x77);
    ASSERT_EQ(d.header.biHeight, 3);
    EXPECT_EQ(d.rows[0][0], 255);
    EXPECT_EQ(d.rows[0][8], 255);
    EXPECT_EQ(d.rows[0][12], 0);     // absolute pixel 0 of index 2 -> green byte
    EXPECT_EQ(d.rows[0][13], 255);
    EXPECT_EQ(d.rows[1], std::vector<uint8_t>(16, 0));
    EXPECT_EQ(Px(d.rows[2], 1, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Px(d.rows[2], 2, 4), (std::vector<uint8_t>{0, 255, 0, 0}));

    // RLE4: a run alternates the two nibbles.
    BmpDesc rle4;
    rle4.width = 3;
    rle4.bitCount = 4;
    rle4.compression = BI_RLE4;
    rle4.colourBlock = Palette({0x00000010, 0x00000020, 0x00000030});
    rle4.pixels = {3, 0x12, 0, 1};
    d = Decode(BuildBmp(rle4));
    EXPECT_EQ(d.rows[0][0], 0x20);
    EXPECT_EQ(d.rows[0][4], 0x30);
    EXPECT_EQ(d.rows[0][8], 0x20);
}

TEST_F(BmpReaderTest, ExtraBytesAfterThePixelsWidenTheFileRowStride) {
    BmpDesc desc;
    desc.width = 1;
    desc.height = 2;
    desc.pixels = {1, 2, 3, 0, 9, 9, 9, 9, 4, 5, 6, 0, 9, 9, 9, 9};  // rows of 8 bytes
    Decoded d = Decode(BuildBmp(desc));
    EXPECT_EQ(d.fileRowStride, 8u);
    EXPECT_EQ(Px(d.rows[1], 0, 3), (std::vector<uint8_t>{4, 5, 6}));
}

TEST_F(BmpReaderTest, TrailingBytesThatAreNotRowsLeaveTheStrideAlone) {
    // Three rows of 1 pixel (stride 4) followed by 5 stray bytes: 17 bytes do not divide into
    // three 4-byte-aligned rows, so the rows keep their own stride.
    BmpDesc desc;
    desc.width = 1;
    desc.height = -3;
    desc.pixels = {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0, 9, 9, 9, 9, 9};
    Decoded d = Decode(BuildBmp(desc));
    EXPECT_EQ(d.fileRowStride, 4u);
    EXPECT_EQ(Px(d.rows[2], 0, 3), (std::vector<uint8_t>{3, 3, 3}));

    // A V5 file with its colour profile after the pixels (as common tools write them).
    BmpDesc v5;
    v5.infoSize = 124;
    v5.width = 1;
    v5.height = 2;
    v5.pixels = {4, 5, 6, 0, 7, 8, 9, 0};
    const std::vector<uint8_t> profile(36, 0xAB);  // a multiple of the height on purpose
    v5.pixels.insert(v5.pixels.end(), profile.begin(), profile.end());
    std::string file = BuildBmp(v5);
    const uint32_t profileOffset = 124 + 8;  // from the start of the info header
    for (int i = 0; i < 4; ++i) {
        file[14 + 112 + i] = static_cast<char>(profileOffset >> (8 * i));
        file[14 + 116 + i] = static_cast<char>(profile.size() >> (8 * i));
    }
    d = Decode(file);
    EXPECT_EQ(d.fileRowStride, 4u);
    EXPECT_EQ(Px(d.rows[1], 0, 3), (std::vector<uint8_t>{7, 8, 9}));
}

TEST_F(BmpReaderTest, HostileHeadersDeclareNothing) {
    BmpDesc good;
    good.width = 2;
    good.height = 2;
    good.pixels = std::vector<uint8_t>(16, 1);
    auto refused = [&](BmpDesc desc, const char* what) {
        Decoded d = Decode(BuildBmp(desc));
        EXPECT_EQ(d.header.biWidth, 0) << what;
        EXPECT_EQ(d.header.biHeight, 0) << what;
        EXPECT_TRUE(d.rows.empty()) << what;
    };
    ASSERT_EQ(Decode(BuildBmp(good)).header.biWidth, 2);
    BmpDesc s = good;
    s.sizeOverride = 54 + 16 + 1;
    refused(s, "bfSize one byte larger than the file");
    s = good, s.width = 0;
    refused(s, "zero width");
    s = good, s.width = -2;
    refused(s, "negative width");
    s = good, s.height = 0;
    refused(s, "zero height");
    s = good, s.height = INT32_MIN;
    refused(s, "height that cannot be negated");
    s = good, s.offBitsOverride = 40;
    refused(s, "pixel offset inside the header");
    s = good, s.offBitsOverride = 5000;
    refused(s, "pixel offset beyond the file");
    s = good, s.compression = 4;
    refused(s, "compression 4");
    s = good, s.bitCount = 7;
    refused(s, "bit count 7");
    s = good, s.width = 0x10000, s.height = 0x10000;
    refused(s, "overflowing size");
    s = good, s.width = 1 << 15, s.height = (1 << 13) + 1;
    refused(s, "more than 2^28 pixels");
    s = good, s.compression = BI_RLE8;
    refused(s, "RLE8 in a 24-bit file");
    s = good, s.bitCount = 8, s.compression = BI_RLE8, s.width = 60000, s.height = 4000;
    refused(s, "tiny RLE stream claiming a huge picture");
    s = good, s.bitCount = 16, s.width = 8'000'000, s.height = 2;
    refused(s, "a few bytes of a truncated file claiming a row of megapixels");

    std::string tooSmall = BuildBmp(good).substr(0, 54);
    EXPECT_EQ(Decode(tooSmall).header.biWidth, 0);
    std::string wrongMagic = BuildBmp(good);
    wrongMagic[0] = 'X';
    EXPECT_EQ(Decode(wrongMagic).header.biWidth, 0);
}

TEST_F(BmpReaderTest, ATruncatedFileDeliversTheRowsItHolds) {
    // 4 x 1000 declared, but only 2.5 rows of 12 bytes present.
    BmpDesc desc;
    desc.width = 4;
    desc.height = -1000;
    desc.pixels = std::vector<uint8_t>(30, 0x55);
    Decoded d = Decode(BuildBmp(desc), 0xEE);
    EXPECT_EQ(d.header.biWidth, 4);
    EXPECT_EQ(d.header.biHeight, -3);
    EXPECT_EQ(d.rows[1], std::vector<uint8_t>(12, 0x55));
    // The last row: six bytes read, the rest as it was.
    EXPECT_EQ(d.rows[2][5], 0x55);
    EXPECT_EQ(d.rows[2][6], 0xEE);

    // A palette file short of its last row's bits writes only the pixels it has.
    BmpDesc pal;
    pal.width = 8;
    pal.height = 2;
    pal.bitCount = 8;
    pal.colourBlock = Palette({0x00010101, 0x00020202});
    pal.pixels = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0};
    d = Decode(BuildBmp(pal), 0xEE);
    ASSERT_EQ(d.header.biHeight, 2);
    EXPECT_EQ(d.rows[1][2 * 4], 1);
    EXPECT_EQ(d.rows[1][3 * 4], 0xEE);
}

TEST_F(BmpReaderTest, EveryCorpusBitmapDecodes) {
    BuildGammaTables();
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(CorpusPath("bmp"))) {
        if (entry.path().extension() != ".bmp") continue;
        ++files;
        CImage image;
        image.LoadNow(entry.path().string(), 1 << 30, 1 << 30);
        EXPECT_GT(image.GetWidth(), 0) << entry.path();
        EXPECT_GT(image.GetHeight(), 0) << entry.path();
        // And once reduced, through the box path.
        image.LoadNow(entry.path().string(), 50, 50);
        EXPECT_GT(image.GetWidth(), 0) << entry.path();
    }
    EXPECT_GE(files, 18);
    CImage hostile;
    hostile.LoadNow(CorpusPath("malformed/gdk-pixbuf-fail/bug776694.bmp"), 100, 100);
    hostile.LoadNow(CorpusPath("malformed/gdk-pixbuf-fail-other/cve-2015-4491.bmp"), 100, 100);
}

}  // namespace
