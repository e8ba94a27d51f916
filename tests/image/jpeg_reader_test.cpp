#include "image/jpeg_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "image/image.h"
#include "image/resample.h"
#include "platform/file_io.h"
#include "settings/settings.h"
#include "support/orientation.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Decoded JPEGs may differ from the references by the rounding of another IDCT: libjpeg's
// integer and floating-point ones differ here by at most 3, 0.03 on average. A wrong channel
// order, colour conversion or row is off by far more.
constexpr int kMaxChannelDiff = 4;
constexpr double kMaxMeanDiff = 0.1;
// A progressive file's coarse first picture, its DC scans only, against the final one: the
// corpus's small frames are 18 to 26 levels off on average, a black one 100 and more.
constexpr double kMaxCoarseDiff = 30;

struct Picture {
    int width = 0, height = 0, components = 3;
    J_COLOR_SPACE space = JCS_RGB;
    std::vector<uint8_t> samples;  // top row first, `components` bytes per pixel
};

// Encodes with libjpeg: quality 100, no chroma subsampling, optional restart after every MCU.
std::string EncodeJpeg(const Picture& p, J_COLOR_SPACE fileSpace, bool restartEveryMcu = false) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = p.width;
    c.image_height = p.height;
    c.input_components = p.components;
    c.in_color_space = p.space;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, fileSpace);
    for (int i = 0; i < c.num_components; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_set_quality(&c, 100, TRUE);
    if (restartEveryMcu) c.restart_interval = 1;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(p.samples.data()) +
                       static_cast<size_t>(c.next_scanline) * p.width * p.components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    free(out);
    return bytes;
}

Picture Gradient(int w, int h) {
    Picture p{w, h, 3, JCS_RGB, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            p.samples.push_back(static_cast<uint8_t>(60 + x % 150));
            p.samples.push_back(static_cast<uint8_t>(60 + y % 150));
            p.samples.push_back(128);
        }
    return p;
}

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

const uint8_t* DisplayRow(const CImage& image, int y) {
    return image.displayBuffer + static_cast<size_t>(y) * image.displayStride;
}

class JpegReaderTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }

    std::string Write(const std::string& bytes) {
        const std::string file = dir_.file("t" + std::to_string(counter_++) + ".jpg");
        WriteFileBytes(file, bytes);
        return file;
    }
    // Corpus files are named .jpeg as often as .jpg; the reader is chosen by ".jpg".
    std::string Corpus(const std::string& relative) {
        const std::string link = dir_.file("c" + std::to_string(counter_++) + ".jpg");
        fs::create_symlink(CorpusPath(relative), link);
        return link;
    }

    TempDir dir_;
    int counter_ = 0;
};

TEST_F(JpegReaderTest, ColourRowsArriveTopDownInBgrOrderStraightFromTheLibrary) {
    // Two 8 x 8 blocks side by side in each of two block rows: flat colours survive quality 100.
    Picture p{16, 16, 3, JCS_RGB, {}};
    const uint8_t colours[4][3] = {{200, 40, 10}, {10, 200, 40}, {40, 10, 200}, {90, 90, 90}};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c) p.samples.push_back(colours[(y / 8) * 2 + x / 8][c]);
    CJpegReader reader(Write(EncodeJpeg(p, JCS_YCbCr)));
    reader.OpenFile();
    EXPECT_EQ(reader.header.bmiHeader.biWidth, 16);
    EXPECT_EQ(reader.header.bmiHeader.biHeight, -16);
    EXPECT_EQ(reader.header.bmiHeader.biBitCount, 24);
    EXPECT_FALSE(reader.rgbOrder);  // the display's order already: nothing to swap
    EXPECT_FALSE(reader.allRowsAtOnce);
    std::vector<uint8_t> rows(16 * 48 + 1, 0xEE);
    for (int y = 0; y < 16; ++y) {
        uint8_t* row = rows.data() + y * 48;
        EXPECT_EQ(reader.NextLine(&row), y);
    }
    uint8_t* extra = rows.data();
    EXPECT_EQ(reader.NextLine(&extra), 15);  // past the end: nothing changes
    for (int block = 0; block < 4; ++block) {
        const uint8_t* px = rows.data() + (block / 2) * 8 * 48 + (block % 2) * 8 * 3;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(px[2 - c], colours[block][c], 2) << block << " " << c;
    }
    EXPECT_EQ(rows.back(), 0xEE);  // colour rows write their pixels and nothing beyond
    reader.Close();
}

