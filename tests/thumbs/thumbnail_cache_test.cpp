#include "thumbs/thumbnail_cache.h"

#include <sys/file.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <ctime>
#include <thread>

#include "settings/settings.h"
#include "thumbs/cache_fixture.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Lets a test end the process at the moment the cache renames its new index into place, as a
// crash or power cut would.
static std::atomic<bool> g_dieAtIndexRename{false};

extern "C" int rename(const char* from, const char* to) noexcept {
    std::string_view target(to);
    if (g_dieAtIndexRename && target.ends_with("/CacheList.txt")) _exit(42);
    return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

constexpr int64_t kMB = 1 << 20;

class ThumbnailCacheTest : public CacheFixture {};

TEST_F(ThumbnailCacheTest, WithoutARootNothingIsAvailableAndNothingIsMade) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_.path());
    {
        CThumbnailCache cache("");
        EXPECT_FALSE(cache.IsAvailable());
        cache.SetDirectory(images_);
        cache.StartSweep();
        EXPECT_EQ(cache.Lookup(Image("a.png")), "");
        EXPECT_EQ(cache.CurrentSubfolder(), "");
    }
    {
        // A root is made one level deep only.
        CThumbnailCache cache(dir_.file("missing/LumoraCache"));
        EXPECT_FALSE(cache.IsAvailable());
    }
    fs::current_path(before);
    EXPECT_FALSE(fs::exists(dir_.path() / "missing"));
    EXPECT_FALSE(fs::exists(dir_.path() / "CacheList.txt"));
}

TEST_F(ThumbnailCacheTest, TrailingSlashesGiveTheSamePaths) {
    CThumbnailCache cache(root_ + "/");
    ASSERT_TRUE(cache.IsAvailable());
    EXPECT_EQ(cache.Root(), root_);
    EXPECT_TRUE(fs::exists(IndexPath()));
    cache.SetDirectory(images_ + "/");
    const std::vector<CacheEntry> records = cache.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].folder, images_);
    EXPECT_EQ(cache.CurrentSubfolder(), root_ + "/" + records[0].key);
    EXPECT_TRUE(fs::is_directory(cache.CurrentSubfolder()));
}

TEST_F(ThumbnailCacheTest, TheIndexIsRewrittenByteForByteAndKeepsRecentFoldersFirst) {
    const std::vector<CacheEntry> original{
        {"a1", 48213, "/home/ann/Photos"},
        {"b2", 7, "/media/x/with\ttab"},
        {"c3", -16, ""},
        {"d4", 2147483647, "/mnt/\xC3\xA9t\xC3\xA9"},
    };
    WriteIndex(original);
    const std::string text = Index();
    {
        CThumbnailCache cache(root_);
        ASSERT_TRUE(cache.IsAvailable());
        EXPECT_EQ(cache.Records(), original);
        EXPECT_EQ(cache.TotalUnits(), uint32_t(48213 / 8 + 0 - 2 + 268435455));
        cache.SetDirectory("/home/ann/Photos/");
        cache.SetDirectory("/home/ann/Photos");  // leaves a folder with thumbnails: saved
        EXPECT_EQ(Index(), text);
        EXPECT_FALSE(fs::exists(root_ + "/CacheList.txt.new"));

        cache.SetDirectory("/");  // the record of the root folder, whose text is empty
        cache.SetDirectory("/new/folder");
        EXPECT_EQ(Index(), FormatCacheIndex({original[2], original[0], original[1], original[3]}));
        const std::string newSubfolder = cache.CurrentSubfolder();
        EXPECT_TRUE(fs::is_directory(newSubfolder));
        // Leaving a folder that got no thumbnail forgets it and leaves the index as it was.
        const std::string before = Index();
        cache.SetDirectory("/mnt/\xC3\xA9t\xC3\xA9");
        EXPECT_FALSE(fs::exists(newSubfolder));
        EXPECT_EQ(Index(), before);
        EXPECT_EQ(cache.Records().size(), 4u);
    }
    EXPECT_EQ(Index(), FormatCacheIndex({original[3], original[2], original[0], original[1]}));
}

