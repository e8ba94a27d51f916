#include "image/ico_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>

#include "image/image.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/recording_window.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace {

// Icon files built byte by byte: a directory, then each entry's data in order.
struct IconEntry {
    uint8_t width = 1, height = 1, colourCount = 0;
    uint16_t planes = 1, bitCount = 32;  // a cursor's hot spot
    std::string data;
    int64_t sizeOverride = -1, offsetOverride = -1;
};

std::string BuildIcon(const std::vector<IconEntry>& entries, uint16_t type = 1,
                      int32_t countOverride = -1) {
    std::string out;
    PutLe16(out, 0);
    PutLe16(out, type);
    PutLe16(out, static_cast<uint16_t>(countOverride >= 0 ? countOverride
                                                          : static_cast<int32_t>(entries.size())));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(entries.size());
    for (const IconEntry& e : entries) {
        out += static_cast<char>(e.width);
        out += static_cast<char>(e.height);
        out += static_cast<char>(e.colourCount);
        out += '\0';
        PutLe16(out, e.planes);
        PutLe16(out, e.bitCount);
        PutLe32(out,
                static_cast<uint32_t>(e.sizeOverride >= 0 ? e.sizeOverride
                                                          : static_cast<int64_t>(e.data.size())));
        PutLe32(out, static_cast<uint32_t>(e.offsetOverride >= 0 ? e.offsetOverride : offset));
        offset += static_cast<uint32_t>(e.data.size());
    }
    for (const IconEntry& e : entries) out += e.data;
    return out;
}

// Entry data: a bitmap header whose height counts colour rows and mask, the colour block, the
// colour rows and the mask rows, each exactly as given (bottom row first, already padded).
struct BitmapSpec {
    int32_t width = 1, height = 1;
    uint16_t bitCount = 32;
    uint32_t compression = BI_RGB, clrUsed = 0;
    std::vector<uint8_t> colourBlock, pixels, mask;
};

std::string BitmapData(const BitmapSpec& s) {
    std::string out;
    PutLe32(out, 40);
    PutLe32(out, static_cast<uint32_t>(s.width));
    PutLe32(out, static_cast<uint32_t>(s.height * 2));
    PutLe16(out, 1);
    PutLe16(out, s.bitCount);
    PutLe32(out, s.compression);
    for (int i = 0; i < 3; ++i) PutLe32(out, 0);
    PutLe32(out, s.clrUsed);
    PutLe32(out, 0);
    out.append(s.colourBlock.begin(), s.colourBlock.end());
    out.append(s.pixels.begin(), s.pixels.end());
    out.append(s.mask.begin(), s.mask.end());
    return out;
}

// A square entry in one colour (0xRRGGBB) at the given depth, no pixel masked.
IconEntry Solid(uint8_t side, uint16_t bits, uint32_t rgb, uint8_t colourCount = 0) {
    BitmapSpec s;
    s.width = s.height = side;
    s.bitCount = bits;
    const uint8_t bgra[4] = {static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8),
                             static_cast<uint8_t>(rgb >> 16), 0};
    if (bits <= 8) {
        s.colourBlock.assign(bgra, bgra + 4);
        s.colourBlock.resize(4u << bits, 0);
    }
    const size_t rowBytes = ((static_cast<size_t>(bits) * side + 7) / 8 + 3) & ~size_t{3};
    for (int y = 0; y < side; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        if (bits == 32)
            for (int x = 0; x < side; ++x) std::memcpy(row.data() + 4 * x, bgra, 4);
        s.pixels.insert(s.pixels.end(), row.begin(), row.end());
    }
    s.mask.assign(((side + 31) / 32) * 4 * side, 0);
    IconEntry e;
    e.width = e.height = side;
    e.colourCount = colourCount;
    e.bitCount = bits;
    e.data = BitmapData(s);
    return e;
}

