#include "image/image.h"

#include <gtest/gtest.h>

#include "image/bitmap.h"
#include "image/reader.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/temp_dir.h"

namespace {

// A 24-bit BMP of the given size whose pixel (x, y) (top-down) is (x, y, 7) as B, G, R.
std::string GradientBmp(int32_t w, int32_t h, bool bottomUp = true) {
    std::vector<std::vector<uint8_t>> rows;
    for (int32_t y = 0; y < h; ++y) {
        std::vector<uint8_t> row;
        for (int32_t x = 0; x < w; ++x) {
            row.push_back(static_cast<uint8_t>(x));
            row.push_back(static_cast<uint8_t>(y));
            row.push_back(7);
        }
        rows.push_back(row);
    }
    BmpDesc desc;
    desc.width = w;
    desc.height = bottomUp ? h : -h;
    desc.pixels = PackRows(rows, bottomUp);
    return BuildBmp(desc);
}

class ImageTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }
    std::string Bmp(int32_t w, int32_t h, bool bottomUp = true) {
        const std::string path = dir_.file("img" + std::to_string(w) + "x" + std::to_string(h) + ".bmp");
        WriteFileBytes(path, GradientBmp(w, h, bottomUp));
        return path;
    }
    TempDir dir_;
};

TEST(BitmapTest, StridesRoundRowsUpToFourBytes) {
    EXPECT_EQ(DibStride(3, 24), 12);
    EXPECT_EQ(DibStride(1, 24), 4);
    EXPECT_EQ(DibStride(4, 24), 12);
    EXPECT_EQ(DibStride(5, 32), 20);
    EXPECT_EQ(DibStride(0, 24), 0);
    EXPECT_FALSE(IsAcceptableImageSize(1 << 15, (1 << 13) + 1, 32));
    EXPECT_TRUE(IsAcceptableImageSize(1 << 14, 1 << 14, 32));
    EXPECT_FALSE(IsAcceptableImageSize(0, 5, 24));
    EXPECT_FALSE(IsAcceptableImageSize(0x7FFFFFFF, 0x7FFFFFFF, 32));
}

TEST_F(ImageTest, OpenReadsTheHeaderAndAllocatesTheSourceWithASpareByte) {
    CImage image;
    image.Open(Bmp(3, 2));
    EXPECT_EQ(image.GetSourceWidth(), 3);
    EXPECT_EQ(image.GetSourceHeight(), 2);
    EXPECT_EQ(image.sourceStride, 12);
    EXPECT_EQ(image.sourceBytes, 12u * 2 + 1);
    EXPECT_TRUE(image.decodePending);
    EXPECT_EQ(image.displayBuffer, image.sourceBuffer);
    EXPECT_EQ(image.sourceHeader.bmiHeader.biHeight, 2);
}

struct Box {
    int32_t sw, sh, maxW, maxH;
    bool upscale;
    int32_t w, h;
    bool downscale;
};

class SizeLimitTest : public ImageTest, public testing::WithParamInterface<Box> {};

