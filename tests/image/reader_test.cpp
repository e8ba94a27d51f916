#include "image/reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "image/bmp_reader.h"
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
        reader->Close();
    }
}

}  // namespace