struct Decoded {
    BITMAPINFOHEADER header{};
    bool allRowsAtOnce = false;
    bool rgbOrder = true;
    std::vector<uint8_t> picture;  // every row as delivered on the first call
    int32_t stride = 0;
    // Pixel (x, y) counted from the top, as B, G, R.
    std::vector<uint8_t> At(int x, int y) const {
        const int32_t row = header.biHeight - 1 - y;
        const uint8_t* p = picture.data() + static_cast<size_t>(row) * stride + 3 * x;
        return {p[0], p[1], p[2]};
    }
};

std::vector<uint8_t> Bgr(uint32_t rgb) {
    return {static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8),
            static_cast<uint8_t>(rgb >> 16)};
}

const std::vector<uint8_t> kWhite = {255, 255, 255}, kBlack = {0, 0, 0};

class IcoReaderTest : public testing::Test {
protected:
    std::string Write(const std::string& bytes, const char* extension = ".ico") {
        const std::string file = dir_.file("i" + std::to_string(counter_++) + extension);
        WriteFileBytes(file, bytes);
        return file;
    }
    Decoded Decode(const std::string& bytes) {
        CIcoReader reader(Write(bytes));
        reader.OpenFile();
        Decoded out;
        out.header = reader.header.bmiHeader;
        out.allRowsAtOnce = reader.allRowsAtOnce;
        out.rgbOrder = reader.rgbOrder;
        out.stride = static_cast<int32_t>(DibStride(out.header.biWidth, 24));
        const int32_t rows = out.header.biHeight;
        out.picture.assign(static_cast<size_t>(out.stride) * std::max(rows, 0) + 1, 0x77);
        uint8_t* p = out.picture.data();
        if (rows > 0) reader.NextLine(&p);
        // Later calls only count.
        std::vector<uint8_t> copy = out.picture;
        for (int32_t r = 1; r < rows + 2; ++r) reader.NextLine(&p);
        EXPECT_EQ(out.picture, copy);
        EXPECT_EQ(reader.lineCounter, rows - 1);
        out.picture.pop_back();
        reader.Close();
        return out;
    }
    TempDir dir_;
    int counter_ = 0;
};

TEST(IcoReaderChoiceTest, IconsAndCursorsGetTheIconReader) {
    EXPECT_NE(dynamic_cast<CIcoReader*>(CreateReader("/x/App.ICO").get()), nullptr);
    EXPECT_NE(dynamic_cast<CIcoReader*>(CreateReader("/x/arrow.cur").get()), nullptr);
}

TEST_F(IcoReaderTest, DeclaresABottomUp24BitPictureDeliveredAllAtOnce) {
    // 2 x 2 at 24 bits: bottom row blue, red; top row green, white.
    BitmapSpec s;
    s.width = s.height = 2;
    s.bitCount = 24;
    s.pixels = {255, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 255, 255, 255, 0, 0};
    s.mask.assign(8, 0);
    IconEntry e;
    e.width = e.height = 2;
    e.data = BitmapData(s);
    Decoded d = Decode(BuildIcon({e}));
    EXPECT_EQ(d.header.biWidth, 2);
    EXPECT_EQ(d.header.biHeight, 2);
    EXPECT_EQ(d.header.biBitCount, 24);
    EXPECT_TRUE(d.allRowsAtOnce);
    EXPECT_FALSE(d.rgbOrder);
    // Memory row 0 is the bottom row, as stored.
    EXPECT_EQ(std::vector<uint8_t>(d.picture.begin(), d.picture.begin() + 6),
              (std::vector<uint8_t>{255, 0, 0, 0, 0, 255}));
    EXPECT_EQ(d.At(0, 0), Bgr(0x00FF00));
    EXPECT_EQ(d.At(1, 0), kWhite);
}

