#include "image/reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>

#include <jpeglib.h>

#include "image/bmp_reader.h"
#include "image/image.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/temp_dir.h"

namespace {

TEST(CreateReaderTest, ChoosesByTheLastFourCharactersIgnoringCase) {
    EXPECT_NE(dynamic_cast<CBmpReader*>(CreateReader("/x/A.BMP").get()), nullptr);
    EXPECT_NE(dynamic_cast<CBmpReader*>(CreateReader("a.bmp").get()), nullptr);
    EXPECT_NE(dynamic_cast<CBmpReader*>(CreateReader("/x.y/a.Bmp").get()), nullptr);
    EXPECT_EQ(CreateReader("a.bmpx"), nullptr);
    EXPECT_EQ(CreateReader("bmp"), nullptr);
    EXPECT_EQ(CreateReader(".bmp"), nullptr);  // the whole name is the extension
    EXPECT_EQ(CreateReader("scan.tiff"), nullptr);
    EXPECT_EQ(CreateReader("photo.jpeg"), nullptr);
    EXPECT_EQ(CreateReader(""), nullptr);
}

TEST(CreateReaderTest, KeepsThePathAsGiven) {
    auto reader = CreateReader("/Pics/Photo.BMP");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->path, "/Pics/Photo.BMP");
    EXPECT_EQ(reader->lineCounter, -1);
    EXPECT_FALSE(reader->rgbOrder);
    EXPECT_EQ(reader->header.bmiHeader.biSize, 40u);
}

class CountingReader : public CImageReader {
public:
    CountingReader() : CImageReader("x") {}
    void OpenFile() override {}
    void CloseFile() override { ++closes; }
    int NextLine(uint8_t**) override { return lineCounter; }
    int closes = 0;
};

TEST(ReaderTest, CloseReleasesOnceHoweverOftenItIsCalled) {
    CountingReader reader;
    reader.Close();
    reader.Close();
    EXPECT_EQ(reader.closes, 1);
    EXPECT_TRUE(reader.closed);
}

TEST(ReaderTest, AMissingFileDeclaresNothingAndDeliversNoRows) {
    CBmpReader reader("/nonexistent/file.bmp");
    reader.OpenFile();
    EXPECT_EQ(reader.header.bmiHeader.biWidth, 0);
    EXPECT_EQ(reader.header.bmiHeader.biHeight, 0);
    uint8_t buffer[16] = {};
    uint8_t* row = buffer;
    reader.NextLine(&row);
    EXPECT_EQ(reader.lineCounter, -1);
    reader.Close();
}

TEST(ReaderTest, AFifoNamedLikeAPictureDeclaresNothingAndDoesNotWait) {
    using namespace std::chrono_literals;
    TempDir dir;
    for (const char* ext : {".bmp", ".jpg", ".png", ".gif", ".tif", ".jp2", ".ico", ".cur"}) {
        SCOPED_TRACE(ext);
        const std::string path = dir.file(std::string("pipe") + ext);
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        auto reader = CreateReader(path);
        ASSERT_NE(reader, nullptr);
        auto opened = std::async(std::launch::async, [&] {
            reader->OpenFile();
            if (reader->deferredHeader) reader->DecodeAll();
        });
        const bool prompt = opened.wait_for(2s) == std::future_status::ready;
        EXPECT_TRUE(prompt);
        // A reader stuck waiting for a writer is released by one that opens and closes at once,
        // so a fault fails the test instead of hanging it.
        while (!prompt && opened.wait_for(10ms) != std::future_status::ready) {
            const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) close(fd);
        }
        opened.get();
        EXPECT_EQ(reader->header.bmiHeader.biWidth, 0);
        EXPECT_EQ(reader->header.bmiHeader.biHeight, 0);
        EXPECT_EQ(reader->failure, "not a regular file");
        reader->Close();
    }
}

