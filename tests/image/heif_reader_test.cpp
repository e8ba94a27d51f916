#include "image/heif_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "image/image.h"
#include "image/reader.h"
#include "image/resample.h"
#include "support/recording_window.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace {

std::string HeifData(const std::string& name) {
    return std::string(LUMORA_TEST_DATA_DIR) + "/heif/" + name;
}

class HeifReaderTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }
    // Loads at full size; the image is done whatever the file held.
    void LoadFile(const std::string& path) {
        image_.LoadNow(path, 1 << 30, 1 << 30);
        EXPECT_TRUE(image_.done) << path;
    }
    TempDir dir_;
    CImage image_;
};

// Each file against the picture it must give (made by tests/data/heif/make.sh): the lossless
// files their source PNG exactly, the lossy ones an independent decoder's output.
TEST_F(HeifReaderTest, FilesMatchTheirReferences) {
    struct Case {
        const char* file;
        const char* reference;
        int width, height, bitCount;
        int maxDiff;         // per channel
        double maxMeanDiff;  // per compared channel
    } cases[] = {
        {"photo-lossless.avif", "photo.png", 160, 100, 24, 0, 0.0},
        {"alpha-lossless.avif", "alpha.png", 128, 128, 32, 0, 0.0},
        {"photo.heic", "photo.heic.png", 160, 100, 24, 1, 0.1},
        {"alpha.heic", "alpha.heic.png", 128, 128, 32, 1, 0.1},
        // 10 bits: within one of the reference's rounding, and rounded rather than truncated
        // (truncating instead gives a mean of about 0.18 here).
        {"deep10.avif", "deep10.avif.png", 160, 100, 24, 1, 0.1},
        // The profile applied by another colour engine.
        {"icc-a98.avif", "icc-a98.avif.png", 160, 100, 24, 2, 0.5},
        // irot 1: a quarter turn anticlockwise; clap and imir: a mirrored crop.
        {"rotated.avif", "rotated.avif.png", 100, 160, 24, 0, 0.0},
        {"crop-mirror.avif", "crop-mirror.avif.png", 100, 60, 24, 0, 0.0},
        // 2 x 2 tiles, the alpha's too.
        {"grid-alpha.avif", "alpha.png", 128, 128, 32, 0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        LoadFile(HeifData(c.file));
        ASSERT_EQ(image_.GetWidth(), c.width);
        ASSERT_EQ(image_.GetHeight(), c.height);
        EXPECT_EQ(image_.displayHeader.bmiHeader.biBitCount, c.bitCount);
        RefImage ref;
        ASSERT_TRUE(LoadReferencePng(HeifData(c.reference), ref));
        const PixelDiff diff = CompareWithReference(image_, ref, true);
        ASSERT_TRUE(diff.sameSize);
        EXPECT_LE(diff.maxDiff, c.maxDiff);
        EXPECT_LE(diff.meanDiff, c.maxMeanDiff);
    }
    // The extensions reach the reader whatever their case.
    for (const char* name : {"a.HEIC", "a.heif", "a.Avif"})
        EXPECT_NE(dynamic_cast<CHeifReader*>(CreateReader(name).get()), nullptr) << name;
}

TEST_F(HeifReaderTest, TruncatedFilesShowNothingAndTheLoadEnds) {
    for (const char* name : {"photo.heic", "alpha-lossless.avif"}) {
        const std::string whole = ReadFileBytes(HeifData(name));
        const std::string cut = dir_.file(std::string("cut-") + name);
        for (size_t length = 0; length < whole.size(); length += whole.size() / 40 + 1) {
            WriteFileBytes(cut, whole.substr(0, length));
            LoadFile(cut);
            EXPECT_EQ(image_.GetWidth(), 0) << name << " " << length;
            image_.LoadNow(cut, 16, 16);  // and reduced
            EXPECT_TRUE(image_.done) << length;
        }
    }
}

// A file declaring a picture far larger than it holds is refused before anything is allocated
// for it, by the library's limit or by the program's own pixel cap.
TEST_F(HeifReaderTest, HostileSizesAreRefusedBeforeDecoding) {
    const std::string whole = ReadFileBytes(HeifData("photo.heic"));
    const size_t ispe = whole.find("ispe");
    ASSERT_NE(ispe, std::string::npos);
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    const std::string path = dir_.file("big.heic");
    struct Case {
        uint32_t width, height;
    } cases[] = {{40000, 40000}, {30000, 30000}, {0xFFFFFFF0u, 100}, {160, 0x7FFFFFFFu}};
    for (const Case& c : cases) {
        std::string patched = whole;
        patched.replace(ispe + 8, 8, be32(c.width) + be32(c.height));
        WriteFileBytes(path, patched);
        CHeifReader reader(path);
        reader.OpenFile();
        reader.DecodeAll();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0) << c.width << "x" << c.height;
        EXPECT_FALSE(reader.failure.empty());
        LoadFile(path);
        EXPECT_EQ(image_.GetWidth(), 0);
    }
}