TEST_F(IcoReaderTest, ChoosesTheEntryByWidthAndDepthAsIconsAlwaysWere) {
    auto shown = [&](const std::vector<IconEntry>& entries) {
        Decoded d = Decode(BuildIcon(entries));
        return std::make_pair(d.header.biWidth, d.At(0, 0));
    };
    // The wider of two 32-bit entries, whichever comes first.
    EXPECT_EQ(shown({Solid(16, 32, 0x111111), Solid(32, 32, 0x222222)}),
              std::make_pair(32, Bgr(0x222222)));
    EXPECT_EQ(shown({Solid(32, 32, 0x222222), Solid(16, 32, 0x111111)}),
              std::make_pair(32, Bgr(0x222222)));
    // A 4-bit entry's colour count of 16 beats an 8-bit entry's bit count...
    EXPECT_EQ(shown({Solid(32, 8, 0x333333), Solid(32, 4, 0x444444, 16)}),
              std::make_pair(32, Bgr(0x444444)));
    // ...and in the other order the 8 bits beat the 4.
    EXPECT_EQ(shown({Solid(32, 4, 0x444444, 16), Solid(32, 8, 0x333333)}),
              std::make_pair(32, Bgr(0x333333)));
    // More bits win over a wider entry.
    EXPECT_EQ(shown({Solid(32, 8, 0x333333), Solid(16, 32, 0x111111)}),
              std::make_pair(16, Bgr(0x111111)));
}

