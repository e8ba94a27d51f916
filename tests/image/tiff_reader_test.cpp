#include "image/tiff_reader.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "image/image.h"
#include "image/resample.h"
#include "settings/settings.h"
#include "support/orientation.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace {

// The display image as R, G, B bytes, top row first, and the fourth bytes when it has them.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    std::vector<uint8_t> fourth;
};

Pixels TopDown(const CImage& image) {
    Pixels out;
    out.width = image.GetWidth();
    out.height = image.GetHeight();
    const int bpp = image.displayHeader.bmiHeader.biBitCount / 8;
    const bool bottomUp = image.displayHeader.bmiHeader.biHeight > 0;
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* row =
            image.displayBuffer +
            static_cast<size_t>(bottomUp ? out.height - 1 - y : y) * image.displayStride;
        for (int x = 0; x < out.width; ++x) {
            const uint8_t* p = row + x * bpp;
            out.rgb.insert(out.rgb.end(), {p[2], p[1], p[0]});
            if (bpp == 4) out.fourth.push_back(p[3]);
        }
    }
    return out;
}

uint64_t Fnv1a64(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

// A TIFF written with libtiff: one entry per page.
struct Page {
    uint32_t width = 1, height = 1;
    uint16_t samples = 3, bits = 8, photometric = PHOTOMETRIC_RGB;
    uint16_t extra = 0;               // EXTRASAMPLE_* of a fourth sample, 0 for none
    std::vector<uint16_t> colourMap;  // red, green, blue tables of a palette page
    std::vector<uint8_t> data;        // rows top first, samples interleaved
    uint16_t orientation = 0;         // the Orientation tag when not 0
    uint16_t compression = COMPRESSION_NONE;
};

void WriteTiff(const std::string& path, const std::vector<Page>& pages) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (const Page& p : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.height);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
        if (p.orientation) TIFFSetField(tif, TIFFTAG_ORIENTATION, p.orientation);
        if (p.extra) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &p.extra);
        if (!p.colourMap.empty()) {
            const size_t n = p.colourMap.size() / 3;
            TIFFSetField(tif, TIFFTAG_COLORMAP, p.colourMap.data(), p.colourMap.data() + n,
                         p.colourMap.data() + 2 * n);
        }
        const size_t rowBytes = (static_cast<size_t>(p.width) * p.samples * p.bits + 7) / 8;
        ASSERT_EQ(p.data.size(), rowBytes * p.height);
        for (uint32_t y = 0; y < p.height; ++y) {
            std::vector<uint8_t> row(p.data.begin() + y * rowBytes,
                                     p.data.begin() + (y + 1) * rowBytes);
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

// A minimal little-endian grey TIFF written byte by byte, for headers libtiff would not write.
// Compressed pictures are one bit a pixel. With more than one strip, every strip has the same
// offset and byte count.
std::string HandMadeTiff(uint32_t width, uint32_t height, uint32_t stripOffset, uint32_t stripBytes,
                         const std::string& pixels, uint32_t strips = 1,
                         uint16_t compression = COMPRESSION_NONE) {
    std::string out("II*\0\x08\0\0\0", 8);
    auto put16 = [&](uint16_t v) {
        out += static_cast<char>(v & 0xFF), out += static_cast<char>(v >> 8);
    };
    auto put32 = [&](uint32_t v) {
        put16(static_cast<uint16_t>(v)), put16(static_cast<uint16_t>(v >> 16));
    };
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value, uint32_t count = 1) {
        put16(tag), put16(type), put32(count);
        if (type == 3)
            put16(static_cast<uint16_t>(value)), put16(0);
        else
            put32(value);
    };
    put16(8);
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, compression == COMPRESSION_NONE ? 8 : 1);
    entry(259, 3, compression);
    entry(262, 3, 1);
    // The strip arrays of several strips follow the pixels.
    const uint32_t arrays = static_cast<uint32_t>(110 + pixels.size());
    entry(273, 4, strips > 1 ? arrays : stripOffset, strips);
    entry(278, 4, strips > 1 ? (height + strips - 1) / strips : height);
    entry(279, 4, strips > 1 ? arrays + 4 * strips : stripBytes, strips);
    put32(0);
    out += pixels;
    if (strips > 1) {
        for (uint32_t i = 0; i < strips; ++i) put32(stripOffset);
        for (uint32_t i = 0; i < strips; ++i) put32(stripBytes);
    }
    return out;
}

class TiffReaderTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }
    std::string File(const std::string& name) { return dir_.file(name); }
    std::string CopyAsTif(const std::string& corpusRelative) {
        const std::string to = File(std::filesystem::path(corpusRelative).stem().string() + ".tif");
        std::filesystem::copy_file(CorpusPath(corpusRelative), to,
                                   std::filesystem::copy_options::overwrite_existing);
        return to;
    }
    TempDir dir_;
};

TEST_F(TiffReaderTest, EveryCorpusFileMatchesItsIndependentReference) {
    std::ifstream manifest(ReferencePath("tiff/MANIFEST"));
    ASSERT_TRUE(manifest) << "missing manifest";
    std::map<std::string, std::string> expected;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream words(line);
        std::string file, ref;
        if (line.empty() || line[0] == '#' || !(words >> file >> ref)) continue;
        expected[file] = ref;
    }
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(CorpusPath("tiff"))) {
        if (!entry.is_regular_file()) continue;
        const std::string relative =
            "tiff/" + std::filesystem::relative(entry.path(), CorpusPath("tiff")).string();
        ASSERT_TRUE(expected.count(relative)) << relative << " has no reference";
        ++files;
        const std::string path = CopyAsTif(relative);
        CImage image;
        image.LoadNow(path, 1 << 30, 1 << 30);
        ASSERT_TRUE(image.done) << relative;
        EXPECT_EQ(image.displayHeader.bmiHeader.biBitCount, 32) << relative;
        EXPECT_GT(image.displayHeader.bmiHeader.biHeight, 0) << relative;
        const std::string& ref = expected[relative];
        if (ref.rfind("fnv1a64:", 0) == 0) {
            char digest[17];
            std::snprintf(digest, sizeof digest, "%016llx",
                          static_cast<unsigned long long>(Fnv1a64(TopDown(image).rgb)));
            EXPECT_EQ(ref.substr(8), digest) << relative;
        } else {
            RefImage reference;
            ASSERT_TRUE(LoadReferencePng(ReferencePath("tiff/" + ref), reference)) << ref;
            const PixelDiff diff = CompareWithReference(image, reference);
            EXPECT_TRUE(diff.sameSize) << relative;
            EXPECT_EQ(diff.maxDiff, 0) << relative << ": " << diff.pixelsOff << " pixels differ";
        }
        // And once reduced, through the box path.
        image.LoadNow(path, 40, 40);
        EXPECT_GT(image.GetWidth(), 0) << relative;
    }
    EXPECT_EQ(files, static_cast<int>(expected.size()));

    for (const char* hostile : {"malformed/gdk-pixbuf-fail/bug780269.tif",
                                "malformed/gdk-pixbuf-fail/bug784903-overflow-dimensions.tiff"}) {
        CImage image;
        image.LoadNow(CopyAsTif(hostile), 100, 100);
        EXPECT_TRUE(image.done) << hostile;
    }
}

TEST_F(TiffReaderTest, DeclaresBottomUp32BitAndWritesEveryRowOnTheFirstCall) {
    Page page;
    page.width = 2;
    page.height = 3;
    page.data = {10, 11, 12, 13, 14, 15,   // top row
                 20, 21, 22, 23, 24, 25,   //
                 30, 31, 32, 33, 34, 35};  // bottom row
    const std::string path = File("rows.tif");
    WriteTiff(path, {page});

    auto reader = CreateReader(path);
    ASSERT_NE(dynamic_cast<CTiffReader*>(reader.get()), nullptr);
    EXPECT_EQ(CreateReader(File("rows.tiff")), nullptr);  // four letters: not read
    reader->OpenFile();
    EXPECT_TRUE(reader->allRowsAtOnce);
    EXPECT_FALSE(reader->rgbOrder);
    EXPECT_EQ(reader->header.bmiHeader.biWidth, 2);
    EXPECT_EQ(reader->header.bmiHeader.biHeight, 3);
    EXPECT_EQ(reader->header.bmiHeader.biBitCount, 32);

    std::vector<uint8_t> buffer(2 * 4 * 3, 0xEE);
    uint8_t* row = buffer.data();
    reader->NextLine(&row);
    // The bottom row first, B G R and an opaque fourth byte.
    const std::vector<uint8_t> expected = {32, 31, 30, 255, 35, 34, 33, 255, 22, 21, 20, 255,
                                           25, 24, 23, 255, 12, 11, 10, 255, 15, 14, 13, 255};
    EXPECT_EQ(buffer, expected);
    // Later calls only count, up to the last row, and never write.
    std::vector<uint8_t> other(8, 0x77);
    row = other.data();
    for (int i = 0; i < 5; ++i) reader->NextLine(&row);
    EXPECT_EQ(reader->lineCounter, 2);
    EXPECT_EQ(other, std::vector<uint8_t>(8, 0x77));
    reader->Close();
}

