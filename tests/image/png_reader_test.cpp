#include "image/png_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "image/image.h"
#include "image/resample.h"
#include "settings/settings.h"
#include "support/orientation.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct PngDesc {
    uint32_t width = 1, height = 1;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;  // tRNS of a palette file
    std::vector<uint8_t> rows;           // packed as the file stores them, top row first
    std::string exif;                    // an eXIf chunk before the image data when not empty
};

void AppendBytes(png_structp png, png_bytep data, size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

// Writes a PNG with libpng's writer, exactly as specified (no transformation).
std::string EncodePng(const PngDesc& desc) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendBytes, nullptr);
    png_set_IHDR(png, info, desc.width, desc.height, desc.bitDepth, desc.colourType,
                 desc.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!desc.palette.empty())
        png_set_PLTE(png, info, desc.palette.data(), static_cast<int>(desc.palette.size()));
    if (!desc.paletteAlpha.empty())
        png_set_tRNS(png, info, desc.paletteAlpha.data(),
                     static_cast<int>(desc.paletteAlpha.size()), nullptr);
    if (!desc.exif.empty())
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(desc.exif.size()),
                       reinterpret_cast<png_bytep>(const_cast<char*>(desc.exif.data())));
    png_write_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_bytep> rows(desc.height);
    for (uint32_t y = 0; y < desc.height; ++y)
        rows[y] = const_cast<uint8_t*>(desc.rows.data()) + y * rowBytes;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

PngDesc Desc(uint32_t width, uint32_t height, int colourType, int bitDepth) {
    PngDesc desc;
    desc.width = width, desc.height = height, desc.colourType = colourType,
    desc.bitDepth = bitDepth;
    return desc;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

uint32_t Be32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(
        static_cast<uint8_t>(s[at]) << 24 | static_cast<uint8_t>(s[at + 1]) << 16 |
        static_cast<uint8_t>(s[at + 2]) << 8 | static_cast<uint8_t>(s[at + 3]));
}

// Recomputes the CRC of every whole chunk, so that damage reaches the decoder behind the check.
void FixCrcs(std::string& bytes) {
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = Be32(bytes, at);
        if (length > bytes.size() - at - 12) break;
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + at + 4), length + 4));
        for (int i = 0; i < 4; ++i)
            bytes[at + 8 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

const uint8_t* DisplayRow(const CImage& image, int y) {
    return image.displayBuffer + static_cast<size_t>(y) * image.displayStride;
}

std::vector<uint8_t> Pixel(const CImage& image, int x, int y) {
    const int bpp = image.displayHeader.bmiHeader.biBitCount / 8;
    const uint8_t* p = DisplayRow(image, y) + static_cast<size_t>(x) * bpp;
    return {p, p + bpp};
}

class PngReaderTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }

    std::string Write(const std::string& bytes) {
        const std::string file = dir_.file("t" + std::to_string(counter_++) + ".png");
        WriteFileBytes(file, bytes);
        return file;
    }
    void Load(CImage& image, const std::string& bytes) {
        image.LoadNow(Write(bytes), 1 << 30, 1 << 30);
    }

    TempDir dir_;
    int counter_ = 0;
};

TEST_F(PngReaderTest, EachColourTypeGivesItsDeclaredPixels) {
    CImage image;

    // Palette with transparency: opaque 24-bit B, G, R, the alpha dropped.
    PngDesc palette = Desc(2, 1, PNG_COLOR_TYPE_PALETTE, 8);
    palette.palette = {{10, 20, 30}, {40, 50, 60}};
    palette.paletteAlpha = {0, 128};
    palette.rows = {1, 0};
    Load(image, EncodePng(palette));
    ASSERT_EQ(image.displayHeader.bmiHeader.biBitCount, 24);
    EXPECT_EQ(image.displayHeader.bmiHeader.biHeight, -1);
    EXPECT_EQ(Pixel(image, 0, 0), (std::vector<uint8_t>{60, 50, 40}));
    EXPECT_EQ(Pixel(image, 1, 0), (std::vector<uint8_t>{30, 20, 10}));

    // One-bit grey: 0 or 255.
    PngDesc bits = Desc(9, 1, PNG_COLOR_TYPE_GRAY, 1);
    bits.rows = {0xA5, 0x80};  // 1010 0101 1
    Load(image, EncodePng(bits));
    ASSERT_EQ(image.displayHeader.bmiHeader.biBitCount, 24);
    const uint8_t expected[9] = {255, 0, 255, 0, 0, 255, 0, 255, 255};
    for (int x = 0; x < 9; ++x)
        EXPECT_EQ(Pixel(image, x, 0), std::vector<uint8_t>(3, expected[x])) << x;

    // Sixteen-bit RGB: the high byte of each sample, never rounded up.
    PngDesc deep = Desc(1, 1, PNG_COLOR_TYPE_RGB, 16);
    deep.rows = {0x12, 0xFF, 0x34, 0x80, 0xAB, 0x01};
    Load(image, EncodePng(deep));
    ASSERT_EQ(image.displayHeader.bmiHeader.biBitCount, 24);
    EXPECT_EQ(Pixel(image, 0, 0), (std::vector<uint8_t>{0xAB, 0x34, 0x12}));

    // Grey with alpha: grey in all three bytes, the alpha dropped.
    PngDesc greyAlpha = Desc(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8);
    greyAlpha.rows = {77, 3};
    Load(image, EncodePng(greyAlpha));
    ASSERT_EQ(image.displayHeader.bmiHeader.biBitCount, 24);
    EXPECT_EQ(Pixel(image, 0, 0), (std::vector<uint8_t>{77, 77, 77}));

    // RGBA: B, G, R, A with the colour of transparent pixels kept, not blended.
    PngDesc alpha = Desc(2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8);
    alpha.rows = {10, 20, 30, 0, 200, 100, 50, 128};
    Load(image, EncodePng(alpha));
    ASSERT_EQ(image.displayHeader.bmiHeader.biBitCount, 32);
    EXPECT_EQ(image.displayStride, 8);
    EXPECT_EQ(Pixel(image, 0, 0), (std::vector<uint8_t>{30, 20, 10, 0}));
    EXPECT_EQ(Pixel(image, 1, 0), (std::vector<uint8_t>{50, 100, 200, 128}));
}

