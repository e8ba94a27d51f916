#include "image/gif_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "image/image.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/recording_window.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace {

// GIF files built byte by byte. The pixel data are LZW codes of 9 bits, one literal per pixel,
// with a clear code often enough that the code width never grows: valid for every decoder, and
// any index 0-255 can be written whatever the colour map holds.
struct GifFrame {
    uint16_t left = 0, top = 0, width = 1, height = 1;
    std::vector<uint32_t> localMap;  // 0xRRGGBB, a power of two entries, or none
    bool interlaced = false;
    std::vector<uint8_t> indices;  // in stream order
    int transparentIndex = -1;     // a graphic control extension before the frame
};

GifFrame Frame(uint16_t width, uint16_t height, std::vector<uint8_t> indices) {
    GifFrame f;
    f.width = width;
    f.height = height;
    f.indices = std::move(indices);
    return f;
}

struct GifDesc {
    uint16_t screenWidth = 0, screenHeight = 0;  // 0: the first frame's size
    std::vector<uint32_t> globalMap;
    std::vector<GifFrame> frames;
};

void PutColourTable(std::string& out, const std::vector<uint32_t>& map) {
    for (uint32_t c : map) {
        out += static_cast<char>(c >> 16);
        out += static_cast<char>(c >> 8);
        out += static_cast<char>(c);
    }
}

uint8_t TableSizeBits(size_t entries) {
    uint8_t bits = 0;
    while ((size_t{2} << bits) < entries) ++bits;
    return bits;
}

std::string LzwLiterals(const std::vector<uint8_t>& indices) {
    std::string bytes;
    uint32_t acc = 0;
    int have = 0;
    auto put = [&](uint32_t code) {
        acc |= code << have;
        have += 9;
        while (have >= 8) {
            bytes += static_cast<char>(acc & 0xFF);
            acc >>= 8;
            have -= 8;
        }
    };
    put(256);
    int since = 0;
    for (uint8_t i : indices) {
        put(i);
        if (++since == 250) put(256), since = 0;
    }
    put(257);
    if (have > 0) bytes += static_cast<char>(acc & 0xFF);
    std::string blocks;
    blocks += static_cast<char>(8);  // minimum code size
    for (size_t at = 0; at < bytes.size(); at += 255) {
        const size_t n = std::min<size_t>(255, bytes.size() - at);
        blocks += static_cast<char>(n);
        blocks += bytes.substr(at, n);
    }
    blocks += '\0';
    return blocks;
}

std::string BuildGif(const GifDesc& desc) {
    std::string out = "GIF89a";
    const GifFrame& first = desc.frames.at(0);
    PutLe16(out, desc.screenWidth ? desc.screenWidth : first.width);
    PutLe16(out, desc.screenHeight ? desc.screenHeight : first.height);
    out +=
        static_cast<char>(desc.globalMap.empty() ? 0 : 0x80 | TableSizeBits(desc.globalMap.size()));
    out += '\0';  // background
    out += '\0';  // aspect
    PutColourTable(out, desc.globalMap);
    for (const GifFrame& f : desc.frames) {
        if (f.transparentIndex >= 0)
            out += std::string("\x21\xF9\x04\x01\x00\x00", 6) +
                   static_cast<char>(f.transparentIndex) + '\0';
        out += ',';
        PutLe16(out, f.left);
        PutLe16(out, f.top);
        PutLe16(out, f.width);
        PutLe16(out, f.height);
        uint8_t flags = f.interlaced ? 0x40 : 0;
        if (!f.localMap.empty()) flags |= 0x80 | TableSizeBits(f.localMap.size());
        out += static_cast<char>(flags);
        PutColourTable(out, f.localMap);
        out += LzwLiterals(f.indices);
    }
    out += ';';
    return out;
}

// Rows in interlaced stream order from rows in picture order.
std::vector<uint8_t> Interlace(const std::vector<uint8_t>& picture, int width, int height) {
    std::vector<uint8_t> out;
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass])
            out.insert(out.end(), picture.begin() + y * width, picture.begin() + (y + 1) * width);
    return out;
}

struct Decoded {
    BITMAPINFOHEADER header{};
    bool rgbOrder = true;
    bool allRowsAtOnce = true;
    std::vector<std::vector<uint8_t>> rows;  // width x 3 bytes, in delivery order
};

