#include "image/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/resample_reference.h"

namespace {

// Points the row at the next row of a picture already in memory, as an image does for a load
// that resamples its decoded source again (the image's current line is the path's).
class PointingRows : public INextLine {
public:
    PointingRows(TestPicture& picture, int32_t& line) : picture_(picture), line_(line) {}
    int NextLine(uint8_t** row) override {
        if (line_ + 1 < picture_.height) ++line_;
        *row = picture_.Row(line_);
        return line_;
    }

private:
    TestPicture& picture_;
    int32_t& line_;
};

enum class Path { kBox, kSinc };

struct Resampled {
    TestPicture display;
    int32_t rowsRead = 0;
};

// Runs a path over a picture delivered row by row (fromReader) or pointed at in memory.
Resampled Resample(Path path, const TestPicture& src, int32_t dw, int32_t dh, bool rgbOrder,
                   bool fromReader, bool streaming = false, int32_t rowsDelivered = -1,
                   bool ownRows = false) {
    Resampled run;
    run.display = TestPicture(dw, dh, src.bytesPerPixel);
    run.display.pixels.pop_back();  // the display buffer has no spare byte
    TestPicture held = fromReader ? TestPicture(src.width, src.height, src.bytesPerPixel) : src;
    MemoryRows reader(src, rowsDelivered, ownRows);
    int32_t currentLine = -1;
    PointingRows pointer(held, currentLine);
    ResampleJob job;
    job.lines = fromReader ? static_cast<INextLine*>(&reader) : static_cast<INextLine*>(&pointer);
    job.fromReader = fromReader;
    job.source = held.pixels.data();
    job.sourceStride = held.stride;
    job.sourceWidth = src.width;
    job.sourceHeight = src.height;
    job.currentLine = &currentLine;
    job.display = run.display.pixels.data();
    job.displayStride = run.display.stride;
    job.displayWidth = dw;
    job.displayHeight = dh;
    job.bytesPerPixel = src.bytesPerPixel;
    job.rgbOrder = rgbOrder;
    job.streaming = streaming;
    if (streaming) job.source = nullptr;  // nothing may be read from or written to a source
    EXPECT_FALSE(path == Path::kBox ? RunBoxPath(job) : RunSincPath(job));
    run.rowsRead = currentLine + 1;
    return run;
}

TestPicture Reference(Path path, const TestPicture& src, int32_t dw, int32_t dh, bool rgbOrder) {
    TestPicture display(dw, dh, src.bytesPerPixel);
    display.pixels.pop_back();
    if (path == Path::kBox)
        reference::Box(src, rgbOrder, display);
    else
        reference::Sinc(src, rgbOrder, display);
    return display;
}

struct Sizes {
    int32_t sw, sh, dw, dh;
};

std::string Describe(const Sizes& s) {
    return std::to_string(s.sw) + "x" + std::to_string(s.sh) + " -> " + std::to_string(s.dw) + "x" +
           std::to_string(s.dh);
}

std::vector<ResampleKernels> KernelSets() {
    std::vector<ResampleKernels> sets{ResampleKernels::kPortable};
    const ResampleKernels best = ActiveResampleKernels();
    if (UseResampleKernels(ResampleKernels::kAvx2)) sets.push_back(ResampleKernels::kAvx2);
    if (UseResampleKernels(ResampleKernels::kAvx512)) sets.push_back(ResampleKernels::kAvx512);
    UseResampleKernels(best);
    return sets;
}

class ResampleTest : public testing::Test {
protected:
    void SetUp() override {
        BuildGammaTables();
        saved_ = ActiveResampleKernels();
    }
    void TearDown() override { UseResampleKernels(saved_); }