TEST_F(PngReaderTest, InterlacedFilesArriveWholeOnTheFirstCallAndMatchTheirTwins) {
    for (int colourType : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
        const int bpp = colourType == PNG_COLOR_TYPE_RGB ? 3 : 4;
        PngDesc desc = Desc(36, 23, colourType, 8);
        desc.rows = RandomBytes(36 * 23 * bpp, 7);
        const std::string plain = Write(EncodePng(desc));
        desc.interlaced = true;
        const std::string interlaced = Write(EncodePng(desc));

        CPngReader reader(interlaced);
        reader.OpenFile();
        ASSERT_EQ(reader.header.bmiHeader.biHeight, -23);
        EXPECT_TRUE(reader.allRowsAtOnce);
        const size_t stride = DibStride(36, bpp * 8);
        std::vector<uint8_t> rows(stride * 23 + 1, 0);
        uint8_t* first = rows.data();
        EXPECT_EQ(reader.NextLine(&first), 0);
        for (int y = 0; y < 23; ++y) {  // every row is there after the first call
            for (int x = 0; x < 36; ++x) {
                const uint8_t* out = rows.data() + y * stride + x * bpp;
                const uint8_t* in = desc.rows.data() + (y * 36 + x) * bpp;
                ASSERT_EQ(out[0], in[2]) << y << " " << x;
                ASSERT_EQ(out[1], in[1]) << y << " " << x;
                ASSERT_EQ(out[2], in[0]) << y << " " << x;
                if (bpp == 4) {
                    ASSERT_EQ(out[3], in[3]) << y << " " << x;
                }
            }
        }
        reader.Close();
        CPngReader plainReader(plain);
        plainReader.OpenFile();
        EXPECT_FALSE(plainReader.allRowsAtOnce);
        plainReader.Close();

        CImage a, b;
        a.LoadNow(plain, 1 << 30, 1 << 30);
        b.LoadNow(interlaced, 1 << 30, 1 << 30);
        ASSERT_EQ(a.GetWidth(), 36);
        ASSERT_EQ(b.GetWidth(), 36);
        EXPECT_EQ(0, std::memcmp(a.displayBuffer, b.displayBuffer, stride * 23));

        // Reduced, through the box path, the two give the same picture too.
        a.LoadNow(plain, 10, 10);
        b.LoadNow(interlaced, 10, 10);
        ASSERT_EQ(a.GetHeight(), b.GetHeight());
        EXPECT_EQ(0, std::memcmp(a.displayBuffer, b.displayBuffer,
                                 static_cast<size_t>(a.displayStride) * a.GetHeight()));
    }
}

TEST_F(PngReaderTest, CorpusFilesMatchTheirReferencesExactly) {
    int compared = 0;
    for (const auto& [ref, relative] : CorpusReferences("png")) {
        RefImage expected;
        ASSERT_TRUE(LoadReferencePng(ref, expected)) << ref;
        CImage image;
        image.LoadNow(CorpusPath(relative), 1 << 30, 1 << 30);
        const bool alpha = image.displayHeader.bmiHeader.biBitCount == 32;
        EXPECT_EQ(alpha, expected.channels == 4) << relative;
        const PixelDiff diff = CompareWithReference(image, expected, true);
        EXPECT_TRUE(diff.sameSize) << relative;
        EXPECT_EQ(diff.maxDiff, 0) << relative;
        ++compared;
    }
    EXPECT_GE(compared, 50);
}

