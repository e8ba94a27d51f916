#include "image/reader.h"

#include <gtest/gtest.h>

#include "image/bmp_reader.h"

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

}  // namespace