TEST_F(ThumbnailCacheTest, FolderIdentityIsCaseSensitive) {
    WriteIndex({{"a1", 100, "/x/Photos"}});
    CThumbnailCache cache(root_);
    cache.SetDirectory("/x/photos");
    const std::vector<CacheEntry> records = cache.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].folder, "/x/photos");
    EXPECT_NE(records[0].key, "a1");
    cache.SetDirectory("/x/Photos");
    EXPECT_EQ(cache.CurrentSubfolder(), root_ + "/a1");
}

TEST_F(ThumbnailCacheTest, StoredThumbnailsAreValidToTheNanosecond) {
    const std::string image = Image("IMG_0001.JPG", 1600000000, 987654321);
    auto picture = Picture();
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    EXPECT_EQ(cache.Lookup(image), "");
    cache.Store(image, *picture);
    const std::string thumbnail = cache.CurrentSubfolder() + "/IMG_0001.JPG.jpg";
    ASSERT_TRUE(fs::exists(thumbnail));
    EXPECT_EQ(ReadFileBytes(thumbnail).substr(0, 3), "\xFF\xD8\xFF");
    EXPECT_EQ(ModTime(thumbnail).tv_sec, 1600000000);
    EXPECT_EQ(ModTime(thumbnail).tv_nsec, 987654321);
    EXPECT_EQ(cache.Lookup(image), thumbnail);
    const int64_t first = fs::file_size(thumbnail);
    EXPECT_EQ(cache.Records()[0].size, first);
    EXPECT_EQ(cache.TotalUnits(), uint32_t(first >> 3));

    // The image changed by one nanosecond: its thumbnail no longer counts.
    SetTime(image, 1600000000, 987654322);
    EXPECT_EQ(cache.Lookup(image), "");
    // Storing it again replaces the file and adds the new file's full size.
    auto other = Picture(64, 20);
    cache.Store(image, *other);
    EXPECT_EQ(cache.Lookup(image), thumbnail);
    const int64_t second = fs::file_size(thumbnail);
    EXPECT_NE(second, first);
    EXPECT_EQ(cache.Records()[0].size, first + second);
    EXPECT_EQ(cache.TotalUnits(), uint32_t((first + second) >> 3));

    // An image that is gone, or whose thumbnail was never made, is not cached.
    EXPECT_EQ(cache.Lookup(images_ + "/other.png"), "");
    fs::remove(image);
    EXPECT_EQ(cache.Lookup(image), "");
}

// Small copies of private pictures and the list of folders browsed are for their owner only.
TEST_F(ThumbnailCacheTest, ThumbnailsCachedBeforePhotosWereTurnedAreMadeAgainFolderByFolder) {
    const std::string image = Image("IMG_0002.JPG");
    MakeFolder("a1", {300, 200});
    MakeFolder("b2", {100});
    // Valid by its time, but made when photos were still shown as stored.
    const std::string sideways = root_ + "/a1/IMG_0002.JPG.jpg";
    WriteFileBytes(sideways, "sideways");
    SetTime(sideways, 1500000000, 123456789);
    // As copies from before wrote the index: no divider, so every record is of the older kind.
    WriteFileBytes(IndexPath(), "a1\t508\t" + images_ + "\nb2\t100\t/b\n");
    {
        CThumbnailCache cache(root_);
        cache.SetDirectory(images_);
        EXPECT_EQ(cache.Lookup(image), "");
        EXPECT_FALSE(fs::exists(sideways));
        EXPECT_EQ(BytesIn("a1"), 0);
        // The other folder keeps its thumbnails and its record until its own turn.
        EXPECT_EQ(BytesIn("b2"), 100);
        EXPECT_EQ(cache.Records(),
                  (std::vector<CacheEntry>{{"a1", 0, images_, true}, {"b2", 100, "/b", false}}));
        EXPECT_EQ(cache.TotalUnits(), 100u >> 3);
        cache.Store(image, *Picture());
        ASSERT_FALSE(cache.Lookup(image).empty());
    }
    // Made again, the folder's thumbnails last from one run to the next.
    CThumbnailCache cache(root_);
    const std::vector<CacheEntry> records = cache.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].upright);
    EXPECT_FALSE(records[1].upright);
    cache.SetDirectory(images_);
    EXPECT_FALSE(cache.Lookup(image).empty());
}