TEST_F(PngReaderTest, EveryCorpusPngDecodesOrIsRefused) {
    // Files broken before their first row; everything else gives a picture.
    const std::vector<std::string> unreadable = {"bug793470-crasher.png", "invalid.1.png",
                                                 "invalid.3.png", "invalid.4.png",
                                                 "invalid-crc32.png"};
    int files = 0;
    testing::internal::CaptureStderr();
    for (const char* folder : {"png", "malformed"}) {
        for (const auto& entry : fs::recursive_directory_iterator(CorpusPath(folder))) {
            const std::string name = entry.path().filename().string();
            if (!name.ends_with(".png")) continue;
            ++files;
            CImage image;
            image.LoadNow(entry.path().string(), 1 << 30, 1 << 30);
            EXPECT_TRUE(image.done) << name;
            const bool refused =
                std::find(unreadable.begin(), unreadable.end(), name) != unreadable.end();
            EXPECT_EQ(image.GetWidth() == 0, refused) << name;
            image.LoadNow(entry.path().string(), 19, 19);
            EXPECT_TRUE(image.done) << name;
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // libpng printed nothing
    EXPECT_GE(files, 75);
}

// The file ends inside its only IDAT chunk. Another decoder's rendering ships beside it.
TEST_F(PngReaderTest, ATruncatedFileKeepsItsRowsAndLeavesTheRestUntouched) {
    RefImage ref;
    ASSERT_TRUE(LoadReferencePng(CorpusPath("png/gdk-pixbuf-edge/bug696331.png.ref.png"), ref));
    CImage image;
    image.LoadNow(CorpusPath("png/gdk-pixbuf-edge/bug696331.png"), 1 << 30, 1 << 30);
    EXPECT_TRUE(image.done);
    ASSERT_EQ(image.GetWidth(), 96);
    ASSERT_EQ(ref.channels, 4);
    int matching = 0;
    while (matching < 96) {
        const uint8_t* row = DisplayRow(image, matching);
        const uint8_t* refRow = ref.pixels.data() + static_cast<size_t>(matching) * 96 * 4;
        bool same = true;
        for (int x = 0; x < 96 && same; ++x)
            same = row[4 * x] == refRow[4 * x + 2] && row[4 * x + 1] == refRow[4 * x + 1] &&
                   row[4 * x + 2] == refRow[4 * x] && row[4 * x + 3] == refRow[4 * x + 3];
        if (!same) break;
        ++matching;
    }
    EXPECT_GE(matching, 14);  // the file holds about 17 rows
    const std::vector<uint8_t> untouched(96 * 4, 0);
    for (int y = matching; y < 96; ++y)
        ASSERT_EQ(0, std::memcmp(DisplayRow(image, y), untouched.data(), untouched.size())) << y;
}

TEST_F(PngReaderTest, TruncatedFilesKeepTheRowsTheyHold) {
    PngDesc desc = Desc(300, 200, PNG_COLOR_TYPE_RGB, 8);
    desc.rows = RandomBytes(300 * 200 * 3, 11);  // incompressible: data spreads evenly over rows
    const std::string whole = EncodePng(desc);
    CImage full;
    Load(full, whole);
    ASSERT_EQ(full.GetHeight(), 200);
    testing::internal::CaptureStderr();
    for (int step = 0; step < 50; ++step) {
        const size_t cut = whole.size() * step / 50 + step % 7;
        CImage image;
        Load(image, whole.substr(0, cut));
        EXPECT_TRUE(image.done) << cut;
        if (image.GetWidth() == 0) continue;
        ASSERT_EQ(image.GetHeight(), 200);
        const int kept = static_cast<int>(200.0 * step / 50) - 2;
        for (int y = 0; y < kept; ++y)
            ASSERT_EQ(0, std::memcmp(DisplayRow(image, y), DisplayRow(full, y), 900))
                << cut << " " << y;
        const std::vector<uint8_t> untouched(900, 0);
        EXPECT_EQ(0, std::memcmp(DisplayRow(image, 199), untouched.data(), 900)) << cut;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(PngReaderTest, HostileOrForeignFilesDeclareNothing) {
    PngDesc desc = Desc(4, 4, PNG_COLOR_TYPE_RGB, 8);
    desc.rows = RandomBytes(48, 3);
    const std::string good = EncodePng(desc);
    // IHDR's width and height, with its CRC redone so that only the size is wrong.
    auto resized = [&](uint32_t w, uint32_t h) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) {
            bytes[16 + i] = static_cast<char>(w >> (24 - 8 * i));
            bytes[20 + i] = static_cast<char>(h >> (24 - 8 * i));
        }
        FixCrcs(bytes);
        return bytes;
    };
    const std::string cases[] = {resized(20000, 20000), resized(1u << 21, 1), "",
                                 "\x89PNG\r\n\x1a\n", "\xFF\xD8\xFF\xE0 not a png"};
    for (const std::string& bytes : cases) {
        CPngReader reader(Write(bytes));
        reader.OpenFile();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0) << bytes.size();
        EXPECT_EQ(reader.header.bmiHeader.biHeight, 0) << bytes.size();
        uint8_t buffer[64] = {};
        uint8_t* row = buffer;
        reader.NextLine(&row);
        EXPECT_EQ(reader.lineCounter, -1);
        reader.Close();
    }
    CPngReader ok(Write(resized(4, 4)));
    ok.OpenFile();
    EXPECT_EQ(ok.header.bmiHeader.biWidth, 4);
}

TEST_F(PngReaderTest, DamagedFilesLoadWithoutHarm) {
    const char* samples[] = {
        "png/pngsuite-go-subset/basn3p04-31i.png", "png/pngsuite-go-subset/basn6a16.png",
        "png/pngsuite-go-subset/basn0g01.png", "png/go-png-testdata/benchPaletted.png",
        "png/gdk-pixbuf-edge/dpi.png"};
    std::mt19937 random(5);
    testing::internal::CaptureStderr();
    for (const char* sample : samples) {
        const std::string whole = ReadFileBytes(CorpusPath(sample));
        ASSERT_FALSE(whole.empty()) << sample;
        for (int round = 0; round < 30; ++round) {
            std::string bytes = whole;
            for (int i = 0; i < 1 + round % 6; ++i)
                bytes[random() % bytes.size()] = static_cast<char>(random());
            if (round % 2 == 0) FixCrcs(bytes);
            if (round % 3 == 0) bytes.resize(random() % bytes.size());
            CImage image;
            image.LoadNow(Write(bytes), 1 << 30, 1 << 30);
            EXPECT_TRUE(image.done) << sample << " " << round;
            image.LoadNow(Write(bytes), 21, 21);
            EXPECT_TRUE(image.done) << sample << " " << round;
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace

TEST_F(PngReaderTest, ExifOrientationsAreShownUprightWithAndWithoutInterlacing) {
    for (int colourType : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
        for (bool interlaced : {false, true}) {
            // Odd sizes, more rows than one strip and more columns than one tile of the turning.
            PngDesc desc = Desc(41, 37, colourType, 8);
            desc.interlaced = interlaced;
            desc.rows = RandomBytes(41 * 37 * (colourType == PNG_COLOR_TYPE_RGB ? 3 : 4), 17);
            CImage stored;
            Load(stored, EncodePng(desc));
            const RgbPicture asStored = ShownPixels(stored);
            ASSERT_EQ(asStored.height, 37);
            // Reduced into a box whose sides scale it unequally, as batch resize loads: the
            // stored picture's reduction, turned.
            CImage storedSmall;
            storedSmall.streamSource = true;
            storedSmall.LoadNow(Write(EncodePng(desc)), 13, 9);
            const RgbPicture smallAsStored = ShownPixels(storedSmall);
            for (int o = 1; o <= 8; ++o) {
                desc.exif = ExifBlock(o, o % 2 == 0);
                CImage image;
                Load(image, EncodePng(desc));
                const RgbPicture got = ShownPixels(image);
                EXPECT_EQ(got.width, Oriented(asStored, o).width) << o;
                EXPECT_EQ(got.bytes, Oriented(asStored, o).bytes)
                    << "orientation " << o << " colour type " << colourType << " interlaced "
                    << interlaced;
                if (o < 5) continue;
                CImage small;
                small.streamSource = true;
                small.LoadNow(Write(EncodePng(desc)), 9, 13);
                EXPECT_EQ(ShownPixels(small).bytes, Oriented(smallAsStored, o).bytes)
                    << "reduced, orientation " << o << " colour type " << colourType;
            }
            // Turned off, or damaged: as stored.
            desc.exif = ExifBlock(6, false).substr(0, 20);
            CImage damaged;
            Load(damaged, EncodePng(desc));
            EXPECT_EQ(ShownPixels(damaged).bytes, asStored.bytes);
            desc.exif = ExifBlock(6, false);
            WriteSetting(settings::kApplyOrientation, 0);
            CImage raw;
            Load(raw, EncodePng(desc));
            WriteSetting(settings::kApplyOrientation, 1);
            EXPECT_EQ(ShownPixels(raw).bytes, asStored.bytes);
        }
    }
}
