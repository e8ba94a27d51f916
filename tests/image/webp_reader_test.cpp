#include "image/webp_reader.h"

#include <gtest/gtest.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <cstring>
#include <vector>

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
    // 3.5 KiB of animation whose canvas, 17 x 15,400,706, is just under the pixel cap: its
    // decoder would allocate and clear two 1 GB canvases before finding the frames damaged.
    const std::string canvas = ReadFileBytes(WebpData("overclaiming-animation.webp"));
    for (const std::string& bytes : {std::string(), std::string("RIFF\x10\0\0\0WEBPVP8 ", 16),
                                     std::string("GIF89a not a webp"), huge, canvas}) {
        const std::string path = dir.file("x.webp");
        WriteFileBytes(path, bytes);
        CWebpReader reader(path);
        reader.OpenFile();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0);
        EXPECT_NE(reader.failure, "");
        if (bytes == canvas) {
            EXPECT_EQ(reader.failure, "WebP picture too large for its file");
        }
    }
}

// Rows decoded straight into the picture's buffer, whose rows are padded to 4 bytes here (61
// pixels), against an independent one-call decode of the same bytes; and a reduced load, whose
// rows go into the source buffer, against a streamed one (batch resize), whose rows come from the
// library's own picture. The large noisy one is read in many steps, so the streamed load reuses
// the pages of the rows already resampled for rows still to come.
TEST(WebpReaderTest, RowsDecodedIntoThePictureMatchCopiedOnes) {
    TempDir dir;
    struct Case {
        int width, height;
        bool lossless;
    };
    for (const Case c : {Case{61, 37, true}, Case{61, 37, false}, Case{2400, 1600, false}}) {
        const int width = c.width, height = c.height, stride = width * 3;
        SCOPED_TRACE(testing::Message() << width << " x " << height
                                        << (c.lossless ? " lossless" : " lossy"));
        std::vector<uint8_t> bgr(static_cast<size_t>(stride) * height);
        uint32_t noise = 12345;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t* p = &bgr[static_cast<size_t>(y) * stride + 3 * x];
                noise = noise * 1664525u + 1013904223u;
                const int grain = width > 100 ? static_cast<int>(noise >> 26) : 0;
                p[0] = static_cast<uint8_t>(x * 4 + grain), p[1] = static_cast<uint8_t>(y * 7);
                p[2] = static_cast<uint8_t>(((x * y) ^ 0x5a) + grain);
            }
        uint8_t* encoded = nullptr;
        const size_t size = c.lossless
                                ? WebPEncodeLosslessBGR(bgr.data(), width, height, stride, &encoded)
                                : WebPEncodeBGR(bgr.data(), width, height, stride, 80, &encoded);
        ASSERT_GT(size, 0u);
        const std::string bytes(reinterpret_cast<const char*>(encoded), size);
        WebPFree(encoded);
        const std::string path = dir.file("padded.webp");
        WriteFileBytes(path, bytes);
        int w = 0, h = 0;
        uint8_t* expected =
            WebPDecodeBGR(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &w, &h);
        ASSERT_NE(expected, nullptr);

        CImage full;
        full.LoadNow(path, 1 << 30, 1 << 30);
        ASSERT_EQ(full.GetWidth(), width);
        ASSERT_EQ(full.GetHeight(), height);
        const size_t padded = (static_cast<size_t>(stride) + 3) & ~size_t{3};
        ASSERT_EQ(static_cast<size_t>(full.displayStride), padded);
        for (int y = 0; y < height; ++y)
            ASSERT_EQ(std::memcmp(full.displayBuffer + static_cast<size_t>(y) * padded,
                                  expected + static_cast<size_t>(y) * stride, stride),
                      0)
                << "row " << y;
        WebPFree(expected);

        CImage reduced, streamed;
        streamed.streamSource = true;
        const int32_t box = width > 100 ? 600 : 20;
        reduced.LoadNow(path, box, box);
        streamed.LoadNow(path, box, box);
        ASSERT_EQ(reduced.GetHeight(), streamed.GetHeight());
        EXPECT_EQ(std::memcmp(reduced.displayBuffer, streamed.displayBuffer,
                              static_cast<size_t>(reduced.displayStride) * reduced.GetHeight()),
                  0);
    }
}

}  // namespace
