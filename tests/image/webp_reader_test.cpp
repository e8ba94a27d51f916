#include "image/webp_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "image/image.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace {

std::string WebpData(const std::string& name) {
    return std::string(LUMORA_TEST_DATA_DIR) + "/webp/" + name;
}

// Lossless files against their sources; lossy ones against dwebp's decode of the same file.
TEST(WebpReaderTest, FilesMatchTheirSourcesOrAnIndependentDecode) {
    struct Case {
        const char* file;
        std::string reference;
        int bitCount;
        int maxDiff;
    };
    const Case cases[] = {
        {"lossless.webp", WebpData("photo.png"), 24, 0},
        {"alpha-lossless.webp", CorpusPath("png/pngsuite-go-subset/basn6a08.png"), 32, 0},
        {"lossy.webp", WebpData("lossy-dwebp.png"), 24, 0},
        {"alpha-lossy.webp", WebpData("alpha-lossy-dwebp.png"), 32, 0},
        // The first frame, composed on its canvas.
        {"animated.webp", WebpData("animated-dwebp.png"), 32, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CImage image;
        image.LoadNow(WebpData(c.file), 1 << 30, 1 << 30);
        EXPECT_EQ(image.failure, "");
        EXPECT_EQ(image.displayHeader.bmiHeader.biBitCount, c.bitCount);
        RefImage ref;
        ASSERT_TRUE(LoadReferencePng(c.reference, ref));
        const PixelDiff diff = CompareWithReference(image, ref, c.bitCount == 32);
        EXPECT_TRUE(diff.sameSize);
        EXPECT_LE(diff.maxDiff, c.maxDiff);
    }
}

// Half a file: the rows it holds are shown, the rest stays as the buffer was, and the load ends.
TEST(WebpReaderTest, ATruncatedFileKeepsTheRowsItHolds) {
    CImage whole, cut;
    whole.LoadNow(WebpData("lossy.webp"), 1 << 30, 1 << 30);
    cut.LoadNow(WebpData("truncated.webp"), 1 << 30, 1 << 30);
    EXPECT_TRUE(cut.done);
    EXPECT_EQ(cut.failure.rfind("truncated", 0), 0u) << cut.failure;
    ASSERT_EQ(cut.GetWidth(), whole.GetWidth());
    ASSERT_EQ(cut.GetHeight(), whole.GetHeight());
    // Top-down rows: the first ones equal the whole file's.
    ASSERT_LT(cut.displayHeader.bmiHeader.biHeight, 0);
    const size_t rowBytes = static_cast<size_t>(cut.GetWidth()) * 3;
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(std::memcmp(cut.displayBuffer + y * cut.displayStride,
                              whole.displayBuffer + y * whole.displayStride, rowBytes),
                  0)
            << "row " << y;
    }
}

TEST(WebpReaderTest, ForeignEmptyAndOverclaimingFilesDeclareNothing) {
    TempDir dir;
    // A few KiB of lossy data claiming 16383 x 16383 pixels would keep the decoder busy for
    // seconds on nothing.
    std::string huge = ReadFileBytes(WebpData("lossy.webp"));
    ASSERT_EQ(huge.substr(12, 4), "VP8 ");
    huge[26] = huge[28] = '\xff';
    huge[27] = huge[29] = '\x3f';
    for (const std::string& bytes : {std::string(), std::string("RIFF\x10\0\0\0WEBPVP8 ", 16),
                                     std::string("GIF89a not a webp"), huge}) {
        const std::string path = dir.file("x.webp");
        WriteFileBytes(path, bytes);
        CWebpReader reader(path);
        reader.OpenFile();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0);
        EXPECT_NE(reader.failure, "");
    }
}

}  // namespace
