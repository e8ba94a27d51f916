// Loads that run out of working memory. This program replaces the global operator new so that a
// test can make every large allocation fail for a while; the images' pixel buffers come from
// their private heaps (malloc) and are not affected, so only the resampling paths' working
// memory runs out.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "app/core/resize_mode.h"
#include "image/bmp_reader.h"
#include "image/image.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/fake_reader.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

namespace {

std::atomic<size_t> g_largestAllocation{std::numeric_limits<size_t>::max()};

void* Allocate(size_t bytes) {
    if (bytes > g_largestAllocation.load(std::memory_order_relaxed)) throw std::bad_alloc();
    if (void* block = std::malloc(bytes ? bytes : 1)) return block;
    throw std::bad_alloc();
}

// While it lives, operator new refuses anything above `bytes`, on every thread.
class AllocationLimit {
public:
    explicit AllocationLimit(size_t bytes) { g_largestAllocation = bytes; }
    ~AllocationLimit() { g_largestAllocation = std::numeric_limits<size_t>::max(); }
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;
};

}  // namespace

// Every form the program uses, so that no block crosses between two allocators.
void* operator new(size_t bytes) {
    return Allocate(bytes);
}
void* operator new[](size_t bytes) {
    return Allocate(bytes);
}
void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
    try {
        return Allocate(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t bytes, const std::nothrow_t& tag) noexcept {
    return operator new(bytes, tag);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

namespace {

// Far below the resampling paths' working memory for the pictures here (a few float rows of
// thousands of pixels), far above anything else a load allocates with new.
constexpr size_t kLimit = 16 * 1024;

std::vector<uint8_t> DisplayBytes(const CImage& image) {
    return std::vector<uint8_t>(
        image.displayBuffer,
        image.displayBuffer + static_cast<size_t>(image.displayStride) * image.GetHeight());
}

std::vector<UINT> Messages(const RecordingWindow& window) {
    std::vector<UINT> messages;
    for (const RecordingWindow::Message& m : window.Messages()) messages.push_back(m.message);
    return messages;
}

class OutOfMemoryTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }
    void TearDown() override { ClearFakePictures(); }
    TempDir dir_;
};

TEST_F(OutOfMemoryTest, AResampleWithoutWorkingMemoryIsMarkedAndNeverSaved) {
    auto picture = std::make_shared<FakePicture>();
    picture->rows = RandomPicture(4000, 3, 3, 5);
    const std::string path = RegisterFakePicture(picture);

    struct Case {
        const char* name;
        int32_t width, height;
        bool upscale, streamed;
    };
    for (const Case c : {Case{"box", 0, 1, false, false}, Case{"streamed box", 0, 1, false, true},
                         Case{"sinc", 8000, 6, true, false}}) {
        SCOPED_TRACE(c.name);
        CImage expected;
        expected.Open(path);
        expected.SetSizeLimit(c.width, c.height, false, c.upscale);
        expected.StartLoad(THREAD_PRIORITY_NORMAL);
        expected.FinishLoad();
        ASSERT_GT(expected.GetWidth(), 0);

        RecordingWindow window;
        CImage image;
        image.notifyWindow = &window;
        image.streamSource = c.streamed;
        image.Open(path);
        image.SetSizeLimit(c.width, c.height, false, c.upscale);
        {
            AllocationLimit limit(kLimit);
            image.StartLoad(THREAD_PRIORITY_NORMAL);
            image.FinishLoad();
        }
        // Ended, and said so as every finished load does, but marked as not the picture and
        // never saved.
        EXPECT_TRUE(image.done);
        EXPECT_TRUE(image.outOfMemory);
        const std::vector<UINT> messages = Messages(window);
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages.back(), static_cast<UINT>(WM_IMAGE_DONE));
        EXPECT_EQ(window.Count(WM_IMAGE_DONE), 1);
        const std::string out = dir_.file(std::string(c.name) + ".bmp");
        EXPECT_FALSE(image.Save(out));
        EXPECT_FALSE(std::filesystem::exists(out));

        // With memory back, the same image loads the whole picture again, decoded afresh.
        image.SetSizeLimit(c.width, c.height, false, c.upscale);
        image.StartLoad(THREAD_PRIORITY_NORMAL);
        image.FinishLoad();
        EXPECT_FALSE(image.outOfMemory);
        ASSERT_EQ(image.GetWidth(), expected.GetWidth());
        EXPECT_EQ(DisplayBytes(image), DisplayBytes(expected));
    }
}

