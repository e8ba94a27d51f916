#include "image/jxl_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "image/image.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace {

std::string JxlData(const std::string& name) {
    return std::string(LUMORA_TEST_DATA_DIR) + "/jxl/" + name;
}

// A bare code stream that declares width x height and nothing else (the image metadata all
// default), bits written least significant first as the format reads them.
std::string DeclaringCodestream(uint32_t width, uint32_t height) {
    std::vector<bool> bits;
    auto put = [&bits](uint32_t value, int count) {
        for (int i = 0; i < count; ++i) bits.push_back((value >> i) & 1);
    };
    put(0, 1);  // sizes not in multiples of 8
    put(3, 2);  // height - 1 in 30 bits
    put(height - 1, 30);
    put(0, 3);  // no aspect ratio: the width follows
    put(3, 2);
    put(width - 1, 30);
    put(1, 1);  // image metadata: all default
    std::string bytes = "\xff\x0a";
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0;
        for (size_t j = 0; j < 8 && i + j < bits.size(); ++j) byte |= bits[i + j] << j;
        bytes += static_cast<char>(byte);
    }
    return bytes + std::string(16, '\0');
}

// Each file against the picture it must give (made by tests/data/jxl/make.sh): lossless files
// their source exactly, lossy ones djxl's decode of the same file.
TEST(JxlReaderTest, FilesMatchTheirReferences) {
    struct Case {
        const char* file;
        std::string reference;
        int bitCount;
        int maxDiff;
    } cases[] = {
        {"lossless.jxl", JxlData("photo.png"), 24, 0},
        {"alpha-lossless.jxl", JxlData("alpha.png"), 32, 0},
        {"progressive-lossless.jxl", JxlData("photo.png"), 24, 0},
        {"lossy.jxl", JxlData("lossy.jxl.png"), 24, 1},
        // Groups stored centre first, DC in a frame of its own.
        {"progressive.jxl", JxlData("progressive.jxl.png"), 24, 1},
        // 16-bit samples rounded, not truncated.
        {"deep16.jxl", JxlData("deep16.jxl.png"), 24, 0},
        // Adobe RGB samples, converted to sRGB (Little CMS against vips' Little CMS).
        {"icc-a98.jxl", JxlData("icc-a98.jxl.png"), 24, 2},
        // The first frame of four.
        {"animated.jxl", JxlData("animated.jxl.png"), 32, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CImage image;
        image.LoadNow(JxlData(c.file), 1 << 30, 1 << 30);
        EXPECT_TRUE(image.done);
        EXPECT_EQ(image.failure, "");
        EXPECT_EQ(image.displayHeader.bmiHeader.biBitCount, c.bitCount);
        RefImage ref;
        ASSERT_TRUE(LoadReferencePng(c.reference, ref));
        const PixelDiff diff = CompareWithReference(image, ref, c.bitCount == 32);
        EXPECT_TRUE(diff.sameSize);
        EXPECT_LE(diff.maxDiff, c.maxDiff);
    }
}

// A large file is decoded on libjxl's threads, which deliver parts of a row at once: here small
// pictures of several groups each, made large by a box the decoder skips, give the same pixels.
TEST(JxlReaderTest, ALargeFileDecodedOnThreadsGivesTheSamePixels) {
    TempDir dir;
    for (const char* name : {"lossy.jxl", "progressive.jxl", "alpha-lossless.jxl"}) {
        SCOPED_TRACE(name);
        std::string bytes = ReadFileBytes(JxlData(name));
        const uint32_t pad = CJxlReader::kThreadedFileBytes;
        const char box[8] = {static_cast<char>((pad + 8) >> 24), static_cast<char>((pad + 8) >> 16),
                             static_cast<char>((pad + 8) >> 8), static_cast<char>(pad + 8),
                             'f', 'r', 'e', 'e'};
        bytes.append(box, 8).append(pad, '\0');
        const std::string large = dir.file(std::string("large-") + name);
        WriteFileBytes(large, bytes);
        CImage alone, pooled;
        alone.LoadNow(JxlData(name), 1 << 30, 1 << 30);
        pooled.LoadNow(large, 1 << 30, 1 << 30);
        EXPECT_EQ(pooled.failure, "");
        ASSERT_EQ(pooled.GetHeight(), alone.GetHeight());
        ASSERT_EQ(pooled.displayStride, alone.displayStride);
        EXPECT_EQ(std::memcmp(pooled.displayBuffer, alone.displayBuffer,
                              static_cast<size_t>(alone.displayStride) * alone.GetHeight()),
                  0);
    }
}

// A file cut short shows what its passes so far give: here a coarse picture from the DC of
// every group, every row of it, and the load ends.
TEST(JxlReaderTest, ATruncatedFileKeepsWhatItHolds) {
    CImage cut;
    cut.LoadNow(JxlData("truncated.jxl"), 1 << 30, 1 << 30);
    EXPECT_TRUE(cut.done);
    EXPECT_EQ(cut.failure, "truncated after row 299");
    RefImage ref;
    ASSERT_TRUE(LoadReferencePng(JxlData("lossy.jxl.png"), ref));
    const PixelDiff coarse = CompareWithReference(cut, ref);
    ASSERT_TRUE(coarse.sameSize);
    EXPECT_LT(coarse.meanDiff, 25.0);
    // The bottom rows came too: unfilled, they would be black.
    std::fill(ref.pixels.begin(), ref.pixels.end(), 0);
    const size_t rowBytes = static_cast<size_t>(ref.width) * ref.channels;
    const PixelDiff black = CompareWithReference(cut, ref);
    EXPECT_GT(black.meanDiff, 3 * coarse.meanDiff);
    const uint8_t* last = cut.displayBuffer + (cut.GetHeight() - 1) * cut.displayStride;
    EXPECT_NE(std::count(last, last + rowBytes, 0), static_cast<long>(rowBytes));
}

// Sizes are refused as soon as they are read, before the decoder allocates for the pixels.
TEST(JxlReaderTest, OverclaimingAndForeignFilesDeclareNothing) {
    TempDir dir;
    const struct {
        std::string bytes;
        const char* failure;
    } cases[] = {
        {DeclaringCodestream(100000, 100000), "more than 2^28 pixels (100000 x 100000)"},
        // Within the cap, but 2^26 pixels from a few bytes.
        {DeclaringCodestream(8192, 8192), "JPEG XL picture too large for its file"},
        {"", "not a JPEG XL file"},
        {"\xff\x0a", "truncated JPEG XL header"},
        {"GIF89a, not a JPEG XL file", "not a JPEG XL file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        const std::string path = dir.file("x.jxl");
        WriteFileBytes(path, c.bytes);
        CJxlReader reader(path);
        reader.OpenFile();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0);
        EXPECT_EQ(reader.failure, c.failure);
        EXPECT_LT(reader.PeakDecoderMemory(), size_t{1} << 20);
    }
}

std::atomic<bool> g_holdDecode{false};
std::atomic<int> g_decodesHeld{0};

// Holds the decode thread until released, for five seconds at most.
void HoldDecode() {
    ++g_decodesHeld;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (g_holdDecode && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Leaving a picture does not wait for its decode: the stop returns while the decode thread is
// still busy, which then ends by itself; the next load decodes the file afresh.
TEST(JxlReaderTest, AStopDoesNotWaitForTheDecode) {
    CImage whole;
    whole.LoadNow(JxlData("lossy.jxl"), 1 << 30, 1 << 30);
    g_holdDecode = true;
    SetJxlDecodeHook(HoldDecode);
    CImage image;
    image.Open(JxlData("lossy.jxl"));
    image.SetSizeLimit(1 << 30, 1 << 30, false, false);
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    while (g_decodesHeld == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    image.StopLoad();
    EXPECT_FALSE(image.done);
    EXPECT_EQ(JxlDecodesRunning(), 1);
    g_holdDecode = false;
    SetJxlDecodeHook(nullptr);
    while (JxlDecodesRunning() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    image.SetSizeLimit(1 << 30, 1 << 30, false, false);
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    image.FinishLoad();
    EXPECT_TRUE(image.done);
    EXPECT_EQ(image.failure, "");
    const size_t bytes = static_cast<size_t>(whole.displayStride) * whole.GetHeight();
    ASSERT_EQ(image.displayStride, whole.displayStride);
    EXPECT_EQ(std::memcmp(image.displayBuffer, whole.displayBuffer, bytes), 0);
}

}  // namespace
