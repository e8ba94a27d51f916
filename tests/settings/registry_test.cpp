#include "settings/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

// Each test works on its own settings folder.
class RegistryTest : public testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1); }
    std::string SettingsText() { return ReadFileBytes(SettingsFilePath()); }

    TempDir dir_{"lumora-reg"};
};

TEST_F(RegistryTest, ReadingCreatesTheKeyAndReturnsTheDefault) {
    ASSERT_FALSE(std::filesystem::exists(SettingsFilePath()));
    EXPECT_EQ(ReadRegDword("Upscale", 0), 0);
    EXPECT_EQ(SettingsFilePath(), dir_.file("Lumora/Lumora.reg"));
    EXPECT_EQ(SettingsText(), "[Software\\Lumora]\n");
    EXPECT_EQ(ReadRegString("InitialDirectory", "/home/x/"), "/home/x/");
}

TEST_F(RegistryTest, NumbersRoundTripAsSigned32BitValues) {
    for (int32_t v : {0, 1, -1, 150, 0x4D3837, INT_MIN, INT_MAX}) {
        WriteRegDword("FileViewWidth", v);
        EXPECT_EQ(ReadRegDword("FileViewWidth", 12345), v);
    }
    WriteRegDword("AdjustType", -2);
    EXPECT_NE(SettingsText().find("\"AdjustType\"=dword:fffffffe\n"), std::string::npos);
}

TEST_F(RegistryTest, TextsKeepTheirExactBytes) {
    const std::string tricky = "C:\\dir \"quoted\"\nline2\r\xC3\xA9\xFF end\\";
    WriteRegString("CacheDir", tricky);
    EXPECT_EQ(ReadRegString("CacheDir", ""), tricky);
    WriteRegString("CacheDir", "abc");
    EXPECT_EQ(ReadRegString("CacheDir", ""), "abc");
    // An empty text is a value, not an absent one.
    WriteRegString("InitialDirectory", "");
    EXPECT_EQ(ReadRegString("InitialDirectory", "C:\\"), "");
}

TEST_F(RegistryTest, NamesIgnoreCaseAndAWriteReplacesTheValue) {
    WriteRegDword("SortingType", 1);
    WriteRegDword("sortingtype", 0);
    EXPECT_EQ(ReadRegDword("SORTINGTYPE", 7), 0);
    const std::string text = SettingsText();
    EXPECT_EQ(text.find("ortingType\"=dword:00000001"), std::string::npos);
}

TEST_F(RegistryTest, AValueOfTheWrongTypeReadsAsAbsent) {
    WriteRegString("Upscale", "1");
    EXPECT_EQ(ReadRegDword("Upscale", 5), 5);
    WriteRegDword("CacheDir", 3);
    EXPECT_EQ(ReadRegString("CacheDir", "def"), "def");
}

TEST_F(RegistryTest, DamagedLinesAreSkippedAndKept) {
    std::filesystem::create_directories(dir_.path() / "Lumora");
    WriteFileBytes(SettingsFilePath(),
                   "garbage \x01\x02 line\n"
                   "[Software\\Lumora]\n"
                   "\"Bad\"=dword:123\n"          // wrong size
                   "\"Hex\"=hex:01,02\n"          // another type
                   "\"Unterminated=\"abc\n"
                   "\"MaxUpscale\"=dword:000000c8\n"
                   "\"CacheDir\"=\"/c\"\n"
                   "[Other\\Key]\n"
                   "\"Upscale\"=dword:00000001\n");
    EXPECT_EQ(ReadRegDword("Bad", -1), -1);
    EXPECT_EQ(ReadRegDword("Hex", -1), -1);
    EXPECT_EQ(ReadRegDword("MaxUpscale", 0), 200);
    EXPECT_EQ(ReadRegString("CacheDir", ""), "/c");
    // Values of another key are not ours.
    EXPECT_EQ(ReadRegDword("Upscale", 0), 0);

    WriteRegDword("Upscale", 1);
    WriteRegDword("MaxUpscale", 300);
    const std::string text = SettingsText();
    EXPECT_NE(text.find("garbage \x01\x02 line\n"), std::string::npos);
    EXPECT_NE(text.find("\"Hex\"=hex:01,02\n"), std::string::npos);
    EXPECT_NE(text.find("\"Unterminated=\"abc\n"), std::string::npos);
    EXPECT_EQ(ReadRegDword("Upscale", 0), 1);
    EXPECT_EQ(ReadRegDword("MaxUpscale", 0), 300);
    EXPECT_EQ(ReadRegString("CacheDir", ""), "/c");
    // The other key's value stays where it was, untouched.
    EXPECT_NE(text.find("[Other\\Key]\n\"Upscale\"=dword:00000001\n"), std::string::npos);
}