TEST_F(JpegReaderTest, GreyFilesGiveEqualBytesWithOneStorePastTheLastPixel) {
    CJpegReader reader(Corpus("jpeg/go-image-testdata/video-005.gray.jpeg"));
    reader.OpenFile();
    ASSERT_EQ(reader.header.bmiHeader.biWidth, 150);
    EXPECT_FALSE(reader.rgbOrder);
    std::vector<uint8_t> row(150 * 3 + 2, 0xEE);
    for (int y = 0; y < 103; ++y) {
        uint8_t* p = row.data();
        reader.NextLine(&p);
        for (int x = 0; x < 150; ++x) {
            ASSERT_EQ(row[3 * x], row[3 * x + 1]);
            ASSERT_EQ(row[3 * x], row[3 * x + 2]);
        }
        EXPECT_EQ(row[450], 0);     // the fourth byte of the last 32-bit store
        EXPECT_EQ(row[451], 0xEE);  // and no further
    }
    reader.Close();
}

TEST_F(JpegReaderTest, FourComponentFilesAreConvertedAsAdobeInvertedInk) {
    // Stored as Adobe does: 255 is no ink, so with K = 255 the first three samples are R, G, B.
    Picture ink{16, 16, 4, JCS_CMYK, {}};
    for (int i = 0; i < 256; ++i) ink.samples.insert(ink.samples.end(), {200, 100, 50, 255});
    Picture halfBlack = ink;
    for (size_t i = 3; i < halfBlack.samples.size(); i += 4) halfBlack.samples[i] = 128;
    struct Case {
        const Picture& picture;
        J_COLOR_SPACE fileSpace;
        int r, g, b;
    } cases[] = {{ink, JCS_CMYK, 200, 100, 50},
                 {ink, JCS_YCCK, 200, 100, 50},
                 {halfBlack, JCS_CMYK, 100, 50, 25}};
    for (const Case& c : cases) {
        CImage image;
        image.LoadNow(Write(EncodeJpeg(c.picture, c.fileSpace)), 1000, 1000);
        ASSERT_EQ(image.GetWidth(), 16);
        const uint8_t* px = DisplayRow(image, 9) + 9 * 3;  // B, G, R once loaded
        EXPECT_NEAR(px[2], c.r, 2) << c.fileSpace;
        EXPECT_NEAR(px[1], c.g, 2) << c.fileSpace;
        EXPECT_NEAR(px[0], c.b, 2) << c.fileSpace;
    }
}

TEST_F(JpegReaderTest, CorpusFilesMatchTheirReferences) {
    int compared = 0;
    for (const auto& [ref, relative] : CorpusReferences("jpeg")) {
        RefImage expected;
        ASSERT_TRUE(LoadReferencePng(ref, expected)) << ref;
        CImage image;
        image.LoadNow(Corpus(relative), 1 << 30, 1 << 30);
        const PixelDiff diff = CompareWithReference(image, expected);
        EXPECT_TRUE(diff.sameSize) << relative;
        EXPECT_LE(diff.maxDiff, kMaxChannelDiff) << relative;
        EXPECT_LE(diff.meanDiff, kMaxMeanDiff) << relative;
        ++compared;
    }
    EXPECT_GE(compared, 15);

    // The corpus ships one reference of its own, decoded by another program.
    RefImage cat;
    ASSERT_TRUE(LoadReferencePng(CorpusPath("jpeg/gdk-pixbuf-edge/cat.jpg.ref.png"), cat));
    CImage image;
    image.LoadNow(CorpusPath("jpeg/gdk-pixbuf-edge/cat.jpg"), 1 << 30, 1 << 30);
    const PixelDiff diff = CompareWithReference(image, cat);
    EXPECT_TRUE(diff.sameSize);
    EXPECT_LE(diff.maxDiff, kMaxChannelDiff);
    EXPECT_LE(diff.meanDiff, kMaxMeanDiff);
}

TEST_F(JpegReaderTest, ProgressiveFilesDecodeLikeTheirBaselineTwins) {
    int pairs = 0;
    const fs::path dir = CorpusPath("jpeg/go-image-testdata");
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        const size_t at = name.find(".progressive.jpeg");
        if (at == std::string::npos) continue;
        const std::string twin = name.substr(0, at) + ".jpeg";
        if (!fs::exists(dir / twin)) continue;
        CImage progressive, baseline;
        progressive.LoadNow(Corpus("jpeg/go-image-testdata/" + name), 1 << 30, 1 << 30);
        baseline.LoadNow(Corpus("jpeg/go-image-testdata/" + twin), 1 << 30, 1 << 30);
        ASSERT_GT(baseline.GetWidth(), 0) << twin;
        ASSERT_EQ(progressive.GetWidth(), baseline.GetWidth()) << name;
        ASSERT_EQ(progressive.GetHeight(), baseline.GetHeight()) << name;
        EXPECT_EQ(0,
                  std::memcmp(progressive.displayBuffer, baseline.displayBuffer,
                              static_cast<size_t>(baseline.displayStride) * baseline.GetHeight()))
            << name;
        ++pairs;
    }
    EXPECT_GE(pairs, 9);
}