class GifReaderTest : public testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string file = dir_.file("g" + std::to_string(counter_++) + ".gif");
        WriteFileBytes(file, bytes);
        return file;
    }
    // Reads every row into a buffer pre-filled with `fill`, then once more past the end.
    Decoded Decode(const std::string& bytes, uint8_t fill = 0xEE) {
        CGifReader reader(Write(bytes));
        reader.OpenFile();
        Decoded out;
        out.header = reader.header.bmiHeader;
        out.rgbOrder = reader.rgbOrder;
        out.allRowsAtOnce = reader.allRowsAtOnce;
        const int32_t rows = std::abs(out.header.biHeight);
        for (int32_t r = 0; r < rows; ++r) {
            std::vector<uint8_t> row(static_cast<size_t>(out.header.biWidth) * 3, fill);
            uint8_t* p = row.data();
            reader.NextLine(&p);
            out.rows.push_back(row);
        }
        uint8_t spare[3] = {1, 2, 3};
        uint8_t* p = spare;
        reader.NextLine(&p);
        EXPECT_EQ(spare[0], 1);
        EXPECT_EQ(reader.lineCounter, rows - 1);
        reader.Close();
        return out;
    }
    TempDir dir_;
    int counter_ = 0;
};

std::vector<uint8_t> Bgr(std::initializer_list<uint32_t> rgb) {
    std::vector<uint8_t> out;
    for (uint32_t c : rgb) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c >> 16));
    }
    return out;
}

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

TEST(GifReaderChoiceTest, GifFilesGetTheGifReader) {
    EXPECT_NE(dynamic_cast<CGifReader*>(CreateReader("/x/Anim.GIF").get()), nullptr);
    EXPECT_EQ(dynamic_cast<CGifReader*>(CreateReader("/x/anim.gifs").get()), nullptr);
}

TEST_F(GifReaderTest, DeclaresTopDown24BitRowsDeliveredOnePerCall) {
    GifDesc desc;
    desc.globalMap = {kRed, kGreen, kBlue, kWhite};
    desc.frames = {Frame(3, 2, {0, 1, 2, 3, 0, 1})};
    Decoded d = Decode(BuildGif(desc));
    EXPECT_EQ(d.header.biWidth, 3);
    EXPECT_EQ(d.header.biHeight, -2);
    EXPECT_EQ(d.header.biBitCount, 24);
    EXPECT_EQ(d.header.biCompression, BI_RGB);
    EXPECT_FALSE(d.rgbOrder);
    EXPECT_FALSE(d.allRowsAtOnce);
    EXPECT_EQ(d.rows[0], Bgr({kRed, kGreen, kBlue}));
    EXPECT_EQ(d.rows[1], Bgr({kWhite, kRed, kGreen}));
}

TEST_F(GifReaderTest, APictureUsesItsLocalMapElseTheGlobalOne) {
    GifDesc desc;
    desc.globalMap = {kRed, kGreen};
    desc.frames = {Frame(2, 1, {1, 0})};
    EXPECT_EQ(Decode(BuildGif(desc)).rows[0], Bgr({kGreen, kRed}));
    desc.frames[0].localMap = {kBlue, kWhite};
    EXPECT_EQ(Decode(BuildGif(desc)).rows[0], Bgr({kWhite, kBlue}));
    desc.globalMap.clear();
    EXPECT_EQ(Decode(BuildGif(desc)).rows[0], Bgr({kWhite, kBlue}));
}

TEST_F(GifReaderTest, AnIndexBeyondTheMapRepeatsThePreviousColourOrIsBlack) {
    GifDesc desc;
    desc.globalMap = {kRed, kGreen};
    desc.frames = {Frame(6, 2, {5, 9, 1, 7, 0, 200, 0, 3, 3, 1, 2, 2})};
    Decoded d = Decode(BuildGif(desc));
    EXPECT_EQ(d.rows[0], Bgr({0, 0, kGreen, kGreen, kRed, kRed}));
    // Each row starts afresh: nothing carries over from the row above.
    EXPECT_EQ(d.rows[1], Bgr({kRed, kRed, kRed, kGreen, kGreen, kGreen}));

    // Without any colour map every index is beyond it.
    desc.globalMap.clear();
    d = Decode(BuildGif(desc));
    ASSERT_EQ(d.header.biWidth, 6);
    EXPECT_EQ(d.rows[0], std::vector<uint8_t>(18, 0));
}

