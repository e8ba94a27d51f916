#include "app/core/start_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "settings/helpers.h"
#include "support/temp_dir.h"

namespace {

class StartPathTest : public testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::create_directories(dir_.path() / "photos" / "2009");
        WriteFileBytes(dir_.file("photos/a.jpg"), "x");
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override { std::filesystem::current_path(previous_); }
    std::string Root() const { return dir_.path().string(); }

    std::filesystem::path previous_;
    TempDir dir_;
};

TEST_F(StartPathTest, PathsBecomeAbsoluteAndNormalAndFoldersEndInASlash) {
    EXPECT_EQ(NormalizeStartPath("photos/a.jpg"), Root() + "/photos/a.jpg");
    EXPECT_EQ(NormalizeStartPath("./photos/2009/../a.jpg"), Root() + "/photos/a.jpg");
    EXPECT_EQ(NormalizeStartPath(Root() + "//photos///a.jpg"), Root() + "/photos/a.jpg");
    EXPECT_EQ(NormalizeStartPath("photos"), Root() + "/photos/");
    EXPECT_EQ(NormalizeStartPath("photos/2009/"), Root() + "/photos/2009/");
    EXPECT_EQ(NormalizeStartPath(Root() + "/photos/2009/.."), Root() + "/photos/");
    // A file that does not exist is still a path; only an existing folder gets its slash.
    EXPECT_EQ(NormalizeStartPath("missing"), Root() + "/missing");
    EXPECT_EQ(NormalizeStartPath(""), "");
}

TEST_F(StartPathTest, OnlyASingleWordIsAStartPath) {
    EXPECT_FALSE(ChooseStartPath({}).fromCommandLine);
    EXPECT_FALSE(ChooseStartPath({"photos/a.jpg", "b.jpg"}).fromCommandLine);
    EXPECT_FALSE(ChooseStartPath({""}).fromCommandLine);

    StartChoice file = ChooseStartPath({"photos/a.jpg"});
    ASSERT_TRUE(file.fromCommandLine);
    EXPECT_EQ(file.folder, Root() + "/photos/");
    EXPECT_EQ(file.file, Root() + "/photos/a.jpg");
    // A folder opens itself, with or without its trailing slash.
    EXPECT_EQ(ChooseStartPath({"photos"}).folder, Root() + "/photos/");
    EXPECT_EQ(ChooseStartPath({"photos/"}).folder, Root() + "/photos/");
    // A file in the root folder opens the root.
    EXPECT_EQ(ChooseStartPath({"/vmlinuz"}).folder, "/");
}

TEST_F(StartPathTest, AMissingFolderOrAnOldDriveRootOpensTheHomeFolder) {
    EXPECT_EQ(StartFolderOrHome(Root() + "/photos"), Root() + "/photos/");
    EXPECT_EQ(StartFolderOrHome(Root() + "/photos/"), Root() + "/photos/");
    EXPECT_EQ(StartFolderOrHome("C:\\"), HomeFolder());
    EXPECT_EQ(StartFolderOrHome(Root() + "/nothing/"), HomeFolder());
    EXPECT_EQ(StartFolderOrHome(""), HomeFolder());
    EXPECT_EQ(HomeFolder(), std::string(std::getenv("HOME")) + "/");
}

}  // namespace