    // Every kernel set, both pixel sizes, both channel orders, both kinds of line source: the
    // bytes must be the reference's, padding and spare bytes included.
    void ExpectSameAsReference(Path path, const std::vector<Sizes>& sizes) {
        uint32_t seed = 1;
        for (ResampleKernels kernels : KernelSets()) {
            ASSERT_TRUE(UseResampleKernels(kernels));
            for (const Sizes& s : sizes) {
                for (int bpp : {3, 4}) {
                    const TestPicture src = RandomPicture(s.sw, s.sh, bpp, seed++);
                    for (bool rgbOrder : {false, true}) {
                        const TestPicture expected = Reference(path, src, s.dw, s.dh, rgbOrder);
                        for (bool fromReader : {true, false}) {
                            const Resampled run =
                                Resample(path, src, s.dw, s.dh, rgbOrder, fromReader);
                            ASSERT_EQ(run.display.pixels, expected.pixels)
                                << Describe(s) << " bpp " << bpp << " rgb " << rgbOrder
                                << " reader " << fromReader << " kernels "
                                << static_cast<int>(kernels);
                            ASSERT_EQ(run.rowsRead, s.sh) << Describe(s);
                        }
                    }
                }
            }
        }
    }

    ResampleKernels saved_ = ResampleKernels::kPortable;
};

std::vector<Sizes> RandomSizes(int count, bool shrinkBoth, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Sizes> sizes;
    while (static_cast<int>(sizes.size()) < count) {
        Sizes s{1 + static_cast<int32_t>(random() % 180), 1 + static_cast<int32_t>(random() % 180),
                1 + static_cast<int32_t>(random() % 180), 1 + static_cast<int32_t>(random() % 180)};
        if (shrinkBoth) {
            if (s.sw < 2 || s.sh < 2) continue;
            s.dw = 1 + s.dw % (s.sw - 1);
            s.dh = 1 + s.dh % (s.sh - 1);
        }
        sizes.push_back(s);
    }
    return sizes;
}

TEST_F(ResampleTest, BoxPathMatchesTheStraightforwardSums) {
    std::vector<Sizes> sizes{{2, 2, 1, 1},         {4, 4, 2, 2},       {3, 3, 2, 2},
                             {5, 7, 4, 6},         {101, 99, 100, 98}, {640, 21, 639, 20},
                             {997, 601, 13, 7},    {1000, 3, 3, 1},    {3, 1000, 2, 9},
                             {1201, 803, 160, 107}};
    const std::vector<Sizes> random = RandomSizes(40, true, 7);
    sizes.insert(sizes.end(), random.begin(), random.end());
    ExpectSameAsReference(Path::kBox, sizes);
}

// Batch loads read the rows through a few rows of working memory instead of a full source:
// the same bytes, every row read once.
TEST_F(ResampleTest, StreamedBoxPathMatchesTheFullSourceOne) {
    std::vector<Sizes> sizes{{2, 2, 1, 1},      {101, 99, 100, 98}, {997, 601, 13, 7},
                             {3, 1000, 2, 9},   {1000, 3, 3, 1},    {600, 400, 192, 128},
                             {640, 21, 639, 20}};
    const std::vector<Sizes> random = RandomSizes(60, true, 13);
    sizes.insert(sizes.end(), random.begin(), random.end());
    uint32_t seed = 100;
    for (ResampleKernels kernels : KernelSets()) {
        ASSERT_TRUE(UseResampleKernels(kernels));
        for (const Sizes& s : sizes) {
            for (int bpp : {3, 4}) {
                const TestPicture src = RandomPicture(s.sw, s.sh, bpp, seed++);
                const Resampled full = Resample(Path::kBox, src, s.dw, s.dh, bpp == 3, true);
                // Rows copied into the pipe's slots, and mixed with rows the reader points at.
                for (bool ownRows : {false, true}) {
                    const Resampled streamed =
                        Resample(Path::kBox, src, s.dw, s.dh, bpp == 3, true, true, -1, ownRows);
                    ASSERT_EQ(streamed.display.pixels, full.display.pixels) << Describe(s);
                    ASSERT_EQ(streamed.rowsRead, s.sh) << Describe(s);
                    // A file that ends early: the rows it never delivered count as black in
                    // both, however the rows before them came.
                    const int32_t delivered = s.sh / 2;
                    ASSERT_EQ(
                        Resample(Path::kBox, src, s.dw, s.dh, false, true, true, delivered, ownRows)
                            .display.pixels,
                        Resample(Path::kBox, src, s.dw, s.dh, false, true, false, delivered)
                            .display.pixels)
                        << Describe(s);
                }
            }
        }
    }
}

TEST_F(ResampleTest, SincPathMatchesTheStraightforwardSums) {
    // Enlarged both ways, one way only, and smaller one way (upscaling allowed).
    std::vector<Sizes> sizes{{1, 1, 100, 100}, {1, 3, 100, 300},  {2, 2, 200, 200},
                             {3, 2, 7, 5},     {17, 13, 40, 31},  {100, 75, 192, 144},
                             {50, 40, 30, 80}, {64, 64, 64, 128}, {301, 7, 5, 300}};
    const std::vector<Sizes> random = RandomSizes(30, false, 11);
    sizes.insert(sizes.end(), random.begin(), random.end());
    ExpectSameAsReference(Path::kSinc, sizes);
}

TestPicture Uniform(int32_t w, int32_t h, int bpp, uint8_t value, uint8_t padding) {
    TestPicture pic(w, h, bpp);
    std::fill(pic.pixels.begin(), pic.pixels.end(), padding);
    for (int32_t r = 0; r < h; ++r)
        std::fill(pic.Row(r), pic.Row(r) + static_cast<size_t>(w) * bpp, value);
    return pic;
}

// Every filtered byte of the display, in memory order.
std::vector<uint8_t> Samples(const TestPicture& display) {
    std::vector<uint8_t> samples;
    for (int32_t r = 0; r < display.height; ++r)
        for (int32_t i = 0; i < display.width; ++i)
            for (int ch = 0; ch < 3; ++ch)
                samples.push_back(
                    display.Row(r)[static_cast<size_t>(i) * display.bytesPerPixel + ch]);
    return samples;
}

TEST_F(ResampleTest, GammaTablesHoldTheirFormulasEverywhere) {
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(g_linearLight[v], static_cast<float>(std::pow(v / 255.0, 2.2))) << v;
    for (int32_t i = 0; i < kOutputGammaSize; ++i)
        ASSERT_EQ(g_outputGamma[i], OutputGammaEntry(i)) << i;
    EXPECT_EQ(g_outputGamma[43903], 127);
    EXPECT_EQ(g_outputGamma[200000], 255);
    EXPECT_EQ(g_outputGamma[199999], 254);
}

TEST_F(ResampleTest, UniformGreyLosesOneStepThroughLinearLight) {
    const std::pair<uint8_t, uint8_t> cases[] = {{128, 127}, {1, 0}, {200, 199},
                                                 {254, 253}, {0, 0}, {255, 255}};
    for (const auto& [in, out] : cases) {
        const Resampled run = Resample(Path::kBox, Uniform(4, 4, 3, in, 0), 2, 2, false, true);
        EXPECT_EQ(Samples(run.display), std::vector<uint8_t>(12, out)) << int(in);
    }
}

// The edges of the last column and row are sums of repeated additions and can land a hair past
// the picture. Those taps must read the last pixel and row, never a row's padding, the next row,
// or bytes past the buffer: what the padding holds makes no difference.
TEST_F(ResampleTest, BoxTapsPastTheEdgeReadTheLastPixel) {
    for (ResampleKernels kernels : KernelSets()) {
        ASSERT_TRUE(UseResampleKernels(kernels));
        for (int32_t sw : {5, 9, 13, 101}) {
            for (int32_t dw = 1; dw < sw; ++dw) {
                const int32_t sh = 40, dh = 3;
                TestPicture dark = RandomPicture(sw, sh, 3, static_cast<uint32_t>(sw * 100 + dw));
                TestPicture bright = dark;
                for (int32_t r = 0; r < sh; ++r)
                    for (int32_t x = sw * 3; x < dark.stride; ++x) {
                        dark.Row(r)[x] = 0;
                        bright.Row(r)[x] = 255;
                    }
                for (bool fromReader : {false, true}) {
                    const Resampled a = Resample(Path::kBox, dark, dw, dh, false, fromReader);
                    const Resampled b = Resample(Path::kBox, bright, dw, dh, false, fromReader);
                    ASSERT_EQ(a.display.pixels, b.display.pixels) << sw << " -> " << dw;
                }
            }
        }
    }
}

TEST_F(ResampleTest, ThreeColumnsToTwoWeighTheMiddleColumnHalf) {
    // Column 0 takes source 0 at weight 1 and source 1 at 0.5; column 1 the mirror image. Rows
    // are alike, so a white source column alone gives 1/1.5 or 0.5/1.5 of full intensity:
    // 255 x (2/3)^(1/2.2) = 212.08 and 255 x (1/3)^(1/2.2) = 154.76.
    auto row = [](uint8_t a, uint8_t b, uint8_t c) {
        TestPicture pic(3, 3, 3);
        for (int32_t r = 0; r < 3; ++r)
            for (int ch = 0; ch < 3; ++ch) {
                pic.Row(r)[ch] = a;
                pic.Row(r)[3 + ch] = b;
                pic.Row(r)[6 + ch] = c;
            }
        return pic;
    };
    auto columnValues = [](const Resampled& run) {
        return std::vector<uint8_t>{run.display.Row(0)[0], run.display.Row(0)[3],
                                    run.display.Row(1)[0], run.display.Row(1)[3]};
    };
    EXPECT_EQ(columnValues(Resample(Path::kBox, row(255, 0, 0), 2, 2, false, true)),
              (std::vector<uint8_t>{212, 0, 212, 0}));
    EXPECT_EQ(columnValues(Resample(Path::kBox, row(0, 255, 0), 2, 2, false, true)),
              (std::vector<uint8_t>{154, 154, 154, 154}));
    EXPECT_EQ(columnValues(Resample(Path::kBox, row(0, 0, 255), 2, 2, false, true)),
              (std::vector<uint8_t>{0, 212, 0, 212}));
}

// The value a uniform area comes back as after linear light and back.
uint8_t RoundTrip(uint8_t value) {
    return Resample(Path::kBox, Uniform(4, 4, 3, value, 0), 2, 2, false, true).display.Row(0)[0];
}

TEST_F(ResampleTest, OnePixelWideSourceEnlargedKeepsItsColour) {
    // One source pixel: a single tap of weight 1 each way, only the round trip remains.
    TestPicture dot(1, 1, 3);
    dot.Row(0)[0] = 128, dot.Row(0)[1] = 200, dot.Row(0)[2] = 90;
    const Resampled big = Resample(Path::kSinc, dot, 100, 100, true, true);
    for (int32_t r = 0; r < 100; ++r)
        for (int32_t i = 0; i < 100; ++i) {
            const uint8_t* px = big.display.Row(r) + i * 3;
            ASSERT_EQ(px[2], 127);  // source byte 0 lands in byte 2 for R, G, B sources
            ASSERT_EQ(px[1], 199);
            ASSERT_EQ(px[0], RoundTrip(90));
        }
    // A one-pixel-wide column: every display row is one colour across its width.
    const TestPicture column = RandomPicture(1, 9, 3, 5);
    const Resampled wide = Resample(Path::kSinc, column, 100, 20, false, true);
    for (int32_t r = 0; r < 20; ++r)
        for (int32_t i = 1; i < 100; ++i)
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_EQ(wide.display.Row(r)[i * 3 + ch], wide.display.Row(r)[ch]) << r;
}

TEST_F(ResampleTest, TwoByTwoEnlargedReachesTheLastRowAndColumn) {
    TestPicture src(2, 2, 3);
    for (int ch = 0; ch < 3; ++ch) src.Row(1)[3 + ch] = 255;  // last row, last column
    const Resampled run = Resample(Path::kSinc, src, 200, 200, false, true);
    auto at = [&](int32_t r, int32_t i) { return run.display.Row(r)[i * 3]; };
    // At the bright pixel's corner its weight exceeds 1 both ways: full white. Along the
    // opposite edges the other row's (or column's) negative lobe clamps to black.
    EXPECT_EQ(at(199, 199), 255);
    EXPECT_EQ(at(0, 199), 0);
    EXPECT_EQ(at(199, 0), 0);
    for (int32_t i = 101; i < 200; ++i) ASSERT_GE(at(199, i), at(199, i - 1)) << i;
    EXPECT_GT(at(199, 150), at(199, 100));
    for (int32_t r = 0; r < 200; r += 7)
        for (int32_t i = 0; i < 200; i += 5) ASSERT_EQ(at(r, i), at(i, r));
}

TEST_F(ResampleTest, DirectPathWritesRowsInPlaceTurningRgbIntoBgr) {
    for (ResampleKernels kernels : KernelSets()) {
        ASSERT_TRUE(UseResampleKernels(kernels));
        for (int32_t w : {1, 2, 9, 10, 11, 12, 21, 33, 100}) {
            for (bool rgbOrder : {false, true}) {
                const TestPicture src = RandomPicture(w, 5, 3, static_cast<uint32_t>(w));
                TestPicture held(w, 5, 3);
                MemoryRows reader(src);
                int32_t currentLine = -1;
                ResampleJob job;
                job.lines = &reader;
                job.fromReader = true;
                job.source = held.pixels.data();
                job.sourceStride = held.stride;
                job.sourceWidth = job.displayWidth = w;
                job.sourceHeight = job.displayHeight = 5;
                job.currentLine = &currentLine;
                job.rgbOrder = rgbOrder;
                EXPECT_FALSE(RunDirectPath(job));
                EXPECT_EQ(currentLine, 4);
                for (int32_t r = 0; r < 5; ++r) {
                    for (int32_t x = 0; x < w; ++x)
                        for (int ch = 0; ch < 3; ++ch)
                            ASSERT_EQ(held.Row(r)[3 * x + ch],
                                      src.Row(r)[3 * x + (rgbOrder ? 2 - ch : ch)])
                                << w << " " << x;
                    // The reader copies whole rows; nothing past the pixels is touched after.
                    for (int32_t b = 3 * w; b < held.stride; ++b)
                        ASSERT_EQ(held.Row(r)[b], src.Row(r)[b]);
                }
            }
        }
    }
}

TEST_F(ResampleTest, AStoppedPathEndsAfterTheRowItWasToldAbout) {
    struct StopAt : IRowHook {
        int32_t stopRow = 0;
        std::vector<int32_t> rows;
        bool AfterRow(int32_t row) override {
            rows.push_back(row);
            return row == stopRow;
        }
    };
    const TestPicture src = RandomPicture(60, 40, 3, 3);
    for (Path path : {Path::kBox, Path::kSinc}) {
        StopAt hook;
        hook.stopRow = 4;
        TestPicture display(20, 10, 3);
        TestPicture held(60, 40, 3);
        MemoryRows reader(src);
        int32_t currentLine = -1;
        ResampleJob job;
        job.lines = &reader;
        job.fromReader = true;
        job.source = held.pixels.data();
        job.sourceStride = held.stride;
        job.sourceWidth = 60;
        job.sourceHeight = 40;
        job.currentLine = &currentLine;
        job.display = display.pixels.data();
        job.displayStride = display.stride;
        job.displayWidth = path == Path::kBox ? 20 : 90;
        job.displayHeight = path == Path::kBox ? 10 : 60;
        if (path == Path::kSinc) {
            display = TestPicture(90, 60, 3);
            job.display = display.pixels.data();
            job.displayStride = display.stride;
        }
        job.hook = &hook;
        EXPECT_TRUE(path == Path::kBox ? RunBoxPath(job) : RunSincPath(job));
        EXPECT_EQ(hook.rows, (std::vector<int32_t>{0, 1, 2, 3, 4}));
        // Rows are read as the display rows need them, not ahead to the end.
        EXPECT_LT(currentLine, 30);
        EXPECT_EQ(currentLine, reader.line());
    }
}

}  // namespace