TEST_F(OutOfMemoryTest, BatchResizeReportsFailureAndLeavesTheOutputAlone) {
    BmpDesc desc;
    desc.width = 4000;
    desc.height = 2;
    desc.pixels.assign(2 * 12000, 0x80);
    const std::string input = dir_.file("wide.bmp");
    WriteFileBytes(input, BuildBmp(desc));
    const std::string output = dir_.file("out.bmp");
    WriteFileBytes(output, "an older file");

    ResizeRequest request;
    request.input = input;
    request.width = 0;
    request.height = 1;
    request.output = output;
    std::string error;
    bool written = true;
    {
        AllocationLimit limit(kLimit);
        written = RunResize(request, error);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(error, "cannot read '" + input + "': out of memory");
    EXPECT_TRUE(ReadFileBytes(output) == "an older file") << "the older file was replaced";

    // The limit is what made it fail.
    EXPECT_TRUE(RunResize(request, error)) << error;
    EXPECT_EQ(ReadFileBytes(output).substr(0, 2), "BM");
}

// A BMP whose pixel data start at `pixelOffset`, far beyond its headers, with a hole between
// them that takes no disk space.
void WriteSparseFile(const std::string& path, const std::string& head, uint64_t pixelOffset,
                     const std::vector<uint8_t>& pixels) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(pixelOffset + pixels.size())), 0);
    EXPECT_EQ(pwrite(fd, pixels.data(), pixels.size(), static_cast<off_t>(pixelOffset)),
              static_cast<ssize_t>(pixels.size()));
    close(fd);
}

// Files whose headers claim gigabytes between the colour table and the pixels, or gigabytes of
// run-length data, are read a small piece at a time; a row buffer that does not fit refuses the
// file instead of ending the process.
TEST_F(OutOfMemoryTest, BmpReadsNoMoreThanItsPicturesNeed) {
    constexpr uint64_t kFar = uint64_t{7} << 29;  // 3.5 GiB
    BmpDesc palette;
    palette.width = 2;
    palette.height = 2;
    palette.bitCount = 8;
    palette.colourBlock = {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0};
    palette.offBitsOverride = static_cast<int64_t>(kFar);
    std::string head = BuildBmp(palette);
    const std::string paletteFile = dir_.file("far.bmp");
    WriteSparseFile(paletteFile, head, kFar, {0, 1, 0, 0, 1, 1, 0, 0});

    BmpDesc rle;
    rle.width = 3;
    rle.height = 2;
    rle.bitCount = 8;
    rle.compression = BI_RLE8;
    rle.colourBlock = palette.colourBlock;
    // Row 0: two pixels of entry 1; row 1: three of entry 0. Zero bytes (ends of rows) follow
    // to the end of the 3.5 GiB hole.
    rle.pixels = {2, 1, 0, 0, 3, 0, 0, 0};
    head = BuildBmp(rle);
    const std::string rleFile = dir_.file("long-rle.bmp");
    WriteSparseFile(rleFile, head, kFar, {0, 1});

    struct Case {
        const char* name;
        std::string path;
        std::vector<uint8_t> bottomRow, topRow;
    };
    for (const Case& c : {Case{"colour table far from the pixels",
                               paletteFile,
                               {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0},
                               {0x40, 0x50, 0x60, 0, 0x40, 0x50, 0x60, 0}},
                          Case{"gigabytes of run-length data",
                               rleFile,
                               {0x40, 0x50, 0x60, 0, 0x40, 0x50, 0x60, 0, 0, 0, 0, 0},
                               {0x10, 0x20, 0x30, 0, 0x10, 0x20, 0x30, 0, 0x10, 0x20, 0x30, 0}}}) {
        SCOPED_TRACE(c.name);
        AllocationLimit limit(kLimit);
        CBmpReader reader(c.path);
        reader.OpenFile();
        ASSERT_EQ(reader.header.bmiHeader.biHeight, 2);
        std::vector<uint8_t> rows[2];
        for (std::vector<uint8_t>& row : rows) {
            row.assign(c.bottomRow.size(), 0xEE);
            uint8_t* p = row.data();
            reader.NextLine(&p);
        }
        EXPECT_EQ(rows[0], c.bottomRow);
        EXPECT_EQ(rows[1], c.topRow);
    }

    // 32-bit bit fields in another order are converted through a row buffer of their own.
    BmpDesc wide;
    wide.width = 8192;
    wide.bitCount = 32;
    wide.compression = BI_BITFIELDS;
    wide.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
    wide.pixels.assign(8192 * 4, 0x80);
    const std::string wideFile = dir_.file("wide.bmp");
    WriteFileBytes(wideFile, BuildBmp(wide));
    CImage image;
    {
        AllocationLimit limit(kLimit);
        image.Open(wideFile);
    }
    EXPECT_EQ(image.GetSourceWidth(), 0);
    image.Open(wideFile);
    EXPECT_EQ(image.GetSourceWidth(), 8192) << "the limit is what made it fail";
}

}  // namespace