// libjpeg's own single-pass decode, R, G, B turned into the reader's B, G, R (grey as three
// equal bytes), top row first.
std::vector<uint8_t> SinglePassDecode(const std::string& file, int* width, int* height) {
    std::vector<uint8_t> out;
    FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) return out;
    jpeg_decompress_struct d;
    jpeg_error_mgr errors;
    d.err = jpeg_std_error(&errors);
    errors.emit_message = [](j_common_ptr, int) {};  // a truncated file warns
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, in);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    *width = static_cast<int>(d.output_width);
    *height = static_cast<int>(d.output_height);
    std::vector<uint8_t> row(static_cast<size_t>(*width) * d.output_components);
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_read_scanlines(&d, rows, 1);
        for (int x = 0; x < *width; ++x)
            for (int c = 0; c < 3; ++c)
                out.push_back(row[static_cast<size_t>(x) * d.output_components +
                                  (d.output_components == 3 ? 2 - c : 0)]);
    }
    jpeg_destroy_decompress(&d);
    std::fclose(in);
    return out;
}

// With a coarse pass too: the coarse rows first, a picture near the final one (a wrong scan or
// channel is far off), then the final rows, still exactly the single-pass ones.
TEST_F(JpegReaderTest, ProgressiveFilesGiveTheSinglePassPixelsExactly) {
    // A coarse pass of the whole picture, and one of a window's rows only (its edges inside
    // iMCU rows), which skips the rows above it: the final pass must not notice either.
    enum Coarse { kNone, kWhole, kWindow };
    constexpr int kWindowFirst = 37, kWindowEnd = 70;
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(CorpusPath("jpeg/go-image-testdata"))) {
        const std::string name = entry.path().filename().string();
        if (name.find(".progressive.") == std::string::npos) continue;
        int width = 0, height = 0;
        const std::vector<uint8_t> expected = SinglePassDecode(entry.path().string(), &width,
                                                               &height);
        ASSERT_GT(height, kWindowEnd);
        for (const Coarse coarse : {kNone, kWhole, kWindow}) {
            SCOPED_TRACE(name + " coarse " + std::to_string(coarse));
            CJpegReader reader(Corpus("jpeg/go-image-testdata/" + name));
            reader.OpenFile();
            reader.coarsePass = coarse != kNone;
            if (coarse == kWindow) {
                reader.coarseFirstRow = kWindowFirst;
                reader.coarseEndRow = kWindowEnd;
            }
            ASSERT_EQ(reader.header.bmiHeader.biWidth, width);
            ASSERT_EQ(reader.header.bmiHeader.biHeight, -height);
            const size_t rowBytes = static_cast<size_t>(width) * 3;
            std::vector<uint8_t> row(rowBytes + 4);
            if (coarse != kNone) {
                double difference = 0;
                int made = 0;
                for (int y = 0; y < height; ++y) {
                    std::fill(row.begin(), row.end(), 0xA5);
                    uint8_t* p = row.data();
                    ASSERT_EQ(reader.NextLine(&p), y);
                    const bool wanted =
                        coarse == kWhole || (y >= kWindowFirst && y < kWindowEnd);
                    if (!wanted) {
                        ASSERT_EQ(std::count(row.begin(), row.end(), 0xA5), row.size()) << y;
                        continue;
                    }
                    ++made;
                    for (size_t i = 0; i < rowBytes; ++i)
                        difference += std::abs(row[i] - expected[y * rowBytes + i]);
                }
                EXPECT_LT(difference / (static_cast<double>(rowBytes) * made), kMaxCoarseDiff);
                ASSERT_TRUE(reader.NextPass());
            }
            for (int y = 0; y < height; ++y) {
                uint8_t* p = row.data();
                ASSERT_EQ(reader.NextLine(&p), y);
                ASSERT_EQ(0, std::memcmp(row.data(), expected.data() + y * rowBytes, rowBytes))
                    << "row " << y;
            }
            EXPECT_FALSE(reader.NextPass());
        }
        ++compared;
    }
    EXPECT_GE(compared, 11);
}