TEST_F(ThumbnailCacheTest, TheCacheIsReadableByItsOwnerOnly) {
    auto mode = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    };
    const mode_t oldMask = umask(022);
    const std::string image = Image("a.png");
    auto picture = Picture();
    {
        CThumbnailCache cache(root_);
        EXPECT_TRUE(cache.IsAvailable());
        EXPECT_EQ(mode(root_), 0700u);
        EXPECT_EQ(mode(IndexPath()), 0600u);
        cache.SetDirectory(images_);
        EXPECT_EQ(mode(cache.CurrentSubfolder()), 0700u);
        cache.Store(image, *picture);
        EXPECT_EQ(mode(cache.CurrentSubfolder() + "/a.png.jpg"), 0600u);
        // A subfolder removed by hand is made again the same way.
        fs::remove_all(cache.CurrentSubfolder());
        cache.Store(image, *picture);
        EXPECT_EQ(mode(cache.CurrentSubfolder()), 0700u);
        EXPECT_EQ(mode(cache.CurrentSubfolder() + "/a.png.jpg"), 0600u);
        cache.SetDirectory("/elsewhere");  // writes a new index
    }
    umask(oldMask);
    EXPECT_NE(Index(), "");
    EXPECT_EQ(mode(IndexPath()), 0600u);
}

TEST_F(ThumbnailCacheTest, AFailedWriteChangesNothingAndAMissingSubfolderIsMadeAgain) {
    WriteIndex({{"abc", 100, images_}});  // its subfolder was removed by hand
    auto picture = Picture();
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    ASSERT_EQ(cache.CurrentSubfolder(), root_ + "/abc");
    // A thumbnail name past the file name limit cannot be written.
    cache.Store(Image(std::string(NAME_MAX - 3, 'n')), *picture);
    EXPECT_EQ(cache.Records()[0].size, 100);
    const std::string image = Image("a.png");
    cache.Store(image, *picture);
    ASSERT_FALSE(cache.Lookup(image).empty());
    EXPECT_EQ(cache.Records()[0].size, 100 + BytesIn("abc"));
}

TEST_F(ThumbnailCacheTest, TheSweepDeletesThumbnailsOfRemovedImagesOnly) {
    for (const char* name : {"a.png", "b.png", "c.gif"}) Image(name);
    MakeFolder("abc", {1000, 2000, 3000}, "x");  // x0.png.jpg .. x2.png.jpg: no such images
    const std::string sub = root_ + "/abc/";
    WriteFileBytes(sub + "a.png.jpg", std::string(400, 'a'));
    WriteFileBytes(sub + "c.gif.jpg", std::string(500, 'c'));
    WriteFileBytes(sub + "notes.txt", "not a thumbnail");
    WriteIndex({{"abc", 6900, images_}, {"def", 80, "/other"}});
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    cache.StartSweep();
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_TRUE(cache.IsSweepDone());
    EXPECT_TRUE(fs::exists(sub + "a.png.jpg"));
    EXPECT_TRUE(fs::exists(sub + "c.gif.jpg"));
    EXPECT_TRUE(fs::exists(sub + "notes.txt"));
    EXPECT_FALSE(fs::exists(sub + "x0.png.jpg"));
    EXPECT_EQ(cache.Records()[0].size, 900);
    EXPECT_EQ(cache.TotalUnits(), uint32_t(900 / 8 + 80 / 8));

    // Done for this visit; the next visit sweeps again.
    Image("d.png");
    WriteFileBytes(sub + "d.png.jpg", "d");
    fs::remove(images_ + "/d.png");
    cache.StartSweep();
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_TRUE(fs::exists(sub + "d.png.jpg"));
    cache.SetDirectory("/other");
    cache.SetDirectory(images_);
    cache.StartSweep();
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_FALSE(fs::exists(sub + "d.png.jpg"));
}

