#include "thumbs/cache_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/temp_dir.h"

namespace {

TEST(CacheIndexTest, ParseAndFormatRoundTripByteForByte) {
    const std::string text =
        "a1b2c3d40560789abcdef\t48213\t/home/ann/Photos\n"
        "0123456789abcdef0123456789abcdef\t0\t/\n"
        "fffffffffffffffffffffffffffffff\t-8\t/media/x/with\ttab and space \n"
        "abc\t2147483647\t\n"
        "def\t-2147483648\t/mnt/\xC3\xA9t\xC3\xA9\n";
    std::vector<CacheEntry> records = ParseCacheIndex(text);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0], (CacheEntry{"a1b2c3d40560789abcdef", 48213, "/home/ann/Photos", false}));
    EXPECT_EQ(records[2].folder, "/media/x/with\ttab and space ");
    EXPECT_EQ(records[3].folder, "");
    EXPECT_EQ(records[4].size, INT32_MIN);
    EXPECT_EQ(FormatCacheIndex(records), text);
    EXPECT_EQ(FormatCacheIndex({}), "");
}

TEST(CacheIndexTest, DamagedLinesAreSkipped) {
    const std::string text =
        "\n"
        "aa\t1\t/kept/first\n"
        "no tabs at all\n"
        "bb\t12\n"              // two fields
        "cc\t12a\t/x\n"         // size not a number
        "cd\t+5\t/x\n"          // no sign but "-"
        "ce\t\t/x\n"            // empty size
        "cf\t 5\t/x\n"          // blank before the number
        "d0\t2147483648\t/x\n"  // beyond 32 bits
        "../..\t5\t/escape\n"   // not a key: would name a folder outside the root
        "ABC\t5\t/upper\n"      // keys are lower case
        "\t5\t/empty-key\n"
        "0123456789abcdef0123456789abcdef0\t5\t/too-long\n"
        "aa\t7\t/same key again\n"
        "\n\n"
        "ee\t-3\t/kept/second\r\n"  // a CR belongs to the folder text
        "ff\t9\t/kept/last-without-lf";
    std::vector<CacheEntry> records = ParseCacheIndex(text);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], (CacheEntry{"aa", 1, "/kept/first", false}));
    EXPECT_EQ(records[1], (CacheEntry{"ee", -3, "/kept/second\r", false}));
    EXPECT_EQ(records[2], (CacheEntry{"ff", 9, "/kept/last-without-lf", false}));
    EXPECT_EQ(FormatCacheIndex(records),
              "aa\t1\t/kept/first\nee\t-3\t/kept/second\r\nff\t9\t/kept/last-without-lf\n");
    // A folder name with a line break cannot be written as one record.
    EXPECT_EQ(FormatCacheIndex({{"aa", 1, "/a\nb", false}, {"bb", 2, "/c", false}}), "bb\t2\t/c\n");
}

TEST(CacheIndexTest, TheDividerTellsUprightRecordsFromOlderOnes) {
    const std::string divider = std::string(kUprightDivider) + "\n";
    struct Case {
        const char* what;
        std::string text;
        std::vector<bool> upright;
    } cases[] = {
        {"an index from before the divider", "aa\t1\t/a\nbb\t2\t/b\n", {false, false}},
        {"upright above, older below", "aa\t1\t/a\n" + divider + "bb\t2\t/b\n", {true, false}},
        {"all upright", "aa\t1\t/a\nbb\t2\t/b\n" + divider, {true, true}},
        {"a second divider counts for nothing",
         "aa\t1\t/a\n" + divider + "bb\t2\t/b\n" + divider,
         {true, false}},
        {"a divider first: all older", divider + "aa\t1\t/a\n", {false}},
    };
    for (const Case& c : cases) {
        const std::vector<CacheEntry> records = ParseCacheIndex(c.text);
        std::vector<bool> kinds;
        for (const CacheEntry& r : records) kinds.push_back(r.upright);
        EXPECT_EQ(kinds, c.upright) << c.what;
        // The kinds survive a write and a read, and the written text is stable.
        const std::string written = FormatCacheIndex(records);
        EXPECT_EQ(ParseCacheIndex(written), records) << c.what;
        EXPECT_EQ(FormatCacheIndex(ParseCacheIndex(written)), written) << c.what;
    }
    // An upright record below an older one cannot be marked; it is written as older.
    EXPECT_EQ(FormatCacheIndex({{"aa", 1, "/a", false}, {"bb", 2, "/b", true}}),
              "aa\t1\t/a\nbb\t2\t/b\n");
}

TEST(CacheIndexTest, KeysAreTheGuidFieldsInHexWithoutLeadingZeros) {
    Guid guid{0x0A1B2C3D, 0x0405, 0x0607, {0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}};
    EXPECT_EQ(FolderKeyFromGuid(guid), "a1b2c3d40560789abcdef");
    EXPECT_EQ(FolderKeyFromGuid(Guid{}), "00000000000");
    Guid full{0xFFFFFFFF, 0xFFFF, 0xFFFF, {255, 255, 255, 255, 255, 255, 255, 255}};
    EXPECT_EQ(FolderKeyFromGuid(full), std::string(32, 'f'));
    std::set<std::string> keys;
    for (int i = 0; i < 100; ++i) {
        std::string key = FolderKeyFromGuid(RandomGuid());
        EXPECT_TRUE(IsFolderKey(key)) << key;
        EXPECT_GE(key.size(), 11u);
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 100u);
}

TEST(CacheIndexTest, ANewKeyIsDrawnAgainWhenItsNameIsTaken) {
    TempDir root("lumora-keys");
    const Guid taken{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};  // "123456789ab"
    const Guid listed{0xA, 0xB, 0xC, {1, 1, 1, 1, 1, 1, 1, 1}};   // "abc11111111"
    const Guid fresh{0xDEAD, 0xBEEF, 0x1, {0, 0, 0, 0, 0, 0, 0, 1}};
    std::filesystem::create_directory(root.path() / FolderKeyFromGuid(taken));
    WriteFileBytes(root.file(FolderKeyFromGuid(taken) + "/keep.jpg"), "old");
    std::vector<CacheEntry> records{{FolderKeyFromGuid(listed), 0, "/gone"}};
    const Guid sequence[] = {taken, listed, fresh};
    int draws = 0;
    std::string key =
        DrawFolderKey(root.path().string(), records, [&] { return sequence[draws++]; });
    EXPECT_EQ(draws, 3);
    EXPECT_EQ(key, FolderKeyFromGuid(fresh));
    EXPECT_TRUE(std::filesystem::is_directory(root.path() / key));
    EXPECT_EQ(ReadFileBytes(root.file(FolderKeyFromGuid(taken) + "/keep.jpg")), "old");
}

}  // namespace