TEST_F(JpegReaderTest, EveryCorpusJpegDecodesOrIsRefused) {
    // Files no reader can make sense of; everything else must give a picture.
    const std::vector<std::string> unreadable = {"bug775218.jpg", "issue205.jpg",
                                                 "CVE-2017-2862.jpg"};
    int files = 0;
    for (const char* folder : {"jpeg", "malformed"}) {
        for (const auto& entry : fs::recursive_directory_iterator(CorpusPath(folder))) {
            const std::string name = entry.path().filename().string();
            if (!name.ends_with(".jpg") && !name.ends_with(".jpeg")) continue;
            ++files;
            const std::string link = Corpus(fs::relative(entry.path(), CorpusPath("")).string());
            CImage image;
            image.LoadNow(link, 1 << 30, 1 << 30);
            EXPECT_TRUE(image.done) << name;
            const bool refused =
                std::find(unreadable.begin(), unreadable.end(), name) != unreadable.end();
            EXPECT_EQ(image.GetWidth() == 0, refused) << name;
            image.LoadNow(link, 61, 61);  // and reduced, through the box path
            EXPECT_TRUE(image.done) << name;
            CImage thumb;  // and as a thumbnail, whose decode may start late and reduced
            thumb.reducedDecode = true;
            thumb.LoadNow(link, 61, 61);
            EXPECT_TRUE(thumb.done) << name;
            EXPECT_EQ(thumb.GetWidth(), image.GetWidth()) << name;
            EXPECT_EQ(thumb.GetSourceWidth(), image.GetSourceWidth()) << name;
        }
    }
    EXPECT_GE(files, 50);
}

// Re-encoded as a camera writes it (quality 92, 4:2:0), from a loaded image's B, G, R display.
std::string EncodeLikeACamera(const CImage& image, bool progressive, bool grey) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = image.GetWidth();
    c.image_height = image.GetHeight();
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    if (grey) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    jpeg_set_quality(&c, 92, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(DisplayRow(image, static_cast<int>(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    free(out);
    return bytes;
}

TEST_F(JpegReaderTest, ReducedDecodesChooseTheSmallestEighthThatIsLargeEnough) {
    static_assert(CJpegReader::kMinScaleEighths == 5, "the cases below assume 5/8");
    const std::string photo = Corpus("jpeg/photos-4mp/plasma_Kite_2560x1600.jpg");
    struct Case {
        int32_t minWidth, minHeight;
        bool reduced;
        int32_t width, height;
    } cases[] = {{256, 160, true, 1600, 1000},   {1600, 1000, true, 1600, 1000},
                 {1601, 1000, true, 1920, 1200}, {256, 1201, true, 2240, 1400},
                 {2240, 1400, true, 2240, 1400}, {2241, 100, false, 2560, 1600},
                 {1, 1, true, 1600, 1000}};
    for (const Case& c : cases) {
        CJpegReader reader(photo);
        reader.reducible = true;
        reader.OpenFile();
        ASSERT_EQ(reader.header.bmiHeader.biWidth, 2560);  // the file's size, whatever comes
        ASSERT_EQ(reader.header.bmiHeader.biHeight, -1600);
        int32_t w = 0, h = 0;
        EXPECT_EQ(reader.Reduce(c.minWidth, c.minHeight, &w, &h), c.reduced) << c.minWidth;
        if (c.reduced) {
            EXPECT_EQ(std::make_pair(w, h), std::make_pair(c.width, c.height));
        }
        // Exactly that many rows of that width come, and nothing past them.
        std::vector<uint8_t> row(static_cast<size_t>(c.width) * 3 + 1, 0xEE);
        int last = -1;
        for (int y = 0; y < c.height + 2; ++y) {
            uint8_t* p = row.data();
            last = reader.NextLine(&p);
        }
        EXPECT_EQ(last, c.height - 1) << c.minWidth;
        EXPECT_EQ(row.back(), 0xEE);
        EXPECT_NE(row[3 * c.width - 1], 0xEE);
        EXPECT_TRUE(reader.failure.empty()) << reader.failure;
        reader.Close();
    }

    // Too late once rows have come, and never for a reader that was not opened for it.
    CJpegReader started(photo);
    started.reducible = true;
    started.OpenFile();
    std::vector<uint8_t> row(2560 * 3 + 1);
    uint8_t* p = row.data();
    started.NextLine(&p);
    int32_t w = 0, h = 0;
    EXPECT_FALSE(started.Reduce(256, 160, &w, &h));
    CJpegReader plain(photo);
    plain.OpenFile();
    EXPECT_FALSE(plain.Reduce(256, 160, &w, &h));
}

TEST_F(JpegReaderTest, ReducedThumbnailsLookLikeThumbnailsOfTheFullDecode) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(CorpusPath("jpeg/photos-4mp")))
        files.push_back(Corpus("jpeg/photos-4mp/" + entry.path().filename().string()));
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 10u);
    {
        // Progressive and grey files take other ways through the library.
        CImage photo;
        photo.LoadNow(files[0], 1 << 30, 1 << 30);
        ASSERT_GT(photo.GetWidth(), 0);
        files.push_back(Write(EncodeLikeACamera(photo, true, false)));
        files.push_back(Write(EncodeLikeACamera(photo, false, true)));
    }
    for (const std::string& file : files) {
        CImage full, reduced;
        reduced.reducedDecode = true;
        full.LoadNow(file, 128, 128);
        reduced.LoadNow(file, 128, 128);
        ASSERT_GT(full.GetWidth(), 0) << file;
        ASSERT_EQ(reduced.GetWidth(), full.GetWidth()) << file;
        ASSERT_EQ(reduced.GetHeight(), full.GetHeight()) << file;
        EXPECT_EQ(reduced.GetSourceWidth(), full.GetSourceWidth()) << file;
        EXPECT_EQ(reduced.GetSourceHeight(), full.GetSourceHeight()) << file;
        EXPECT_TRUE(reduced.failure.empty()) << reduced.failure;
        // The reduced load ends holding only its display, as a decode at a reduced size must.
        EXPECT_EQ(reduced.sourceBuffer, reduced.displayBuffer) << file;
        EXPECT_NE(full.sourceBuffer, full.displayBuffer) << file;
        int maxDiff = 0;
        double sums[3] = {0, 0, 0};
        for (int y = 0; y < full.GetHeight(); ++y)
            for (int x = 0; x < 3 * full.GetWidth(); ++x) {
                const int d = std::abs(DisplayRow(full, y)[x] - DisplayRow(reduced, y)[x]);
                maxDiff = std::max(maxDiff, d);
                sums[x % 3] += d;
            }
        const double pixels = static_cast<double>(full.GetWidth()) * full.GetHeight();
        for (int c = 0; c < 3; ++c) EXPECT_LE(sums[c] / pixels, 1.0) << file << " channel " << c;
        EXPECT_LE(maxDiff, 12) << file;
        // Streamed through a few rows of working memory, the reduced rows give the same bytes.
        CImage streamed;
        streamed.reducedDecode = streamed.streamSource = true;
        streamed.LoadNow(file, 128, 128);
        ASSERT_EQ(streamed.displayStride * streamed.GetHeight(),
                  reduced.displayStride * reduced.GetHeight());
        EXPECT_EQ(0, std::memcmp(streamed.displayBuffer, reduced.displayBuffer,
                                 static_cast<size_t>(reduced.displayStride) * reduced.GetHeight()))
            << file;
    }
}