TEST_F(ThumbnailCacheTest, TheSweepKeepsThumbnailsOfImagesItCannotCheck) {
    Image("a.png");
    // A link that loops cannot be followed, yet it is there.
    fs::create_symlink("loop.png", images_ + "/loop.png");
    MakeFolder("abc", {});
    const std::string sub = root_ + "/abc/";
    WriteFileBytes(sub + "a.png.jpg", std::string(200, 'a'));
    WriteFileBytes(sub + "loop.png.jpg", std::string(100, 'l'));
    WriteFileBytes(sub + "gone.png.jpg", std::string(300, 'g'));
    WriteIndex({{"abc", 600, images_}});
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    cache.StartSweep();
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_TRUE(fs::exists(sub + "a.png.jpg"));
    EXPECT_TRUE(fs::exists(sub + "loop.png.jpg"));
    EXPECT_FALSE(fs::exists(sub + "gone.png.jpg"));
    EXPECT_EQ(cache.Records()[0].size, 300);

    // A folder that may not be searched: none of its images can be checked, none is gone.
    WriteFileBytes(sub + "gone.png.jpg", std::string(300, 'g'));
    cache.SetDirectory("/other");
    cache.SetDirectory(images_);
    ASSERT_EQ(chmod(images_.c_str(), 0), 0);
    {
        PermissionsBite bite;
        struct stat st {};
        if (stat((images_ + "/a.png").c_str(), &st) == 0 || errno != EACCES) {
            chmod(images_.c_str(), 0755);
            GTEST_SKIP() << "folder permissions are not enforced here";
        }
        cache.StartSweep();
        ASSERT_TRUE(cache.WaitForWorkers(10s));
    }
    chmod(images_.c_str(), 0755);
    EXPECT_TRUE(fs::exists(sub + "a.png.jpg"));
    EXPECT_TRUE(fs::exists(sub + "gone.png.jpg"));
    EXPECT_EQ(cache.Records()[0].size, 300);
}

TEST_F(ThumbnailCacheTest, TheSweepLeavesAFolderThatIsGoneAlone) {
    MakeFolder("abc", {10, 20});
    WriteIndex({{"abc", 30, images_}});
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    fs::remove_all(images_);  // an unmounted volume looks like this
    cache.StartSweep();
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_FALSE(cache.IsSweepDone());
    EXPECT_EQ(BytesIn("abc"), 30);
    EXPECT_EQ(cache.Records()[0].size, 30);
}

TEST_F(ThumbnailCacheTest, APausedSweepHoldsResumesAndStops) {
    const std::vector<int64_t> sizes(200, 8);
    WriteIndex({{"abc", 200 * 8, images_}});
    CThumbnailCache cache(root_);
    // The sweep may get through the folder before the pause reaches it; then the folder is
    // filled again and visited again.
    auto startHeld = [&] {
        for (int attempt = 0; attempt < 20; ++attempt) {
            MakeFolder("abc", sizes);
            cache.SetDirectory("/elsewhere");
            cache.SetDirectory(images_);
            cache.StartSweep();
            cache.PauseSweep();
            cache.PauseSweep();
            if (cache.WaitForSweepHeld(10s)) return true;
        }
        return false;
    };
    ASSERT_TRUE(startHeld());
    // Held, however often it was paused, until one StartSweep.
    const size_t held = FilesIn("abc");
    EXPECT_GT(held, 0u);
    EXPECT_FALSE(cache.WaitForWorkers(10ms));
    EXPECT_EQ(FilesIn("abc"), held);
    cache.StartSweep();
    ASSERT_TRUE(cache.WaitForWorkers(20s));
    EXPECT_TRUE(cache.IsSweepDone());
    EXPECT_EQ(FilesIn("abc"), 0u);
    EXPECT_EQ(cache.Records()[0].size, 0);

    // A held sweep does not hold up leaving the folder: it is stopped there and then.
    ASSERT_TRUE(startHeld());
    cache.SetDirectory("/elsewhere");
    EXPECT_TRUE(cache.WaitForWorkers(0ms));
    EXPECT_GT(FilesIn("abc"), 0u);
}