TEST_F(IcoReaderTest, EveryDepthDecodesAndMaskedPixelsAreWhite) {
    // 3 x 2, bottom row first in the file. Mask bit set at (x 1, bottom row).
    const std::vector<uint8_t> mask = {0x40, 0, 0, 0, 0x00, 0, 0, 0};
    auto entry = [&](BitmapSpec s) {
        s.width = 3, s.height = 2, s.mask = mask;
        IconEntry e;
        e.width = 3, e.height = 2, e.bitCount = s.bitCount;
        e.data = BitmapData(s);
        return BuildIcon({e});
    };
    const std::vector<uint8_t> table = {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0};

    BitmapSpec one;
    one.bitCount = 1, one.colourBlock = table, one.pixels = {0xA0, 0, 0, 0, 0x40, 0, 0, 0};
    Decoded d = Decode(entry(one));
    EXPECT_EQ(d.At(0, 1), (std::vector<uint8_t>{0x40, 0x50, 0x60}));
    EXPECT_EQ(d.At(1, 1), kWhite);  // masked, though its index is 0
    EXPECT_EQ(d.At(2, 1), (std::vector<uint8_t>{0x40, 0x50, 0x60}));
    EXPECT_EQ(d.At(1, 0), (std::vector<uint8_t>{0x40, 0x50, 0x60}));
    EXPECT_EQ(d.At(2, 0), (std::vector<uint8_t>{0x10, 0x20, 0x30}));

    // 4 bits, odd width: the last pixel is the high half of the last byte. biClrUsed 2 leaves
    // indices 2-15 outside the table: they take entry 0.
    BitmapSpec four;
    four.bitCount = 4, four.clrUsed = 2, four.colourBlock = table;
    four.pixels = {0x10, 0x70, 0, 0, 0x01, 0x10, 0, 0};
    d = Decode(entry(four));
    EXPECT_EQ(d.At(0, 1), (std::vector<uint8_t>{0x40, 0x50, 0x60}));
    EXPECT_EQ(d.At(2, 1), (std::vector<uint8_t>{0x10, 0x20, 0x30}));
    EXPECT_EQ(d.At(1, 0), (std::vector<uint8_t>{0x40, 0x50, 0x60}));
    EXPECT_EQ(d.At(2, 0), (std::vector<uint8_t>{0x40, 0x50, 0x60}));

    BitmapSpec eight;
    eight.bitCount = 8, eight.clrUsed = 2, eight.colourBlock = table;
    eight.pixels = {1, 0, 1, 0, 0, 200, 1, 0};
    d = Decode(entry(eight));
    EXPECT_EQ(d.At(0, 0), (std::vector<uint8_t>{0x10, 0x20, 0x30}));
    EXPECT_EQ(d.At(1, 0), (std::vector<uint8_t>{0x10, 0x20, 0x30}));  // 200: beyond the table
    EXPECT_EQ(d.At(2, 0), (std::vector<uint8_t>{0x40, 0x50, 0x60}));
    EXPECT_EQ(d.At(0, 1), (std::vector<uint8_t>{0x40, 0x50, 0x60}));

    BitmapSpec thirtyTwo;
    thirtyTwo.bitCount = 32;
    thirtyTwo.pixels = {1,  2,  3,  0, 4,  5,  6,  0, 7,  8,  9,  0,
                        10, 11, 12, 0, 13, 14, 15, 0, 16, 17, 18, 0};
    d = Decode(entry(thirtyTwo));
    EXPECT_EQ(d.At(0, 1), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(d.At(1, 1), kWhite);
    EXPECT_EQ(d.At(2, 0), (std::vector<uint8_t>{16, 17, 18}));
}

TEST_F(IcoReaderTest, SixteenBitEntriesScaleLikeBitmapFiles) {
    // 5-5-5: white, pure red, blue 16 -> 132; the same values a 16-bit BMP file gives.
    BitmapSpec s;
    s.width = 3, s.bitCount = 16;
    s.pixels = {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x00, 0, 0};
    s.mask.assign(4, 0);
    IconEntry e;
    e.width = 3, e.height = 1, e.data = BitmapData(s);
    Decoded d = Decode(BuildIcon({e}));
    EXPECT_EQ(d.At(0, 0), kWhite);
    EXPECT_EQ(d.At(1, 0), (std::vector<uint8_t>{0, 0, 255}));
    EXPECT_EQ(d.At(2, 0), (std::vector<uint8_t>{132, 0, 0}));

    // 5-6-5 bit fields after the header: green 0x3F -> 255, 0x20 -> 130.
    s.width = 2, s.compression = BI_BITFIELDS;
    s.colourBlock = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    s.pixels = {0xE0, 0x07, 0x00, 0x04};
    e.width = 2, e.data = BitmapData(s);
    d = Decode(BuildIcon({e}));
    EXPECT_EQ(d.At(0, 0), (std::vector<uint8_t>{0, 255, 0}));
    EXPECT_EQ(d.At(1, 0), (std::vector<uint8_t>{0, 130, 0}));
}

TEST_F(IcoReaderTest, CursorsDecodeLikeIconsAndAZeroWidthByteGivesNoPixels) {
    BuildGammaTables();
    IconEntry cursor = Solid(4, 32, 0x123456);
    cursor.planes = 2;    // hot spot x
    cursor.bitCount = 3;  // hot spot y
    CImage image;
    image.LoadNow(Write(BuildIcon({cursor}, 2), ".cur"), 100, 100);
    ASSERT_EQ(image.GetWidth(), 4);
    EXPECT_EQ(image.GetHeight(), 4);
    EXPECT_EQ(image.displayBuffer[0], 0x56);
    EXPECT_EQ(image.displayBuffer[2], 0x12);

    // A 256-pixel entry, PNG or bitmap, is stored with width byte 0: nothing to show.
    IconEntry wide = Solid(4, 32, 0x123456);
    wide.width = 0;
    Decoded d = Decode(BuildIcon({wide}));
    EXPECT_EQ(d.header.biWidth, 0);
    EXPECT_EQ(d.header.biHeight, 4);
    RecordingWindow window;
    image.notifyWindow = &window;
    image.LoadNow(Write(BuildIcon({wide})), 100, 100);
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(window.Count(WM_IMAGE_DONE), 1);
}

TEST_F(IcoReaderTest, EntryDataAreReadOnlyAsFarAsTheyGo) {
    const IconEntry good = Solid(8, 32, 0x808080);
    const std::string file = BuildIcon({good});
    ASSERT_EQ(Decode(file).header.biWidth, 8);

    // Cut after three of the eight colour rows: those rows show, the rest stay black, and the
    // missing mask masks nothing.
    Decoded d = Decode(file.substr(0, 22 + 40 + 3 * 32));
    ASSERT_EQ(d.header.biWidth, 8);
    EXPECT_EQ(d.At(0, 7), Bgr(0x808080));
    EXPECT_EQ(d.At(7, 5), Bgr(0x808080));
    EXPECT_EQ(d.At(0, 4), kBlack);
    EXPECT_EQ(d.At(7, 0), kBlack);

    // A data size smaller than the bitmap: the same as a cut file.
    IconEntry small = good;
    small.sizeOverride = 40 + 3 * 32;
    EXPECT_EQ(Decode(BuildIcon({small})).picture, d.picture);

    // Data that are not there at all.
    IconEntry past = good;
    past.offsetOverride = 100000;
    EXPECT_EQ(Decode(BuildIcon({past})).header.biWidth, 0);
    EXPECT_EQ(Decode(file.substr(0, 22 + 20)).header.biWidth, 0);

    // A bitmap claiming 64 x 64 in an 8 x 8 entry is cut to the entry, in its own row layout.
    BitmapSpec big;
    big.width = big.height = 64;
    big.pixels.assign(64 * 64 * 4, 0x33);
    big.mask.assign(8 * 64, 0);
    IconEntry claims = good;
    claims.data = BitmapData(big);
    d = Decode(BuildIcon({claims}));
    EXPECT_EQ(d.header.biWidth, 8);
    EXPECT_EQ(d.At(7, 0), Bgr(0x333333));

    // Header sizes and counts that would overflow or reach far outside the data.
    BitmapSpec absurd;
    absurd.bitCount = 8;
    absurd.clrUsed = 0xFFFFFFFF;
    absurd.width = 0x7FFFFFFF;
    absurd.height = 0x3FFFFFFF;
    absurd.pixels.assign(64, 1);
    claims.data = BitmapData(absurd);
    d = Decode(BuildIcon({claims}));
    EXPECT_EQ(d.header.biWidth, 8);
    EXPECT_EQ(d.At(0, 0), kBlack);

    auto refused = [&](const std::string& bytes) { return Decode(bytes).header.biWidth == 0; };
    EXPECT_TRUE(refused(file.substr(0, 6)));
    EXPECT_TRUE(refused(BuildIcon({good}, 3)));
    EXPECT_TRUE(refused(BuildIcon({good}, 1, 0)));
    EXPECT_TRUE(refused(file.substr(0, 10)));  // no whole entry
    CIcoReader missing(dir_.file("missing.ico"));
    missing.OpenFile();
    EXPECT_EQ(missing.header.bmiHeader.biWidth, 0);
    missing.Close();
}

// A PNG image (RGBA, top row first) as bytes, written with libpng's full interface so that it
// can be interlaced.
std::string PngBytes(int w, int h, const std::vector<uint8_t>& rgba, bool interlaced = false) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, size_t n) {
            static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
                 PNG_COLOR_TYPE_RGBA, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_bytep> rows;
    for (int y = 0; y < h; ++y)
        rows.push_back(const_cast<png_bytep>(rgba.data()) + static_cast<size_t>(y) * w * 4);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST_F(IcoReaderTest, PngEntriesAreBlendedOntoWhite) {
    // 2 x 2, top row: opaque red, fully transparent; bottom row: half-transparent blue, green.
    const std::vector<uint8_t> rgba = {255, 0, 0, 255, 9, 9, 9, 0, 0, 0, 255, 128, 0, 255, 0, 255};
    IconEntry e;
    e.width = e.height = 2;
    e.data = PngBytes(2, 2, rgba);
    Decoded d = Decode(BuildIcon({e}));
    ASSERT_EQ(d.header.biWidth, 2);
    EXPECT_EQ(d.header.biHeight, 2);
    EXPECT_EQ(d.At(0, 0), Bgr(0xFF0000));
    EXPECT_EQ(d.At(1, 0), kWhite);
    EXPECT_EQ(d.At(0, 1), (std::vector<uint8_t>{255, 127, 127}));
    EXPECT_EQ(d.At(1, 1), Bgr(0x00FF00));

    // A PNG larger than its entry is cut to the entry from the top left.
    std::vector<uint8_t> big(4 * 4 * 4, 255);
    big[4 * 1 + 0] = 0;  // (1, 0) cyan
    e.data = PngBytes(4, 4, big);
    d = Decode(BuildIcon({e}));
    EXPECT_EQ(d.At(1, 0), Bgr(0x00FFFF));
    EXPECT_EQ(d.At(1, 1), kWhite);

    // Interlaced PNGs give the same picture.
    e.width = e.height = 2;
    e.data = PngBytes(2, 2, rgba, true);
    EXPECT_EQ(Decode(BuildIcon({e})).picture, Decode(BuildIcon({[&] {
                                                  IconEntry plain = e;
                                                  plain.data = PngBytes(2, 2, rgba);
                                                  return plain;
                                              }()}))
                                                  .picture);

    // Cut short: the rows decoded so far, the rest black. The cut falls in the second of the
    // two data chunks, so the rows of the first are there.
    std::vector<uint8_t> noisy(64 * 64 * 4);
    uint32_t seed = 12345;
    for (uint8_t& v : noisy) v = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
    for (size_t i = 3; i < noisy.size(); i += 4) noisy[i] = 255;
    e.width = e.height = 64;
    e.data = PngBytes(64, 64, noisy);
    e.data.resize(e.data.size() * 3 / 4);
    d = Decode(BuildIcon({e}));
    ASSERT_EQ(d.header.biWidth, 64);
    EXPECT_EQ(d.At(0, 0), (std::vector<uint8_t>{noisy[2], noisy[1], noisy[0]}));
    EXPECT_EQ(d.At(5, 20),
              (std::vector<uint8_t>{noisy[(20 * 64 + 5) * 4 + 2], noisy[(20 * 64 + 5) * 4 + 1],
                                    noisy[(20 * 64 + 5) * 4]}));
    EXPECT_EQ(d.At(5, 63), kBlack);
    // An interlaced one keeps what its passes reached: the first pixel, not the last.
    e.data = PngBytes(64, 64, noisy, true);
    e.data.resize(e.data.size() * 3 / 4);
    d = Decode(BuildIcon({e}));
    EXPECT_EQ(d.At(0, 0), (std::vector<uint8_t>{noisy[2], noisy[1], noisy[0]}));
    EXPECT_EQ(d.At(63, 63), kBlack);

    // Only the signature: nothing to show.
    e.data = e.data.substr(0, 8);
    EXPECT_EQ(Decode(BuildIcon({e})).header.biWidth, 0);
}

TEST(IcoGoldenTest, CorpusIconsMatchTheirReferencesExactly) {
    BuildGammaTables();
    const std::pair<const char*, const char*> cases[] = {
        {"ico/misc/graphicsmagick_favicon.ico", "graphicsmagick_favicon.ico"},  // 4 bits
        {"ico/nsis/classic-install.ico", "classic-install.ico"},  // 4 bits, 16 colours
        {"ico/nsis/llama-blue.ico", "llama-blue.ico"},            // 8 bits
        {"ico/nsis/arrow-install.ico", "arrow-install.ico"},
        {"ico/nsis/pixel-install.ico", "pixel-install.ico"},
        {"ico/nsis/nsis3-install.ico", "nsis3-install.ico"},        // beside 256-pixel PNG entries
        {"ico/misc/sdl2image_sample.ico", "sdl2image_sample.ico"},  // 24 bits
        {"cur/misc/sdl2image_sample.cur", "sdl2image_sample.ico"},  // the same picture as a cursor
        {"ico/nsis/modern-install.ico", "modern-install.ico"},      // 32 bits
        {"ico/nsis/orange-install.ico", "orange-install.ico"},
        {"ico/nsis/nsis-menu.ico", "nsis-menu.ico"},
    };
    for (const auto& [corpus, reference] : cases) {
        RefImage ref;
        ASSERT_TRUE(LoadReferencePng(ReferencePath(std::string("ico/") + reference + ".png"), ref))
            << reference;
        CImage image;
        image.LoadNow(CorpusPath(corpus), 1 << 30, 1 << 30);
        const PixelDiff diff = CompareWithReference(image, ref);
        EXPECT_TRUE(diff.sameSize) << corpus;
        EXPECT_EQ(diff.maxDiff, 0) << corpus;
    }
    // The corpus's own references show transparency as alpha; fully transparent is white here.
    for (const char* name : {"squares.ico", "bug785447.ico"}) {
        RefImage ref;
        ASSERT_TRUE(LoadReferencePng(
            CorpusPath(std::string("ico/gdk-pixbuf-reftests/") + name + ".ref.png"), ref));
        ASSERT_EQ(ref.channels, 4);
        for (size_t i = 0; i < ref.pixels.size(); i += 4)
            if (ref.pixels[i + 3] == 0) ref.pixels[i] = ref.pixels[i + 1] = ref.pixels[i + 2] = 255;
        CImage image;
        image.LoadNow(CorpusPath(std::string("ico/gdk-pixbuf-reftests/") + name), 1 << 30, 1 << 30);
        const PixelDiff diff = CompareWithReference(image, ref);
        EXPECT_TRUE(diff.sameSize) << name;
        EXPECT_EQ(diff.maxDiff, 0) << name;
    }
}

TEST(IcoDamageTest, CorpusAndTruncatedFilesDecodeAndFinish) {
    BuildGammaTables();
    int files = 0;
    std::vector<std::string> paths;
    for (const char* folder : {"ico", "cur", "malformed"})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(CorpusPath(folder)))
            if (entry.path().extension() == ".ico" || entry.path().extension() == ".cur")
                paths.push_back(entry.path().string());
    for (const std::string& path : paths) {
        ++files;
        CImage image;
        image.LoadNow(path, 1 << 30, 1 << 30);
        if (path.find("malformed") == std::string::npos) {
            EXPECT_GT(image.GetWidth(), 0) << path;
        }
        image.LoadNow(path, 20, 20);
    }
    EXPECT_GE(files, 43);

    TempDir dir;
    for (const char* name : {"ico/nsis/orange-install.ico", "ico/misc/graphicsmagick_favicon.ico",
                             "cur/misc/sdl2image_sample.cur"}) {
        const std::string bytes = ReadFileBytes(CorpusPath(name));
        const std::string path =
            dir.file(std::string("cut") + std::filesystem::path(name).extension().string());
        CImage whole;
        whole.LoadNow(CorpusPath(name), 1 << 30, 1 << 30);
        const size_t step = std::max<size_t>(1, bytes.size() / 151);
        for (size_t cut = 0; cut < bytes.size(); cut += step) {
            WriteFileBytes(path, bytes.substr(0, cut));
            RecordingWindow window;
            CImage part;
            part.notifyWindow = &window;
            part.LoadNow(path, 1 << 30, 1 << 30);
            EXPECT_EQ(window.Count(WM_IMAGE_DONE), 1) << name << " cut at " << cut;
            if (part.GetWidth() > 0) {
                EXPECT_EQ(part.GetWidth(), whole.GetWidth()) << name << " cut at " << cut;
                EXPECT_EQ(part.GetHeight(), whole.GetHeight()) << name << " cut at " << cut;
            }
        }
    }
}

}  // namespace