TEST_F(JpegReaderTest, AReducedLoadIsDecodedAgainForALargerBox) {
    // The reduced rows do not match the source header, so a later load must not take them for
    // the picture.
    const std::string photo = Corpus("jpeg/photos-4mp/plasma_Path_2560x1600.jpg");
    CImage image, expected;
    image.reducedDecode = true;
    image.LoadNow(photo, 128, 128);
    ASSERT_EQ(image.GetWidth(), 128);
    EXPECT_EQ(image.GetSourceWidth(), 2560);
    EXPECT_EQ(image.GetSourceHeight(), 1600);
    // Too large a box for any reduction: the whole file is decoded again.
    image.SetSizeLimit(2000, 2000, false, false);
    image.StartLoad(0);
    image.FinishLoad();
    expected.LoadNow(photo, 2000, 2000);
    ASSERT_EQ(image.GetWidth(), 2000);
    ASSERT_EQ(image.GetHeight(), expected.GetHeight());
    EXPECT_EQ(0, std::memcmp(image.displayBuffer, expected.displayBuffer,
                             static_cast<size_t>(expected.displayStride) * expected.GetHeight()));
}

TEST_F(JpegReaderTest, HostileSizesAreRefusedBeforeAnythingIsAllocated) {
    // 64250 x 64250, progressive, in 1407 bytes: decoding would need gigabytes.
    CJpegReader huge(CorpusPath("jpeg/gdk-pixbuf-edge/issue205.jpg"));
    huge.OpenFile();
    EXPECT_EQ(huge.header.bmiHeader.biWidth, 0);
    EXPECT_EQ(huge.header.bmiHeader.biHeight, 0);
    huge.Close();

    // An acceptable size, but far more pixels than a file this small can describe.
    std::string bytes = EncodeJpeg(Gradient(64, 64), JCS_YCbCr);
    const size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    bytes[sof + 5] = static_cast<char>(0x30), bytes[sof + 6] = 0;  // height 12288
    bytes[sof + 7] = static_cast<char>(0x30), bytes[sof + 8] = 0;  // width 12288
    CImage image;
    image.LoadNow(Write(bytes), 100, 100);
    EXPECT_EQ(image.GetSourceWidth(), 0);
    EXPECT_TRUE(image.done);
}