// A writer killed mid-write leaves its temporary file in the subfolder. Once nobody has written
// it for a minute, the sweep removes it, and it no longer keeps an emptied folder's subfolder
// and record.
TEST_F(ThumbnailCacheTest, WritersLeftoversAreRemovedOnceAMinuteOld) {
    const long now = static_cast<long>(time(nullptr));
    Image("a.png");
    MakeFolder("abc", {});
    MakeFolder("def", {});
    const std::string sub = root_ + "/abc/";
    WriteFileBytes(sub + "a.png.jpg", std::string(200, 'a'));
    const std::string old = sub + ".lumora-4242-0.tmp", young = sub + ".lumora-4242-1.tmp",
                      locked = sub + ".lumora-4242-2.tmp", other = sub + "lumora-4242-3.tmp";
    for (const std::string& path : {old, young, locked, other}) {
        WriteFileBytes(path, std::string(300, 't'));
        SetTime(path, now - 120, 0);
    }
    SetTime(young, now - 5, 0);
    const int held = open(locked.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    WriteFileBytes(root_ + "/def/.lumora-77-0.tmp", "half a thumbnail");
    SetTime(root_ + "/def/.lumora-77-0.tmp", now - 3600, 0);
    WriteIndex({{"abc", 200, images_}, {"def", 0, "/emptied"}});

    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    cache.StartSweep();
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(young));
    EXPECT_TRUE(fs::exists(locked));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(sub + "a.png.jpg"));
    EXPECT_EQ(cache.Records()[0].size, 200);  // they were never counted
    close(held);

    cache.SetDirectory("/emptied");
    cache.SetDirectory(images_);
    EXPECT_FALSE(fs::exists(root_ + "/def"));
    EXPECT_EQ(cache.Records(), (std::vector<CacheEntry>{{"abc", 200, images_}}));
}

TEST_F(ThumbnailCacheTest, EvictionRemovesWholeFoldersThenSingleFilesToEightyPercent) {
    // Most recent first: 4 + 1 + 2 + 2 + 3 MB = 12 MB against a limit of 10 MB.
    MakeFolder("c0", {4 * kMB});
    MakeFolder("b1", {kMB});
    MakeFolder("b2", std::vector<int64_t>(8, kMB / 4));
    MakeFolder("b3", std::vector<int64_t>(8, kMB / 4));
    MakeFolder("b4", {kMB, kMB, kMB});
    WriteIndex({{"c0", 4 * kMB, images_},
                {"b1", kMB, "/1"},
                {"b2", 2 * kMB, "/2"},
                {"b3", 2 * kMB, "/3"},
                {"b4", 3 * kMB, "/4"}});
    WriteSetting(settings::kMaxCacheSize, 10);
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    ASSERT_TRUE(cache.WaitForWorkers(1s));  // nothing runs until something asks
    EXPECT_EQ(cache.Records().size(), 5u);
    cache.SetMaxSize(10);
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    // b4 (3 MB) is less than the 4 MB to free: gone whole. b3 is not less than the 1 MB left:
    // four of its eight files go.
    const std::vector<CacheEntry> records = cache.Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3], (CacheEntry{"b3", kMB, "/3"}));
    EXPECT_FALSE(fs::exists(root_ + "/b4"));
    EXPECT_EQ(FilesIn("b3"), 4u);
    for (const CacheEntry& record : records) EXPECT_EQ(BytesIn(record.key), record.size);
    EXPECT_EQ(cache.TotalUnits(), uint32_t(8 * kMB / 8));  // 80 % of 10 MB
}

TEST_F(ThumbnailCacheTest, TheOnlyRecordIsNeverEvictedAndNoLimitMeansNoEviction) {
    MakeFolder("c0", {50 * kMB});
    MakeFolder("b1", {kMB});
    WriteIndex({{"c0", 50 * kMB, images_}, {"b1", kMB, "/1"}});
    {
        CThumbnailCache cache(root_);
        cache.SetDirectory(images_);
        cache.SetMaxSize(0);
        cache.SetMaxSize(-5);
        ASSERT_TRUE(cache.WaitForWorkers(10s));
        EXPECT_EQ(cache.Records().size(), 2u);
        // A limit past what 32 bits of 8-byte units hold means "as large as can be counted".
        cache.SetMaxSize(INT32_MAX);
        cache.SetMaxSize(32768);
        ASSERT_TRUE(cache.WaitForWorkers(10s));
        EXPECT_EQ(cache.Records().size(), 2u);
    }
    WriteIndex({{"c0", 50 * kMB, images_}});
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    cache.SetMaxSize(1);
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_EQ(cache.Records(), (std::vector<CacheEntry>{{"c0", 50 * kMB, images_}}));
    EXPECT_EQ(BytesIn("c0"), 50 * kMB);
}