// A JPEG of two components, which no picture this program shows has.
void WriteTwoComponentJpeg(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = 8;
    c.image_height = 8;
    c.input_components = 2;
    c.in_color_space = JCS_UNKNOWN;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_UNKNOWN);
    jpeg_start_compress(&c, TRUE);
    uint8_t samples[16] = {};
    JSAMPROW row = samples;
    while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, &row, 1);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

TEST(ReaderTest, EveryRefusalAndDamageSaysWhy) {
    BuildGammaTables();
    TempDir dir;
    BmpDesc bmp;
    bmp.width = 4;
    bmp.height = -1000;
    bmp.pixels.assign(30, 0x55);  // two and a half rows of twelve bytes
    const std::string shortBmp = dir.file("short.bmp");
    WriteFileBytes(shortBmp, BuildBmp(bmp));
    bmp.width = 1 << 15, bmp.height = (1 << 13) + 1;
    const std::string hugeBmp = dir.file("huge.bmp");
    WriteFileBytes(hugeBmp, BuildBmp(bmp));
    bmp.width = 2, bmp.height = 2, bmp.bitCount = 7;
    const std::string oddBmp = dir.file("odd.bmp");
    WriteFileBytes(oddBmp, BuildBmp(bmp));

    // A whole JPEG from the program's own writer, then cut to its first half.
    BmpDesc pattern;
    pattern.width = 64;
    pattern.height = 64;
    for (int i = 0; i < 64 * 64 * 3; ++i) pattern.pixels.push_back(static_cast<uint8_t>(i * 37));
    const std::string patternBmp = dir.file("pattern.bmp");
    WriteFileBytes(patternBmp, BuildBmp(pattern));
    CImage source;
    source.LoadNow(patternBmp, 64, 64);
    const std::string wholeJpeg = dir.file("whole.jpg");
    ASSERT_TRUE(source.Save(wholeJpeg));
    const std::string jpegBytes = ReadFileBytes(wholeJpeg);
    const std::string cutJpeg = dir.file("cut.jpg");
    WriteFileBytes(cutJpeg, jpegBytes.substr(0, jpegBytes.size() / 2));
    const std::string twoComponents = dir.file("two.jpg");
    WriteTwoComponentJpeg(twoComponents);

    const std::string text = "plain text, long enough to pass every size check at the start";
    struct Case {
        std::string name;
        std::string content;  // written unless empty
        std::string reason;   // what the reason starts with
        bool pixels;          // the damaged ones still show what they hold
    };
    const Case cases[] = {
        {"missing.bmp", "", "No such file or directory", false},
        {"text.bmp", text, "not a BMP file", false},
        {"tiny.bmp", "BM", "too short for a BMP file", false},
        {"short.bmp", "", "truncated after row 3", true},
        {"huge.bmp", "", "more than 2^28 pixels (32768 x 8193)", false},
        {"odd.bmp", "", "unsupported BMP bit count 7", false},
        {"text.jpg", text, "Not a JPEG file: starts with 0x70 0x6c", false},
        {"two.jpg", "", "unsupported JPEG colour space", false},
        {"cut.jpg", "", "truncated after row ", true},
        {"text.png", text, "Not a PNG file", false},
        {"text.gif", text, "not a GIF file", false},
        {"text.tif", text, "Not a TIFF", false},
        {"text.ico", text, "not an ICO or CUR file", false},
        {"text.jp2", text, "not a JP2 file, or damaged", false},
        {"text.xyz", text, "unsupported file type", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        if (!c.content.empty()) WriteFileBytes(path, c.content);
        CImage image;
        image.LoadNow(path, 100000, 100000);
        EXPECT_EQ(image.GetWidth() > 0, c.pixels);
        EXPECT_EQ(image.failure.substr(0, c.reason.size()), c.reason) << image.failure;
    }

    // A sound file says nothing.
    CImage whole;
    whole.LoadNow(wholeJpeg, 100000, 100000);
    EXPECT_EQ(whole.GetWidth(), 64);
    EXPECT_EQ(whole.failure, "");
}

}  // namespace