TEST_F(JpegReaderTest, MissingOrForeignFilesDeclareNothing) {
    for (const std::string& file : {dir_.file("absent.jpg"), Write("\x89PNG\r\n\x1a\n not a jpeg"),
                                    Write(""), Write("\xFF\xD8\xFF")}) {
        const int fds = OpenDescriptors();
        CJpegReader reader(file);
        reader.OpenFile();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0) << file;
        EXPECT_EQ(reader.header.bmiHeader.biHeight, 0) << file;
        EXPECT_EQ(OpenDescriptors(), fds) << file;  // nothing is held on to
        uint8_t buffer[16] = {};
        uint8_t* row = buffer;
        reader.NextLine(&row);
        EXPECT_EQ(reader.lineCounter, -1);
        reader.Close();
        EXPECT_EQ(OpenDescriptors(), fds) << file;
    }
}

TEST_F(JpegReaderTest, AReaderClosedAfterAFewRowsReleasesItsFile) {
    const int fds = OpenDescriptors();
    CJpegReader reader(Write(EncodeJpeg(Gradient(40, 40), JCS_YCbCr)));
    reader.OpenFile();
    std::vector<uint8_t> row(40 * 3 + 1);
    for (int i = 0; i < 3; ++i) {
        uint8_t* p = row.data();
        reader.NextLine(&p);
    }
    EXPECT_EQ(OpenDescriptors(), fds + 1);
    reader.Close();
    reader.Close();
    EXPECT_EQ(OpenDescriptors(), fds);
}

// Restart markers numbered wrongly from the middle on: each costs a warning, and past the limit
// the decode ends. The rows before stay as decoded, the rest as they were, and the load ends.
TEST_F(JpegReaderTest, TooManyWarningsEndTheDecodeKeepingTheRowsSoFar) {
    const Picture picture = Gradient(256, 256);
    const std::string clean = EncodeJpeg(picture, JCS_YCbCr, true);
    std::string damaged = clean;
    const size_t scan = clean.find("\xFF\xDA");
    int renumbered = 0;
    for (size_t i = scan + (clean.size() - scan) / 2; i + 1 < damaged.size(); ++i) {
        const uint8_t marker = static_cast<uint8_t>(damaged[i + 1]);
        if (static_cast<uint8_t>(damaged[i]) == 0xFF && marker >= 0xD0 && marker <= 0xD7) {
            damaged[i + 1] = static_cast<char>(0xD0 + (marker - 0xD0 + 4) % 8);
            ++renumbered;
        }
    }
    ASSERT_GT(renumbered, 2 * kMaxDecoderWarnings);

    CImage reference, image;
    reference.LoadNow(Write(clean), 1000, 1000);
    testing::internal::CaptureStderr();
    image.LoadNow(Write(damaged), 1000, 1000);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the library printed nothing
    EXPECT_TRUE(image.done);
    ASSERT_EQ(image.GetWidth(), 256);
    const size_t rowBytes = 256 * 3;
    for (int y = 0; y < 120; ++y)
        ASSERT_EQ(0, std::memcmp(DisplayRow(image, y), DisplayRow(reference, y), rowBytes)) << y;
    const std::vector<uint8_t> untouched(rowBytes, 0);
    EXPECT_EQ(0, std::memcmp(DisplayRow(image, 255), untouched.data(), rowBytes));
    EXPECT_NE(0, std::memcmp(DisplayRow(reference, 255), untouched.data(), rowBytes));
}