TEST_P(SizeLimitTest, FitsTheBoxKeepingTheAspectRatio) {
    const Box& b = GetParam();
    CImage image;
    image.Open(Bmp(b.sw, b.sh));
    image.SetSizeLimit(b.maxW, b.maxH, false, b.upscale);
    EXPECT_EQ(image.displayHeader.bmiHeader.biWidth, b.w);
    EXPECT_EQ(image.displayHeader.bmiHeader.biHeight, b.h);
    EXPECT_EQ(image.downscale, b.downscale);
    EXPECT_EQ(image.upscale, b.upscale);
    if (!b.downscale && !b.upscale) {
        EXPECT_EQ(image.displayBuffer, image.sourceBuffer);
        EXPECT_EQ(image.displayStride, image.sourceStride);
    } else {
        EXPECT_NE(image.displayBuffer, image.sourceBuffer);
        EXPECT_EQ(image.displayStride, DibStride(b.w, 24));
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, SizeLimitTest,
                         testing::Values(Box{400, 200, 0, 300, true, 600, 300, false},
                                         Box{400, 200, 0, 300, false, 400, 200, false},
                                         Box{1000, 500, 128, 128, false, 128, 64, true},
                                         Box{100, 50, 128, 128, false, 100, 50, false},
                                         Box{400, 200, 300, 100, false, 200, 100, true},
                                         Box{400, 200, 200, 0, false, 200, 100, true},
                                         // A tie: the height limits.
                                         Box{400, 200, 200, 100, false, 200, 100, true}));

TEST_F(ImageTest, DisplayKeepsTheRowOrderOfTheSource) {
    CImage bottomUp;
    bottomUp.Open(Bmp(40, 20, true));
    bottomUp.SetSizeLimit(10, 0, false, false);
    EXPECT_EQ(bottomUp.displayHeader.bmiHeader.biHeight, 5);
    CImage topDown;
    topDown.Open(Bmp(40, 20, false));
    topDown.SetSizeLimit(10, 0, false, false);
    EXPECT_EQ(topDown.displayHeader.bmiHeader.biHeight, -5);
}

TEST_F(ImageTest, LoadNowDeliversRowsInMemoryOrderStraightIntoTheSource) {
    CImage image;
    image.LoadNow(Bmp(3, 2), 1 << 30, 1 << 30);
    ASSERT_EQ(image.GetWidth(), 3);
    ASSERT_EQ(image.GetHeight(), 2);
    EXPECT_TRUE(image.done);
    EXPECT_FALSE(image.decodePending);
    // Bottom-up: memory row 0 is the picture's bottom row (y = 1).
    const uint8_t* row0 = image.displayBuffer;
    EXPECT_EQ(row0[0], 0);
    EXPECT_EQ(row0[1], 1);
    EXPECT_EQ(row0[2], 7);
    EXPECT_EQ(row0[3 * 2], 2);
    const uint8_t* row1 = image.displayBuffer + image.displayStride;
    EXPECT_EQ(row1[1], 0);
}

TEST_F(ImageTest, NextLineKeepsPointingAtTheLastRow) {
    CImage image;
    image.LoadNow(Bmp(2, 3), 1 << 30, 1 << 30);
    image.currentLine = -1;  // as a load from memory starts
    uint8_t* row = nullptr;
    EXPECT_EQ(image.NextLine(&row), 0);
    EXPECT_EQ(row, image.sourceBuffer);
    EXPECT_EQ(image.NextLine(&row), 1);
    EXPECT_EQ(image.NextLine(&row), 2);
    EXPECT_EQ(image.NextLine(&row), 2);
    EXPECT_EQ(image.NextLine(&row), 2);
    EXPECT_EQ(row, image.sourceBuffer + 2 * image.sourceStride);
}

TEST_F(ImageTest, AFileWithoutReaderLeavesTheImageEmpty) {
    CImage image;
    image.Open(dir_.file("notes.txt"));
    EXPECT_EQ(image.reader(), nullptr);
    EXPECT_EQ(image.GetSourceWidth(), 0);
    image.LoadNow(dir_.file("missing.bmp"), 100, 100);
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_TRUE(image.done);
}

TEST_F(ImageTest, DiscardSourceKeepsTheDisplayAndDecodesAgainLater) {
    CImage image;
    const std::string file = Bmp(64, 32);
    image.LoadNow(file, 16, 0);
    ASSERT_EQ(image.GetWidth(), 16);
    ASSERT_EQ(image.GetHeight(), 8);
    image.DiscardSource();
    EXPECT_EQ(image.sourceBuffer, image.displayBuffer);
    EXPECT_EQ(image.reader(), nullptr);
    EXPECT_TRUE(image.decodePending);
    EXPECT_EQ(image.GetSourceWidth(), 64);
    EXPECT_EQ(image.GetWidth(), 16);
    // A new size starts over from the file.
    image.SetSizeLimit(32, 0, false, false);
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    image.FinishLoad();
    EXPECT_EQ(image.GetWidth(), 32);
    EXPECT_EQ(image.GetHeight(), 16);
    EXPECT_TRUE(image.done);
}

}  // namespace