TEST_F(TiffReaderTest, MultiPageFilesShowTheirFirstPage) {
    Page first;
    first.width = 3;
    first.height = 2;
    first.data.assign(3 * 2 * 3, 0);
    for (size_t i = 0; i < first.data.size(); i += 3) first.data[i] = 200;  // red
    Page second;
    second.width = 5;
    second.height = 5;
    second.data.assign(5 * 5 * 3, 90);
    const std::string path = File("pages.tif");
    WriteTiff(path, {first, second});

    CImage image;
    image.LoadNow(path, 1 << 30, 1 << 30);
    const Pixels px = TopDown(image);
    ASSERT_EQ(px.width, 3);
    ASSERT_EQ(px.height, 2);
    for (size_t i = 0; i < px.rgb.size(); i += 3)
        EXPECT_EQ((std::vector<uint8_t>{px.rgb[i], px.rgb[i + 1], px.rgb[i + 2]}),
                  (std::vector<uint8_t>{200, 0, 0}));
}

TEST_F(TiffReaderTest, AlphaIsNeitherBlendedNorKeptAndTheFourthByteIsOpaque) {
    // Unassociated alpha: the colours stay as stored even where the pixel is fully transparent.
    Page page;
    page.width = 3;
    page.samples = 4;
    page.photometric = PHOTOMETRIC_RGB;
    page.extra = EXTRASAMPLE_UNASSALPHA;
    page.data = {200, 100, 50, 0, 200, 100, 50, 128, 200, 100, 50, 255};
    const std::string path = File("alpha.tif");
    WriteTiff(path, {page});
    CImage image;
    image.LoadNow(path, 1 << 30, 1 << 30);
    Pixels px = TopDown(image);
    ASSERT_EQ(px.width, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ((std::vector<uint8_t>{px.rgb[3 * i], px.rgb[3 * i + 1], px.rgb[3 * i + 2]}),
                  (std::vector<uint8_t>{200, 100, 50}))
            << "pixel " << i;
        EXPECT_EQ(px.fourth[i], 255) << "pixel " << i;
    }

    // Associated alpha: the stored (already multiplied) colours are shown as they are.
    page.extra = EXTRASAMPLE_ASSOCALPHA;
    page.data = {100, 50, 25, 128, 0, 0, 0, 0, 1, 2, 3, 255};
    WriteTiff(path, {page});
    image.LoadNow(path, 1 << 30, 1 << 30);
    px = TopDown(image);
    EXPECT_EQ(px.rgb, (std::vector<uint8_t>{100, 50, 25, 0, 0, 0, 1, 2, 3}));
}

TEST_F(TiffReaderTest, SixteenBitAndPaletteFilesShowAsEightBitColour) {
    Page deep;
    deep.width = 2;
    deep.bits = 16;
    const uint16_t samples[6] = {0xFFFF, 0x0000, 0x8080, 0x0101, 0x7F7F, 0xFEFE};
    deep.data.resize(12);
    std::memcpy(deep.data.data(), samples, sizeof samples);  // written in the machine's order
    const std::string path = File("deep.tif");
    WriteTiff(path, {deep});
    CImage image;
    image.LoadNow(path, 1 << 30, 1 << 30);
    EXPECT_EQ(TopDown(image).rgb, (std::vector<uint8_t>{255, 0, 128, 1, 127, 254}));

    Page palette;
    palette.width = 3;
    palette.samples = 1;
    palette.bits = 8;
    palette.photometric = PHOTOMETRIC_PALETTE;
    palette.colourMap.assign(3 * 256, 0);
    // Entry 1: (0xFFFF, 0x8080, 0), entry 2: (0, 0, 0x4040).
    palette.colourMap[1] = 0xFFFF, palette.colourMap[256 + 1] = 0x8080,
    palette.colourMap[512 + 2] = 0x4040;
    palette.data = {1, 2, 0};
    WriteTiff(path, {palette});
    image.LoadNow(path, 1 << 30, 1 << 30);
    EXPECT_EQ(TopDown(image).rgb, (std::vector<uint8_t>{255, 128, 0, 0, 0, 64, 0, 0, 0}));
}