TEST_F(JpegReaderTest, TruncatedFilesKeepTheRowsTheyHold) {
    // Baseline and interleaved: each row depends only on the data before it.
    const std::string whole =
        ReadFileBytes(CorpusPath("jpeg/libjxl-flower-variants/flower_cropped.jpg"));
    ASSERT_FALSE(whole.empty());
    CImage full;
    full.LoadNow(Write(whole), 1 << 30, 1 << 30);
    ASSERT_EQ(full.GetHeight(), 1040);
    const size_t rowBytes = static_cast<size_t>(full.GetWidth()) * 3;
    testing::internal::CaptureStderr();
    for (int step = 1; step < 40; ++step) {
        const size_t cut = whole.size() * step / 40;
        CImage image;
        image.LoadNow(Write(whole.substr(0, cut)), 1 << 30, 1 << 30);
        EXPECT_TRUE(image.done) << cut;
        if (image.GetWidth() == 0) continue;  // the cut fell inside the headers
        ASSERT_EQ(image.GetHeight(), 1040);
        // Rows decoded from the data before the cut are exactly those of the whole file; the
        // library makes up the rest from nothing.
        const int kept = static_cast<int>(1040.0 * (step - 8) / 40);
        for (int y = 0; y < kept; ++y)
            ASSERT_EQ(0, std::memcmp(DisplayRow(image, y), DisplayRow(full, y), rowBytes))
                << cut << " " << y;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(JpegReaderTest, DamagedFilesLoadWithoutHarm) {
    const char* samples[] = {"jpeg/go-image-testdata/video-001.q50.420.jpeg",
                             "jpeg/go-image-testdata/video-001.q50.420.progressive.jpeg",
                             "jpeg/go-image-testdata/video-005.gray.q50.jpeg",
                             "jpeg/go-image-testdata/video-001.cmyk.jpeg",
                             "jpeg/misc/sdl2image_sample.jpg"};
    std::mt19937 random(4);
    testing::internal::CaptureStderr();
    for (const char* sample : samples) {
        const std::string whole = ReadFileBytes(CorpusPath(sample));
        ASSERT_FALSE(whole.empty()) << sample;
        for (int round = 0; round < 30; ++round) {
            std::string bytes = whole;
            const int flips = 1 + round % 8;
            for (int i = 0; i < flips; ++i)
                bytes[random() % bytes.size()] = static_cast<char>(random());
            if (round % 3 == 0) bytes.resize(random() % bytes.size());
            CImage image;
            image.LoadNow(Write(bytes), 1 << 30, 1 << 30);
            EXPECT_TRUE(image.done) << sample << " " << round;
            image.LoadNow(Write(bytes), 33, 33);
            EXPECT_TRUE(image.done) << sample << " " << round;
            CImage thumb;
            thumb.reducedDecode = true;
            thumb.LoadNow(Write(bytes), 33, 33);
            EXPECT_TRUE(thumb.done) << sample << " " << round;
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace

// Four flat quadrants on whole 8 x 8 blocks, so that every corner keeps its own colour, and a
// picture wider than tall, so that a transposed one shows in its size.
Picture Quadrants() {
    Picture p{32, 16, 3, JCS_RGB, {}};
    const uint8_t colours[4][3] = {{200, 40, 10}, {10, 200, 40}, {40, 10, 200}, {220, 220, 60}};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            for (int c = 0; c < 3; ++c) p.samples.push_back(colours[(y / 8) * 2 + x / 16][c]);
    return p;
}

TEST_F(JpegReaderTest, ExifOrientationsAreShownUprightAtFullSizeAndInThumbnails) {
    const std::string plain = EncodeJpeg(Quadrants(), JCS_YCbCr);
    CImage stored;
    stored.LoadNow(Write(plain), 1000, 1000);
    const RgbPicture asStored = ShownPixels(stored);
    ASSERT_EQ(asStored.width, 32);
    CImage storedThumb;
    storedThumb.LoadNow(Write(plain), 8, 8);
    const RgbPicture thumbAsStored = ShownPixels(storedThumb);

    for (int o = 1; o <= 8; ++o) {
        for (bool big : {false, true}) {
            const std::string file = Write(WithExifSegment(plain, ExifBlock(o, big)));
            CImage image;
            image.LoadNow(file, 1000, 1000);
            const RgbPicture want = Oriented(asStored, o);
            const RgbPicture got = ShownPixels(image);
            EXPECT_EQ(got.width, want.width) << o;
            EXPECT_EQ(got.bytes, want.bytes) << "orientation " << o << (big ? " MM" : " II");

            // The box path, streamed and through the library's reduced decode, as thumbnails
            // load: the same picture as the stored one's thumbnail turned.
            for (bool reduced : {false, true}) {
                CImage thumb;
                thumb.streamSource = true;
                thumb.reducedDecode = reduced;
                thumb.LoadNow(file, 8, 8);
                const RgbPicture small = ShownPixels(thumb);
                const RgbPicture wantSmall = Oriented(thumbAsStored, o);
                ASSERT_EQ(small.width, wantSmall.width) << o;
                ASSERT_EQ(small.bytes.size(), wantSmall.bytes.size()) << o;
                int worst = 0;
                for (size_t i = 0; i < small.bytes.size(); ++i)
                    worst = std::max(worst, std::abs(small.bytes[i] - wantSmall.bytes[i]));
                EXPECT_LE(worst, 2) << "orientation " << o << " reduced " << reduced;
            }
        }
    }
}

// Loads that keep no source reduce a turned picture as stored and turn only the result. That
// must be the stored picture's own reduction turned, whatever the box's shape: a box whose
// sides scale the picture unequally shows any width and height taken the wrong way round.
TEST_F(JpegReaderTest, TurnedPicturesReducedAsStoredAreTheStoredReductionTurned) {
    Picture p{90, 40, 3, JCS_RGB, {}};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const int quadrant = (y / 20) * 2 + x / 45;
            p.samples.push_back(static_cast<uint8_t>(40 + 50 * quadrant + x));
            p.samples.push_back(static_cast<uint8_t>(200 - 40 * quadrant + y));
            p.samples.push_back(static_cast<uint8_t>(30 + 2 * x + 3 * y));
        }
    const std::string plain = EncodeJpeg(p, JCS_YCbCr);
    const std::string plainFile = Write(plain);
    struct Case {
        int boxWidth, boxHeight;
        bool reduced;
    };
    const Case cases[] = {{20, 50, false}, {33, 17, false}, {14, 1000, true}, {9, 19, true}};
    for (const Case& c : cases) {
        CImage stored;
        stored.streamSource = true;
        stored.reducedDecode = c.reduced;
        stored.LoadNow(plainFile, c.boxHeight, c.boxWidth);
        const RgbPicture storedSmall = ShownPixels(stored);
        ASSERT_GT(storedSmall.width, 0);
        for (int o = 5; o <= 8; ++o) {
            CImage turned;
            turned.streamSource = true;
            turned.reducedDecode = c.reduced;
            turned.LoadNow(Write(WithExifSegment(plain, ExifBlock(o, false))), c.boxWidth,
                           c.boxHeight);
            EXPECT_TRUE(turned.done) << o;
            const RgbPicture got = ShownPixels(turned);
            const RgbPicture want = Oriented(storedSmall, o);
            ASSERT_EQ(got.width, want.width) << "orientation " << o << " box " << c.boxWidth;
            ASSERT_EQ(got.height, want.height) << "orientation " << o << " box " << c.boxWidth;
            EXPECT_EQ(got.bytes, want.bytes) << "orientation " << o << " box " << c.boxWidth;
        }
    }
}

TEST_F(JpegReaderTest, OrientationIsIgnoredWhenTurnedOffOrDamaged) {
    const std::string plain = EncodeJpeg(Quadrants(), JCS_YCbCr);
    CImage stored;
    stored.LoadNow(Write(plain), 1000, 1000);
    const RgbPicture asStored = ShownPixels(stored);

    std::string cut = ExifBlock(6, false);
    cut.resize(cut.size() - 6);  // the entry's value lies past the segment's end
    const std::string upright = Write(WithExifSegment(plain, ExifBlock(6, false)));
    const std::string damaged = Write(WithExifSegment(plain, cut));
    CImage image;
    image.LoadNow(damaged, 1000, 1000);
    EXPECT_EQ(ShownPixels(image).bytes, asStored.bytes);

    WriteSetting(settings::kApplyOrientation, 0);
    CImage raw;
    raw.LoadNow(upright, 1000, 1000);
    EXPECT_EQ(ShownPixels(raw).bytes, asStored.bytes);
    WriteSetting(settings::kApplyOrientation, 1);
    CImage turned;
    turned.LoadNow(upright, 1000, 1000);
    EXPECT_EQ(ShownPixels(turned).bytes, Oriented(asStored, 6).bytes);
}

// The start file's early read is taken over only by a reader of that very file, unchanged, and
// the rows then are the single-pass ones; any other reader reads its file itself.
TEST_F(JpegReaderTest, AnEarlyReadIsTakenOverOnlyForTheFileItRead) {
    const std::string photo = CorpusPath("jpeg/go-image-testdata/video-001.progressive.jpeg");
    const std::string other = CorpusPath("jpeg/go-image-testdata/video-005.gray.q50.2x2.progressive.jpeg");
    enum Case { kSameFile, kOtherFile, kReplaced };
    for (const Case c : {kSameFile, kOtherFile, kReplaced}) {
        SCOPED_TRACE(c);
        const std::string early = Write(ReadWholeFile(photo).value());
        const std::string opened = c == kOtherFile ? Write(ReadWholeFile(other).value()) : early;
        StartEarlyJpegRead(early);
        if (c == kReplaced) {
            // Replaced once the early read has it open.
            const auto opensIt = [&] {
                for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
                    std::error_code error;
                    if (fs::read_symlink(fd.path(), error) == early) return true;
                }
                return false;
            };
            for (int i = 0; i < 2000 && !opensIt(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const std::string replacement = Write(ReadWholeFile(other).value());
            fs::rename(replacement, early);
        }
        int width = 0, height = 0;
        const std::vector<uint8_t> expected =
            SinglePassDecode(c == kSameFile ? photo : other, &width, &height);
        CJpegReader reader(opened);
        reader.OpenFile();
        reader.coarsePass = true;
        EndEarlyJpegRead();
        ASSERT_EQ(reader.header.bmiHeader.biWidth, width);
        ASSERT_EQ(reader.header.bmiHeader.biHeight, -height);
        const size_t rowBytes = static_cast<size_t>(width) * 3;
        std::vector<uint8_t> rows(rowBytes * height + 4);
        // A coarse pass comes first unless every scan was in before the first row.
        do {
            for (int y = 0; y < height; ++y) {
                uint8_t* p = rows.data() + y * rowBytes;
                ASSERT_EQ(reader.NextLine(&p), y);
            }
        } while (reader.NextPass());
        EXPECT_TRUE(reader.failure.empty()) << reader.failure;
        EXPECT_EQ(0, std::memcmp(rows.data(), expected.data(), expected.size()));
    }
}