TEST_F(GifReaderTest, InterlacedPicturesArriveInPictureOrder) {
    const int w = 2, h = 11;
    std::vector<uint8_t> picture;
    std::vector<uint32_t> map;
    for (int i = 0; i < 16; ++i) map.push_back(static_cast<uint32_t>(i * 0x10) << 8);
    for (int y = 0; y < h; ++y) picture.insert(picture.end(), {static_cast<uint8_t>(y), 15});
    GifDesc plain;
    plain.globalMap = map;
    plain.frames = {Frame(w, h, picture)};
    GifDesc interlaced = plain;
    interlaced.frames[0].interlaced = true;
    interlaced.frames[0].indices = Interlace(picture, w, h);
    Decoded a = Decode(BuildGif(plain));
    Decoded b = Decode(BuildGif(interlaced));
    ASSERT_EQ(b.rows.size(), 11u);
    for (int y = 0; y < h; ++y) EXPECT_EQ(b.rows[y][1], y * 0x10) << "row " << y;
    EXPECT_EQ(a.rows, b.rows);
}

TEST_F(GifReaderTest, OnlyTheFirstFrameShowsAtItsOwnSizeWithItsTransparentColour) {
    GifDesc desc;
    desc.screenWidth = 10;
    desc.screenHeight = 10;
    desc.globalMap = {kRed, kGreen, kBlue, kWhite};
    GifFrame first = Frame(2, 1, {0, 2});
    first.left = 3;
    first.top = 4;
    first.transparentIndex = 0;
    const GifFrame second = Frame(10, 10, std::vector<uint8_t>(100, 3));
    desc.frames = {first, second};
    Decoded d = Decode(BuildGif(desc));
    EXPECT_EQ(d.header.biWidth, 2);
    EXPECT_EQ(d.header.biHeight, -1);
    EXPECT_EQ(d.rows[0], Bgr({kRed, kBlue}));

    // A frame reaching outside the screen is still its own picture.
    desc.frames[0].left = 60000;
    EXPECT_EQ(Decode(BuildGif(desc)).rows[0], Bgr({kRed, kBlue}));
}

TEST_F(GifReaderTest, UnreadableFilesDeclareNothing) {
    GifDesc good;
    good.globalMap = {kRed, kGreen};
    good.frames = {Frame(4, 4, std::vector<uint8_t>(16, 1))};
    ASSERT_EQ(Decode(BuildGif(good)).header.biWidth, 4);
    auto refused = [&](const std::string& bytes, const char* what) {
        Decoded d = Decode(bytes);
        EXPECT_EQ(d.header.biWidth, 0) << what;
        EXPECT_EQ(d.header.biHeight, 0) << what;
        EXPECT_TRUE(d.rows.empty()) << what;
    };
    GifDesc s = good;
    s.frames[0].width = 0;
    refused(BuildGif(s), "zero width");
    s = good, s.frames[0].height = 0;
    refused(BuildGif(s), "zero height");
    // Pictures far larger than the file could ever fill are not allocated.
    s = good, s.frames[0].width = 65535, s.frames[0].height = 65535;
    refused(BuildGif(s), "65535 x 65535");
    s = good, s.frames[0].width = 20000, s.frames[0].height = 20000;
    refused(BuildGif(s), "20000 x 20000 in a tiny file");

    const std::string bytes = BuildGif(good);
    const size_t descriptor = bytes.find(',');
    refused(bytes.substr(0, descriptor) + ";", "no picture before the trailer");
    refused(bytes.substr(0, descriptor + 5), "cut inside the image descriptor");
    refused("GIF89a", "only a signature");
    refused("BM" + bytes.substr(2), "not a GIF");
    CGifReader missing(dir_.file("missing.gif"));
    missing.OpenFile();
    EXPECT_EQ(missing.header.bmiHeader.biWidth, 0);
    missing.Close();
}