// An overlay or grid gets a canvas of the size its own item data declares, which the sizes
// the library reports need not show: here an alpha overlay claiming 29544 x 30307 behind a
// 128 x 128 picture, as found (the library allocated 2 x 895 MB for it), and then claiming
// 8000 x 8000 (under the cap, but 3.9 KiB of file for 64 M pixels); and a grid overclaiming.
TEST_F(HeifReaderTest, OverlayAndGridCanvasesAreCheckedBeforeDecoding) {
    const std::string found = ReadFileBytes(HeifData("overclaiming-overlay.heic"));
    std::string smaller = found;
    ASSERT_EQ(smaller.substr(2920, 4), "\x73\x68\x76\x63");  // the canvas's two 16-bit sides
    smaller.replace(2920, 4, "\x1f\x40\x1f\x40");
    // A grid's header: version, flags, 2 x 2 tiles, 128 x 128; made to claim 20000 x 20000.
    std::string grid = ReadFileBytes(HeifData("grid-alpha.avif"));
    const size_t header = grid.find(std::string("\0\0\x01\x01\0\x80\0\x80", 8));
    ASSERT_NE(header, std::string::npos);
    grid.replace(header + 4, 4, "\x4e\x20\x4e\x20");
    const struct {
        std::string bytes;
        const char* failure;
    } cases[] = {{found, "more than 2^28 pixels (29544 x 30307)"},
                 {smaller, "HEIF picture too large for its file"},
                 {grid, "more than 2^28 pixels (20000 x 20000)"}};
    for (const auto& c : cases) {
        const std::string path = dir_.file("overlay.heic");
        WriteFileBytes(path, c.bytes);
        CHeifReader reader(path);
        reader.OpenFile();
        reader.DecodeAll();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0);
        EXPECT_EQ(reader.failure, c.failure);
    }
}

// Holds every decode on its thread until released (or ten seconds have passed).
std::atomic<bool> g_holdDecodes{false};
std::atomic<int> g_decodesHeld{0};
std::atomic<bool> g_holdTimedOut{false};

void HoldDecode() {
    ++g_decodesHeld;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_holdDecodes) {
        if (std::chrono::steady_clock::now() > until) {
            g_holdTimedOut = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Stepping away from a picture still decoding: StopLoad returns without waiting for the decode,
// nothing of it reaches the image, and the decode, left to finish after its image and reader
// are gone, frees its picture (the sanitizer build checks that it touches nothing freed and
// leaks nothing). The file then loads whole as before.
TEST_F(HeifReaderTest, ALoadLeftDuringItsDecodeStopsWithoutWaitingForIt) {
    for (const char* name : {"photo.heic", "alpha-lossless.avif"}) {
        SCOPED_TRACE(name);
        const std::string path = HeifData(name);
        CImage whole;
        whole.LoadNow(path, 1 << 30, 1 << 30);
        ASSERT_GT(whole.GetWidth(), 0);

        g_holdDecodes = true;
        g_decodesHeld = 0;
        SetHeifDecodeHook(HoldDecode);
        RecordingWindow window;
        auto image = std::make_unique<CImage>();
        image->notifyWindow = &window;
        image->Open(path);
        image->SetSizeLimit(1 << 30, 1 << 30, false, false);
        image->StartLoad(THREAD_PRIORITY_NORMAL);
        while (g_decodesHeld < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto before = std::chrono::steady_clock::now();
        image->StopLoad();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
        EXPECT_FALSE(g_holdTimedOut);
        EXPECT_FALSE(image->done);
        EXPECT_EQ(image->GetWidth(), 0);
        EXPECT_EQ(HeifDecodesRunning(), 1);
        image.reset();
        EXPECT_EQ(window.Count(WM_IMAGE_DONE), 0);

        g_holdDecodes = false;
        SetHeifDecodeHook(nullptr);
        while (HeifDecodesRunning() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        CImage again;
        again.LoadNow(path, 1 << 30, 1 << 30);
        ASSERT_EQ(again.GetWidth(), whole.GetWidth());
        ASSERT_EQ(again.GetHeight(), whole.GetHeight());
        const size_t bytes = static_cast<size_t>(whole.displayStride) * whole.GetHeight();
        EXPECT_EQ(std::memcmp(again.displayBuffer, whole.displayBuffer, bytes), 0);
    }
}

}  // namespace
