#include "browser/folder_history.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "settings/registry.h"

namespace {

using Strings = std::vector<std::string>;

CFolderHistory Of(const Strings& folders) {
    CFolderHistory history;
    for (const std::string& folder : folders) history.Add(folder);
    return history;
}

TEST(FolderHistoryTest, AddingKeepsOneOfEachMostRecentLastAndAtMostFifteen) {
    CFolderHistory history = Of({"/a/", "/b/", "/c/"});
    history.Add("/c/");
    EXPECT_EQ(history.folders(), (Strings{"/a/", "/b/", "/c/"}));
    history.Add("/a/");
    EXPECT_EQ(history.folders(), (Strings{"/b/", "/c/", "/a/"}));
    for (int i = 0; i < 12; ++i) history.Add("/f" + std::to_string(i) + "/");
    EXPECT_EQ(history.Count(), 15u);
    EXPECT_EQ(history.folders().front(), "/b/");
    history.Add("/sixteenth/");
    EXPECT_EQ(history.Count(), 15u);
    EXPECT_EQ(history.folders().front(), "/c/");
    EXPECT_EQ(history.Last(), "/sixteenth/");
}

TEST(FolderHistoryTest, BackAndForwardRotateAndOneFolderIgnoresThem) {
    CFolderHistory history = Of({"/A/", "/B/", "/C/"});
    EXPECT_TRUE(history.Back(1));
    EXPECT_EQ(history.folders(), (Strings{"/C/", "/A/", "/B/"}));
    history = Of({"/A/", "/B/", "/C/"});
    EXPECT_TRUE(history.Forward(1));
    EXPECT_EQ(history.folders(), (Strings{"/B/", "/C/", "/A/"}));
    history = Of({"/A/"});
    EXPECT_FALSE(history.Back(1));
    EXPECT_FALSE(history.Forward(2));
    EXPECT_EQ(history.folders(), Strings{"/A/"});
}

TEST(FolderHistoryTest, EntryTextsNameTheFoldersTheStepsReach) {
    EXPECT_EQ(CFolderHistory().EntryText(-1), "");
    CFolderHistory history = Of({"/", "/photos/2009/", "/x/"});
    EXPECT_EQ(history.EntryText(0), "/x");
    EXPECT_EQ(history.EntryText(3), "/x");
    EXPECT_EQ(history.EntryText(-3), "/x");
    EXPECT_EQ(history.EntryText(-1), "/photos/2009");
    EXPECT_EQ(history.EntryText(1), "/");  // the root keeps its slash
    // What the tooltips promise is what one step makes current.
    CFolderHistory back = history;
    back.Back(1);
    EXPECT_EQ(back.Last(), "/photos/2009/");
    CFolderHistory forward = history;
    forward.Forward(1);
    EXPECT_EQ(forward.Last(), "/");
}

TEST(FolderHistoryTest, MenuEntriesAreInNameOrderAndEachLeadsToItsFolder) {
    const CFolderHistory history = Of({"/b/", "/C/", "/a/"});
    const auto entries = history.MenuEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (std::pair<std::string, int>{"/a", 2}));
    EXPECT_EQ(entries[1], (std::pair<std::string, int>{"/b", 0}));
    EXPECT_EQ(entries[2], (std::pair<std::string, int>{"/C", 1}));
    for (const auto& [text, index] : entries) {
        CFolderHistory copy = history;
        copy.Forward(index + 1);
        EXPECT_EQ(copy.Last(), text + "/");
    }
}

TEST(FolderHistoryTest, LoadTakesTheNonEmptyValuesAndSaveLeavesHigherNumbersAlone) {
    std::filesystem::remove(SettingsFilePath());
    WriteRegString("DirHistory0", "/one/");
    WriteRegString("DirHistory2", "/three/");
    WriteRegString("DirHistory14", "/last/");
    WriteRegString("DirHistory15", "/never/");
    CFolderHistory history;
    history.Load();
    EXPECT_EQ(history.folders(), (Strings{"/one/", "/three/", "/last/"}));
    Of({"/x/"}).Save();
    EXPECT_EQ(ReadRegString("DirHistory0", ""), "/x/");
    EXPECT_EQ(ReadRegString("DirHistory2", ""), "/three/");
}

}  // namespace