TEST_F(GifReaderTest, RowsStopWhereTheDataEnd) {
    // 4 x 600 in 9-bit codes: 4.5 bytes a row, so the first 255-byte sub-block holds 56 rows.
    // The decoder reads whole sub-blocks, so a file cut inside the second keeps those 56.
    const int w = 4, h = 600;
    std::vector<uint8_t> picture(w * h, 1);
    GifDesc desc;
    desc.globalMap = {kRed, kGreen};
    desc.frames = {Frame(w, h, picture)};
    std::string bytes = BuildGif(desc);
    const size_t cut = bytes.find(',') + 10 + 1 + 1 + 255 + 1 + 100;
    bytes.resize(cut);
    Decoded d = Decode(bytes);
    ASSERT_EQ(d.header.biHeight, -h);
    EXPECT_EQ(d.rows[0], Bgr({kGreen, kGreen, kGreen, kGreen}));
    EXPECT_EQ(d.rows[50], Bgr({kGreen, kGreen, kGreen, kGreen}));
    // The rows the decoder could not give are left as they were, never invented.
    EXPECT_EQ(d.rows[60], std::vector<uint8_t>(w * 3, 0xEE));
    EXPECT_EQ(d.rows[h - 1], std::vector<uint8_t>(w * 3, 0xEE));

    // Interlaced: the start of the first pass (every eighth row) is there, the rest is not.
    desc.frames[0].interlaced = true;
    desc.frames[0].indices = Interlace(picture, w, h);
    bytes = BuildGif(desc);
    bytes.resize(cut);
    d = Decode(bytes);
    EXPECT_EQ(d.rows[8], Bgr({kGreen, kGreen, kGreen, kGreen}));
    EXPECT_EQ(d.rows[400], Bgr({kGreen, kGreen, kGreen, kGreen}));
    EXPECT_EQ(d.rows[1], std::vector<uint8_t>(w * 3, 0xEE));
    EXPECT_EQ(d.rows[592], std::vector<uint8_t>(w * 3, 0xEE));
    EXPECT_EQ(d.rows[599], std::vector<uint8_t>(w * 3, 0xEE));
}

struct Golden {
    const char* corpus;
    const char* reference;
};

TEST(GifGoldenTest, CorpusPicturesMatchTheirReferencesExactly) {
    BuildGammaTables();
    const Golden cases[] = {
        // Colour maps: global only, local, one to eight bits deep, many colours.
        {"gif-test-suite/four-colors.gif", "four-colors"},
        {"gif-test-suite/local-color-table.gif", "local-color-table"},
        {"gif-test-suite/depth1.gif", "depth1"},
        {"gif-test-suite/depth4.gif", "depth4"},
        {"gif-test-suite/depth8.gif", "depth8"},
        {"gif-test-suite/high-color.gif", "high-color"},
        {"gif-test-suite/255-codes.gif", "255-codes"},
        // A transparent index shows its palette colour.
        {"gif-test-suite/transparent.gif", "transparent"},
        // Interlaced pictures come out in picture order, like their plain twin.
        {"gif-test-suite/interlace.gif", "interlace"},
        {"go-image-testdata/video-001.gif", "video-001"},
        {"go-image-testdata/video-001.interlaced.gif", "video-001"},
        {"go-image-testdata/video-001.5bpp.gif", "video-001.5bpp"},
        {"go-image-testdata/video-005.gray.gif", "video-005.gray"},
        {"go-image-testdata/triangle-001.gif", "triangle-001"},
        // Pictures placed on a larger screen show at their own size.
        {"gif-test-suite/image-inside-bg.gif", "image-inside-bg"},
        {"gif-test-suite/image-outside-bg.gif", "image-outside-bg"},
        // Animations show their first frame.
        {"gif-test-suite/animation.gif", "animation"},
        {"gdk-pixbuf/test-animation.gif", "test-animation"},
        {"gdk-pixbuf/aero.gif", "aero"},
        {"libjxl/traffic_light.gif", "traffic_light"},
        {"misc/sdl2image_palette.gif", "sdl2image_palette"},
    };
    for (const Golden& c : cases) {
        RefImage ref;
        ASSERT_TRUE(
            LoadReferencePng(ReferencePath(std::string("gif/") + c.reference + ".png"), ref))
            << c.reference;
        CImage image;
        image.LoadNow(CorpusPath(std::string("gif/") + c.corpus), 1 << 30, 1 << 30);
        const PixelDiff diff = CompareWithReference(image, ref);
        EXPECT_TRUE(diff.sameSize) << c.corpus;
        EXPECT_EQ(diff.maxDiff, 0) << c.corpus;
    }
}