TEST_F(TiffReaderTest, SizesTheProgramWillNotHoldDeclareNothing) {
    struct Case {
        uint32_t width, height, strips, dataBytes;
        uint16_t compression;
        const char* what;
    } cases[] = {
        {65536, 65536, 1, 4, COMPRESSION_NONE, "width x height x 4 overflows 32 bits"},
        {0x80000000u, 1, 1, 4, COMPRESSION_NONE, "width beyond a signed 32-bit header"},
        {1 << 15, (1 << 13) + 1, 1, 4, COMPRESSION_NONE,
         "more pixels than any picture the program holds"},
        {20000, 10000, 1, 4, COMPRESSION_NONE, "200 million pixels from four bytes of pixel data"},
        {3000, 2000, 2000, 3000, COMPRESSION_NONE, "2000 strips that all claim the same few bytes"},
        {3000, 2000, 1, 1000, COMPRESSION_CCITTFAX3,
         "one-dimensional fax rows of 3000 pixels in 4 bits"},
        {3000, 2000, 1, 1000, 42243, "a coding the library does not have"},
        {0, 4, 1, 4, COMPRESSION_NONE, "zero width"}};
    for (const Case& c : cases) {
        const std::string path = File("size.tif");
        const std::string data(c.dataBytes, '\x80');
        WriteFileBytes(
            path, HandMadeTiff(c.width, c.height, 110, c.dataBytes, data, c.strips, c.compression));
        CTiffReader reader(path);
        reader.OpenFile();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0) << c.what;
        EXPECT_EQ(reader.header.bmiHeader.biHeight, 0) << c.what;
        CImage image;
        image.LoadNow(path, 100, 100);
        EXPECT_TRUE(image.done) << c.what;
        EXPECT_EQ(image.GetWidth(), 0) << c.what;
    }
    // The same header with a sane size is read, so the cases above fail for their size alone.
    const std::string path = File("sane.tif");
    WriteFileBytes(path, HandMadeTiff(2, 2, 110, 4, std::string{10, 20, 30, 40}));
    CImage image;
    image.LoadNow(path, 1 << 30, 1 << 30);
    EXPECT_EQ(TopDown(image).rgb,
              (std::vector<uint8_t>{10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40}));
}

TEST_F(TiffReaderTest, LargePicturesOfFewCompressedBytesStillLoad) {
    // Blank pages, the data each coding packs tightest, beyond the size read whatever the data.
    struct Case {
        uint16_t compression, bits;
        const char* what;
    } cases[] = {{COMPRESSION_CCITTFAX4, 1, "fax group 4"},
                 {COMPRESSION_CCITTFAX3, 1, "fax group 3"},
                 {COMPRESSION_LZW, 1, "LZW, one bit"},
                 {COMPRESSION_LZW, 8, "LZW, grey"},
                 {COMPRESSION_ADOBE_DEFLATE, 8, "Deflate, grey"},
                 {COMPRESSION_PACKBITS, 1, "PackBits, one bit"}};
    for (const Case& c : cases) {
        Page page;
        page.width = 2400;
        page.height = 2000;
        page.samples = 1;
        page.bits = c.bits;
        page.photometric = PHOTOMETRIC_MINISBLACK;
        page.compression = c.compression;
        page.data.assign((page.width * c.bits + 7) / 8 * page.height, 0);
        const std::string path = File("blank.tif");
        WriteTiff(path, {page});
        CImage image;
        image.LoadNow(path, 1 << 30, 1 << 30);
        EXPECT_TRUE(image.done) << c.what;
        const Pixels px = TopDown(image);
        EXPECT_EQ(px.width, 2400) << c.what;
        EXPECT_EQ(px.height, 2000) << c.what;
        EXPECT_EQ(px.rgb, std::vector<uint8_t>(px.rgb.size(), 0)) << c.what;
    }
}

TEST_F(TiffReaderTest, PixelsTheLibraryCannotReadLeaveClearedRowsAndTheLoadEnds) {
    // The only strip lies beyond the end of the file.
    const std::string path = File("nostrip.tif");
    WriteFileBytes(path, HandMadeTiff(4, 3, 5000, 12, ""));
    CImage image;
    image.LoadNow(path, 1 << 30, 1 << 30);
    EXPECT_TRUE(image.done);
    const Pixels px = TopDown(image);
    ASSERT_EQ(px.width, 4);
    ASSERT_EQ(px.height, 3);
    EXPECT_EQ(px.rgb, std::vector<uint8_t>(4 * 3 * 3, 0));
    EXPECT_EQ(px.fourth, std::vector<uint8_t>(4 * 3, 0));
}