TEST_F(ThumbnailCacheTest, EvictionEndsWhenARecordClaimsMoreThanItsFolderHolds) {
    MakeFolder("c0", {kMB / 8});
    MakeFolder("b2", {kMB / 2});
    MakeFolder("b3", {10});  // claims 6 MB, holds 10 bytes
    WriteIndex({{"c0", kMB / 8, images_},
                {"b1", kMB / 2, "/1"},  // folder gone
                {"b2", kMB / 2, "/2"},
                {"b3", 6 * kMB, "/3"}});
    CThumbnailCache cache(root_);
    cache.SetDirectory(images_);
    cache.SetMaxSize(2);  // 1.6 MB wanted: about 5.5 MB to free
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_EQ(cache.Records(),
              (std::vector<CacheEntry>{
                  {"c0", kMB / 8, images_}, {"b1", kMB / 2, "/1"}, {"b2", kMB / 2, "/2"}}));
    EXPECT_FALSE(fs::exists(root_ + "/b3"));

    // A folder that vanished is dropped with its record when its turn comes.
    cache.SetDirectory("/2");
    cache.SetDirectory(images_);
    cache.SetMaxSize(1);  // 0.8 MB wanted: b1 (0.5 MB) is not less than the 0.325 MB to free
    ASSERT_TRUE(cache.WaitForWorkers(10s));
    EXPECT_EQ(cache.Records(),
              (std::vector<CacheEntry>{{"c0", kMB / 8, images_}, {"b2", kMB / 2, "/2"}}));
}

TEST_F(ThumbnailCacheTest, ASecondCopyFindsTheCacheUnavailableAndChangesNothing) {
    MakeFolder("a1", {100});
    WriteIndex({{"a1", 100, images_}, {"b2", 5, "/b"}});
    auto cache = std::make_unique<CThumbnailCache>(root_);
    ASSERT_TRUE(cache->IsAvailable());
    // The lock must survive the index being replaced.
    cache->SetDirectory(images_);
    cache->SetDirectory("/b");
    const std::string text = Index();
    ASSERT_EQ(text, FormatCacheIndex({{"a1", 100, images_}, {"b2", 5, "/b"}}));

    EXPECT_FALSE(CThumbnailCache(root_).IsAvailable());
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status;
        {
            CThumbnailCache second(root_);
            status = second.IsAvailable() ? 1 : 0;
            second.SetDirectory(images_);
            second.SetDirectory("/c");
            second.SetMaxSize(1);
        }
        _exit(status);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the second copy found the cache available";
    EXPECT_EQ(Index(), text);
    EXPECT_EQ(BytesIn("a1"), 100);

    cache.reset();
    CThumbnailCache next(root_);
    EXPECT_TRUE(next.IsAvailable());
}

TEST_F(ThumbnailCacheTest, ACrashBetweenWritingAndRenamingLeavesTheOldIndexWhole) {
    const std::vector<CacheEntry> original{{"a1", 100, "/a"}, {"b2", 5, "/b"}};
    WriteIndex(original);
    const std::string text = Index();
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CThumbnailCache cache(root_);
        cache.SetDirectory("/b");
        g_dieAtIndexRename = true;
        cache.SetDirectory("/a");  // leaving /b writes the index
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 42) << "the index was not written through a rename";
    EXPECT_EQ(Index(), text);
    // The new index was complete when the process died, under a name of its own.
    EXPECT_EQ(ReadFileBytes(root_ + "/CacheList.txt.new"),
              "b2\t5\t/b\na1\t100\t/a\n" + std::string(kUprightDivider) + "\n");

    {
        CThumbnailCache cache(root_);
        ASSERT_TRUE(cache.IsAvailable());
        EXPECT_EQ(cache.Records(), original);
        cache.SetDirectory("/b");
        cache.SetDirectory("/a");
    }
    EXPECT_EQ(Index(), "a1\t100\t/a\nb2\t5\t/b\n" + std::string(kUprightDivider) + "\n");
    EXPECT_FALSE(fs::exists(root_ + "/CacheList.txt.new"));
}

}  // namespace