// Every row of a damaged load is either the intact file's row or still empty, and rows are
// never left empty before a delivered one (the picture stops, it does not skip).
void ExpectRowsSoFar(const CImage& whole, const CImage& part, bool interlaced,
                     const std::string& what) {
    if (part.GetWidth() == 0) return;  // nothing decodable before the cut
    ASSERT_EQ(part.GetWidth(), whole.GetWidth()) << what;
    ASSERT_EQ(part.GetHeight(), whole.GetHeight()) << what;
    const size_t bytes = static_cast<size_t>(whole.GetWidth()) * 3;
    bool emptySeen = false;
    for (int32_t y = 0; y < whole.GetHeight(); ++y) {
        const uint8_t* a = whole.displayBuffer + static_cast<size_t>(y) * whole.displayStride;
        const uint8_t* b = part.displayBuffer + static_cast<size_t>(y) * part.displayStride;
        const bool same = std::memcmp(a, b, bytes) == 0;
        const bool empty = std::all_of(b, b + bytes, [](uint8_t v) { return v == 0; });
        ASSERT_TRUE(same || empty) << what << " row " << y;
        if (interlaced) continue;
        if (!same) emptySeen = true;
        if (emptySeen) {
            ASSERT_TRUE(empty) << what << " row " << y;
        }
    }
}

TEST(GifDamageTest, TruncatedFilesKeepTheirRowsSoFarAndFinish) {
    BuildGammaTables();
    TempDir dir;
    for (const char* name :
         {"go-image-testdata/video-001.gif", "go-image-testdata/video-001.interlaced.gif",
          "gdk-pixbuf/test-animation.gif", "gif-test-suite/many-clears.gif"}) {
        const std::string bytes = ReadFileBytes(CorpusPath(std::string("gif/") + name));
        const bool interlaced = std::string(name).find("interlaced") != std::string::npos;
        CImage whole;
        whole.LoadNow(CorpusPath(std::string("gif/") + name), 1 << 30, 1 << 30);
        ASSERT_GT(whole.GetWidth(), 0);
        const size_t step = std::max<size_t>(1, bytes.size() / 97);
        for (size_t cut = 0; cut < bytes.size(); cut += step) {
            const std::string path = dir.file("cut.gif");
            WriteFileBytes(path, bytes.substr(0, cut));
            RecordingWindow window;
            CImage part;
            part.notifyWindow = &window;
            part.LoadNow(path, 1 << 30, 1 << 30);
            EXPECT_EQ(window.Count(WM_IMAGE_DONE), 1) << name << " cut at " << cut;
            ExpectRowsSoFar(whole, part, interlaced,
                            std::string(name) + " cut at " + std::to_string(cut));
            // And reduced, through the box path.
            part.LoadNow(path, 40, 40);
        }
    }
}

TEST(GifDamageTest, EveryCorpusFileDecodes) {
    BuildGammaTables();
    // Files with no picture to show: empty pictures, a screen without one, and LZW code sizes
    // above 8 bits, which the decoding library refuses.
    const std::set<std::string> empty = {
        "zero-size.gif",       "zero-width.gif",        "zero-height.gif",
        "image-zero-size.gif", "image-zero-width.gif",  "image-zero-height.gif",
        "no-data.gif",         "max-size.gif",          "max-codes.gif",
        "overflow-codes.gif",  "overflow-codes-max.gif"};
    int files = 0;
    for (const char* folder : {"gif", "malformed"}) {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(CorpusPath(folder))) {
            if (entry.path().extension() != ".gif") continue;
            ++files;
            CImage image;
            image.LoadNow(entry.path().string(), 1 << 30, 1 << 30);
            if (std::string(folder) == "gif") {
                const bool shown = image.GetWidth() > 0 && image.GetHeight() > 0;
                EXPECT_EQ(shown, !empty.count(entry.path().filename().string())) << entry.path();
            }
            image.LoadNow(entry.path().string(), 50, 50);
        }
    }
    EXPECT_GE(files, 100);
}

}  // namespace