TEST_F(TiffReaderTest, TruncatedFilesEndTheLoadWithAllRowsOrNone) {
    // Directory at the end: every cut loses it and the file is refused.
    std::string whole = ReadFileBytes(CorpusPath("tiff/go-x-image/video-001-strip-64.tiff"));
    ASSERT_GT(whole.size(), 30000u);
    const std::string path = File("cut.tif");
    for (size_t length = 0; length < 30000; length += 613) {
        WriteFileBytes(path, whole.substr(0, length));
        CImage image;
        image.LoadNow(path, 1 << 30, 1 << 30);
        ASSERT_TRUE(image.done) << length;
        EXPECT_EQ(image.GetWidth(), 0) << length;
    }

    // Directory first: the size is known however short the pixels are; the picture is either
    // left cleared or decoded from its first row on.
    whole = ReadFileBytes(CorpusPath("tiff/rust-tiff/decodedata-rgb-3c-8b.tiff"));
    CImage complete;
    complete.LoadNow(CopyAsTif("tiff/rust-tiff/decodedata-rgb-3c-8b.tiff"), 1 << 30, 1 << 30);
    const Pixels full = TopDown(complete);
    ASSERT_EQ(full.width, 100);
    const std::vector<uint8_t> topRow(full.rgb.begin(), full.rgb.begin() + 300);
    int none = 0, all = 0;
    for (size_t length = 200; length < whole.size(); length += 997) {
        WriteFileBytes(path, whole.substr(0, length));
        CImage image;
        image.LoadNow(path, 1 << 30, 1 << 30);
        ASSERT_TRUE(image.done) << length;
        const Pixels px = TopDown(image);
        ASSERT_EQ(px.width, 100) << length;
        ASSERT_EQ(px.height, 100) << length;
        if (px.rgb == std::vector<uint8_t>(px.rgb.size(), 0)) {
            ++none;
        } else {
            ++all;
            EXPECT_TRUE(std::equal(topRow.begin(), topRow.end(), px.rgb.begin())) << length;
        }
        image.LoadNow(path, 30, 30);  // the box path over the same rows
        EXPECT_TRUE(image.done) << length;
    }
    EXPECT_GT(none, 0);
    EXPECT_GT(all, 0);
}

TEST_F(TiffReaderTest, TheLibraryPrintsNothing) {
    std::vector<std::string> files = {
        CopyAsTif("malformed/gdk-pixbuf-fail/bug780269.tif"),
        CopyAsTif("malformed/gdk-pixbuf-fail/bug784903-overflow-dimensions.tiff")};
    const std::string whole = ReadFileBytes(CorpusPath("tiff/rust-tiff/Transparency-lzw.tif"));
    for (size_t length : {8ul, 100ul, 2000ul, whole.size() - 50}) {
        files.push_back(File("cut" + std::to_string(length) + ".tif"));
        WriteFileBytes(files.back(), whole.substr(0, length));
    }
    files.push_back(File("nostrip.tif"));
    WriteFileBytes(files.back(), HandMadeTiff(4, 3, 5000, 12, ""));
    files.push_back(File("garbage.tif"));
    WriteFileBytes(files.back(), "MM\0*garbage that is not a directory");

    const std::string captured = File("stderr.txt");
    fflush(stderr);
    const int saved = dup(2);
    FILE* sink = fopen(captured.c_str(), "w");
    ASSERT_NE(sink, nullptr);
    dup2(fileno(sink), 2);
    for (const std::string& file : files) {
        CImage image;
        image.LoadNow(file, 1 << 30, 1 << 30);
    }
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    fclose(sink);
    EXPECT_EQ(ReadFileBytes(captured), "");
}

}  // namespace

TEST_F(TiffReaderTest, OrientationsAreAppliedOnceWhetherTheLibraryFlipsOrTheReaderTurns) {
    Page page;
    page.width = 5;
    page.height = 3;
    for (int i = 0; i < 5 * 3 * 3; ++i) page.data.push_back(static_cast<uint8_t>(i * 37 + 5));
    const std::string storedPath = File("stored.tif");
    WriteTiff(storedPath, {page});
    CImage stored;
    stored.LoadNow(storedPath, 1000, 1000);
    const RgbPicture asStored = ShownPixels(stored);
    ASSERT_EQ(asStored.width, 5);

    for (bool apply : {true, false}) {
        WriteSetting(settings::kApplyOrientation, apply ? 1 : 0);
        for (uint16_t o = 1; o <= 8; ++o) {
            page.orientation = o;
            const std::string path = File("o" + std::to_string(o) + ".tif");
            WriteTiff(path, {page});
            CImage image;
            image.LoadNow(path, 1000, 1000);
            const RgbPicture want = Oriented(asStored, apply ? o : 1);
            const RgbPicture got = ShownPixels(image);
            EXPECT_EQ(got.width, want.width) << o;
            EXPECT_EQ(got.bytes, want.bytes) << "orientation " << o << " applied " << apply;
        }
    }
    WriteSetting(settings::kApplyOrientation, 1);
}