TEST_F(RegistryTest, AStoreThatCannotBeOpenedFallsBackToDefaultsSilently) {
    // A folder where the file should be: nothing can be read or written.
    std::filesystem::create_directories(dir_.path() / "Lumora" / "Lumora.reg");
    EXPECT_EQ(ReadRegDword("Upscale", 4), 4);
    WriteRegDword("Upscale", 1);
    WriteRegString("CacheDir", "x");
    EXPECT_EQ(ReadRegString("CacheDir", "d"), "d");
    EXPECT_TRUE(std::filesystem::is_directory(SettingsFilePath()));
}

// Settings kept in a dotfile repository are linked into place; writes go through the link.
TEST_F(RegistryTest, ASettingsFileThatIsALinkStaysALink) {
    namespace fs = std::filesystem;
    auto entries = [](const fs::path& folder) {
        return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    };
    fs::create_directories(dir_.path() / "Lumora");
    fs::create_directories(dir_.path() / "dotfiles" / "lumora");
    const std::string target = dir_.file("dotfiles/lumora/Lumora.reg");
    WriteFileBytes(target,
                   "[Software\\Lumora]\n\"Upscale\"=dword:00000001\n\"CacheDir\"=\"/c\"\n");
    // Through two links, the first one relative.
    fs::create_symlink(target, dir_.file("dotfiles/current.reg"));
    fs::create_symlink("../dotfiles/current.reg", SettingsFilePath());
    WriteRegDword("MaxUpscale", 300);
    WriteRegString("CacheDir", "/d");
    EXPECT_TRUE(fs::is_symlink(SettingsFilePath()));
    EXPECT_TRUE(fs::is_symlink(dir_.file("dotfiles/current.reg")));
    EXPECT_EQ(ReadFileBytes(target),
              "[Software\\Lumora]\n\"Upscale\"=dword:00000001\n\"CacheDir\"=\"/d\"\n"
              "\"MaxUpscale\"=dword:0000012c\n");
    EXPECT_EQ(ReadRegDword("Upscale", 0), 1);
    // No temporary file is left beside the link or the file.
    EXPECT_EQ(entries(dir_.path() / "Lumora"), 1);
    EXPECT_EQ(entries(dir_.path() / "dotfiles" / "lumora"), 1);

    // A link to a file not made yet: the first use makes the file it names.
    fs::remove(target);
    EXPECT_EQ(ReadRegDword("Upscale", 7), 7);
    WriteRegDword("Upscale", 2);
    EXPECT_TRUE(fs::is_symlink(SettingsFilePath()));
    EXPECT_EQ(ReadFileBytes(target), "[Software\\Lumora]\n\"Upscale\"=dword:00000002\n");

    // A link that loops cannot be written through and is left as it is.
    fs::remove(SettingsFilePath());
    fs::create_symlink("Lumora.reg", SettingsFilePath());
    WriteRegDword("Upscale", 3);
    EXPECT_EQ(ReadRegDword("Upscale", 4), 4);
    EXPECT_TRUE(fs::is_symlink(SettingsFilePath()));
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kValues = 40;
    ReadRegDword("Start", 0);
    pid_t children[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        children[w] = fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            for (int i = 0; i < kValues; ++i) {
                const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
                WriteRegDword(name, w * 1000 + i);
                WriteRegString(name + "s", name);
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValues; ++i) {
            const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
            EXPECT_EQ(ReadRegDword(name, -1), w * 1000 + i) << name;
            EXPECT_EQ(ReadRegString(name + "s", ""), name);
        }
    }
    // No temporary files left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / "Lumora")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

}  // namespace
