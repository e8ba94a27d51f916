#include "settings/helpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(TextHelpersTest, ComparisonsMapLettersAndCompareSignedBytes) {
    EXPECT_TRUE(TextLessNoCase("abc", "ABD"));
    EXPECT_FALSE(TextLessNoCase("ab", "AB"));
    EXPECT_FALSE(TextLessNoCase("AB", "ab"));
    EXPECT_TRUE(TextLessNoCase("ab", "abc"));
    EXPECT_FALSE(TextLessNoCase("abc", "ab"));
    EXPECT_FALSE(TextLessNoCase("", ""));
    EXPECT_TRUE(TextLessNoCase("", "a"));
    // Letters compare as capitals, so "_" (0x5F) sorts after "Z" and before "a".
    EXPECT_TRUE(TextLessNoCase("Z", "_"));
    EXPECT_TRUE(TextLessNoCase("_", "a") == false);
    // Bytes from 0x80 up are negative and sort before all ASCII.
    EXPECT_TRUE(TextLessNoCase("\xC3\xA9t\xC3\xA9", "A"));
    EXPECT_FALSE(TextLessNoCase("A", "\xC3\xA9"));
    EXPECT_TRUE(TextLessNoCase("\x80", "\xFF"));

    EXPECT_TRUE(TextEqualNoCase("Photos", "pHOTOS"));
    EXPECT_FALSE(TextEqualNoCase("Photo", "Photos"));
    EXPECT_FALSE(TextEqualNoCase("\xC3\xA9", "\xC3\x89"));  // only ASCII letters fold
    EXPECT_EQ(ToLowerString("IMG_0001.JPG \xC3\x89"), "img_0001.jpg \xC3\x89");
}

TEST(TextHelpersTest, ExtensionIsTheTextAfterTheLastDotOfThePath) {
    EXPECT_EQ(GetExtension("/home/ann/Photo.JPG"), "jpg");
    EXPECT_EQ(GetExtension("/home/ann/README"), "");
    EXPECT_EQ(GetExtension("/home/ann/my.photos/README"), "photos/readme");
    EXPECT_EQ(GetExtension("archive.tar.GZ"), "gz");
    EXPECT_EQ(GetExtension("name."), "");
    EXPECT_EQ(GetExtension(".hidden"), "hidden");
}

TEST(TextHelpersTest, WideTextIsUtf16WithReplacementForBadBytes) {
    EXPECT_EQ(ToWideText("abc"), u"abc");
    EXPECT_EQ(ToWideText(""), u"");
    EXPECT_EQ(ToWideText("\xC3\xA9\xE2\x82\xAC"), u"\u00E9\u20AC");
    EXPECT_EQ(ToWideText("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
    // A lone continuation byte, a cut-off sequence, an overlong form and a surrogate.
    EXPECT_EQ(ToWideText("a\x80z"), u"a\uFFFDz");
    EXPECT_EQ(ToWideText("a\xE2\x82"), u"a\uFFFD\uFFFD");
    EXPECT_EQ(ToWideText("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(ToWideText("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ToWideText("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ToWideText("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(TextHelpersTest, VersionIsTheCompiledInOne) {
    EXPECT_EQ(GetVersionString("FileVersion"), "2, 4, 0, 0");
    EXPECT_EQ(GetVersionString("ProductVersion"), "2, 4, 0, 0");
    EXPECT_EQ(GetVersionString("NoSuchString"), "");
}

class ShellDeleteTest : public testing::Test {
protected:
    void SetUp() override {
        data_ = dir_.path() / "data";
        setenv("XDG_DATA_HOME", data_.c_str(), 1);
    }
    void TearDown() override { setenv("XDG_DATA_HOME", saved_.c_str(), 1); }

    TempDir dir_{"lumora-trash"};
    fs::path data_;
    std::string saved_ = getenv("XDG_DATA_HOME");
};

TEST_F(ShellDeleteTest, FilesGoToTheHomeTrashWithTheirInfoAndNeverCollide) {
    // The data folder does not exist yet; the trash must not land anywhere else.
    ASSERT_FALSE(fs::exists(data_));
    fs::create_directories(dir_.path() / "my photos");
    const std::string first = dir_.file("my photos/a b%.jpg");
    WriteFileBytes(first, "one");
    ASSERT_TRUE(ShellDelete(first));
    EXPECT_FALSE(fs::exists(first));
    const fs::path trash = data_ / "Trash";
    EXPECT_EQ(ReadFileBytes((trash / "files/a b%.jpg").string()), "one");
    const std::string info = ReadFileBytes((trash / "info/a b%.jpg.trashinfo").string());
    const std::string escaped = fs::canonical(dir_.path()).string() + "/my%20photos/a%20b%25.jpg";
    EXPECT_EQ(info.find("[Trash Info]\nPath=" + escaped + "\nDeletionDate="), 0u) << info;
    EXPECT_EQ(info.size(), info.find("DeletionDate=") + 13 + 19 + 1);

    // A second file of that name gets a name of its own; so does a folder.
    WriteFileBytes(first, "two");
    ASSERT_TRUE(ShellDelete(first));
    EXPECT_EQ(ReadFileBytes((trash / "files/a b%.jpg").string()), "one");
    EXPECT_EQ(ReadFileBytes((trash / "files/a b%.2.jpg").string()), "two");
    EXPECT_TRUE(fs::exists(trash / "info/a b%.2.jpg.trashinfo"));
    ASSERT_TRUE(ShellDelete(dir_.file("my photos/")));
    EXPECT_TRUE(fs::is_directory(trash / "files/my photos"));
    EXPECT_FALSE(fs::exists(dir_.path() / "my photos"));

    EXPECT_FALSE(ShellDelete(dir_.file("missing")));
    EXPECT_FALSE(ShellDelete(""));
}

TEST_F(ShellDeleteTest, FilesOnAnotherVolumeGoToThatVolumesTrash) {
    struct stat shm {
    }, here{};
    if (stat("/dev/shm", &shm) != 0 || stat(dir_.path().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable second volume at /dev/shm";
    TempDir other("/dev/shm/lumora-trash");
    const std::string file = other.file("x.png");
    WriteFileBytes(file, "x");
    const fs::path volumeTrash = "/dev/shm/.Trash-" + std::to_string(getuid());
    const bool existed = fs::exists(volumeTrash);
    ASSERT_TRUE(ShellDelete(file));
    EXPECT_FALSE(fs::exists(file));
    const std::string name = other.path().filename().string();
    // The recorded path is relative to the volume's top.
    fs::path info;
    for (const auto& entry : fs::directory_iterator(volumeTrash / "info"))
        if (ReadFileBytes(entry.path()).find("Path=" + name + "/x.png\n") != std::string::npos)
            info = entry.path();
    ASSERT_FALSE(info.empty());
    fs::path stored = volumeTrash / "files" / info.filename().replace_extension();
    EXPECT_EQ(ReadFileBytes(stored.string()), "x");
    fs::remove(info);
    fs::remove(stored);
    if (!existed) fs::remove_all(volumeTrash);
    EXPECT_FALSE(fs::exists(data_ / "Trash/files/x.png"));
}

TEST(FileTestsTest, DirectoriesAndPaths) {
    TempDir dir("lumora-paths");
    WriteFileBytes(dir.file("f"), "");
    EXPECT_TRUE(IsDirectory(dir.path().string()));
    EXPECT_FALSE(IsDirectory(dir.file("f")));
    EXPECT_TRUE(PathExists(dir.file("f")));
    EXPECT_FALSE(PathExists(dir.file("g")));
    EXPECT_FALSE(IsDirectory(""));
}

}  // namespace
