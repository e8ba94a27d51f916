#include "thumbs/cache_relocation.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "settings/settings.h"
#include "thumbs/cache_fixture.h"
#include "thumbs/thumbnail_cache.h"

namespace fs = std::filesystem;

namespace {

class CacheRelocationTest : public CacheFixture {
protected:
    // An old cache with one folder of thumbnails, in use for images_.
    std::unique_ptr<CThumbnailCache> OldCache() {
        MakeFolder("a1", {100, 200});
        WriteIndex({{"a1", 300, images_}});
        WriteSetting(settings::kCacheDir, root_);
        auto cache = std::make_unique<CThumbnailCache>(root_);
        cache->SetDirectory(images_);
        return cache;
    }
    // Every path under folder, relative to it, in order.
    static std::vector<std::string> Listing(const std::string& folder) {
        std::vector<std::string> paths;
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(folder, error))
            paths.push_back(fs::relative(entry.path(), folder).string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    std::string NewRoot() {
        fs::create_directories(dir_.path() / "new");
        return dir_.file("new/LumoraCache");
    }
};

TEST_F(CacheRelocationTest, MoveTakesTheOldFolderWithItsContents) {
    const std::string newRoot = NewRoot();
    int asked = 0;
    auto [cache, result] = RelocateCache(
        OldCache(), newRoot, [&] { return ++asked, CacheChoice::kMove; }, images_);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(result, OldCacheResult::kDone);
    EXPECT_EQ(ReadSetting(settings::kCacheDir), newRoot);
    EXPECT_FALSE(fs::exists(root_));
    ASSERT_TRUE(cache->IsAvailable());
    // The moved index was in use again at once: the old record is the current one.
    EXPECT_EQ(cache->CurrentSubfolder(), newRoot + "/a1");
    EXPECT_EQ(cache->Records(), (std::vector<CacheEntry>{{"a1", 300, images_}}));
    EXPECT_EQ(fs::file_size(newRoot + "/a1/f1.png.jpg"), 200u);
}

TEST_F(CacheRelocationTest, DeleteRemovesTheOldFolderAndLeaveKeepsIt) {
    const std::string newRoot = NewRoot();
    auto [cache, result] = RelocateCache(
        OldCache(), newRoot, [] { return CacheChoice::kDelete; }, images_);
    EXPECT_EQ(result, OldCacheResult::kDone);
    EXPECT_FALSE(fs::exists(root_));
    EXPECT_TRUE(cache->IsAvailable());
    EXPECT_EQ(cache->Records().size(), 1u);
    EXPECT_EQ(cache->Records()[0].size, 0);
    cache.reset();
    EXPECT_EQ(ReadFileBytes(newRoot + "/CacheList.txt"), "");

    WriteSetting(settings::kCacheDir, "");
    fs::remove_all(newRoot);
    const std::string other = NewRoot();
    CacheRelocation left = RelocateCache(
        OldCache(), other, [] { return CacheChoice::kLeave; }, images_);
    EXPECT_EQ(left.oldCache, OldCacheResult::kLeft);
    cache = std::move(left.cache);
    EXPECT_EQ(BytesIn("a1"), 300);
    EXPECT_EQ(Index(), FormatCacheIndex({{"a1", 300, images_}}));
    EXPECT_TRUE(cache->IsAvailable());
}

TEST_F(CacheRelocationTest, AFolderAnotherCopyIsUsingIsNeitherMovedNorDeleted) {
    MakeFolder("a1", {100, 200});
    WriteIndex({{"a1", 300, images_}});
    const std::string text = Index();
    WriteSetting(settings::kCacheDir, root_);
    // Another running copy holds the old index (a second open conflicts within one process too).
    auto other = std::make_unique<CThumbnailCache>(root_);
    ASSERT_TRUE(other->IsAvailable());
    const std::string newRoot = NewRoot();
    for (CacheChoice choice : {CacheChoice::kMove, CacheChoice::kDelete}) {
        EXPECT_EQ(ApplyCacheChoice(choice, root_, newRoot), OldCacheResult::kInUse);
        EXPECT_EQ(Index(), text);
        EXPECT_EQ(BytesIn("a1"), 300);
        EXPECT_FALSE(fs::exists(newRoot + "/a1"));
    }
    auto [cache, result] = RelocateCache(
        nullptr, newRoot, [] { return CacheChoice::kMove; }, images_);
    EXPECT_EQ(result, OldCacheResult::kInUse);
    EXPECT_EQ(ReadSetting(settings::kCacheDir), newRoot);
    EXPECT_EQ(Index(), text);
    EXPECT_EQ(BytesIn("a1"), 300);
    ASSERT_TRUE(cache->IsAvailable());
    EXPECT_EQ(cache->Records().size(), 1u);
    EXPECT_NE(cache->CurrentSubfolder(), newRoot + "/a1");

    // Once the other copy has closed, the old folder can go; so can an empty one.
    cache.reset();
    other.reset();
    EXPECT_EQ(ApplyCacheChoice(CacheChoice::kDelete, root_, newRoot), OldCacheResult::kDone);
    EXPECT_FALSE(fs::exists(root_));
    fs::create_directories(root_);
    EXPECT_EQ(ApplyCacheChoice(CacheChoice::kMove, root_, newRoot), OldCacheResult::kDone);
    EXPECT_FALSE(fs::exists(root_));
    EXPECT_TRUE(fs::is_directory(newRoot));
}

// A "CacheDir" edited by hand can name any folder, and the cache opened there has made its index
// in it. Only what holds nothing but a cache's own files goes with the cache.
TEST_F(CacheRelocationTest, AFolderThatIsNotACacheIsNeitherMovedNorDeleted) {
    const std::string home = dir_.file("home");
    struct Case {
        const char* what;
        std::function<void()> lay;
    } cases[] = {
        {"a home folder the cache was opened in",
         [&] {
             fs::create_directories(home + "/Documents");
             WriteFileBytes(home + "/.bashrc", "alias ll='ls -l'\n");
             WriteSetting(settings::kCacheDir, home);
             CThumbnailCache opened(home);
             ASSERT_TRUE(opened.IsAvailable());
             opened.SetDirectory(images_);
         }},
        {"subfolders named like keys but no index",
         [&] {
             fs::create_directories(home + "/a1");
             WriteFileBytes(home + "/a1/f0.png.jpg", "thumbnail");
         }},
        {"an index beside a file of its own",
         [&] {
             fs::create_directories(home);
             WriteFileBytes(home + "/CacheList.txt", "");
             WriteFileBytes(home + "/notes.txt", "mine");
         }},
    };
    for (const Case& c : cases) {
        for (CacheChoice choice : {CacheChoice::kMove, CacheChoice::kDelete}) {
            fs::remove_all(home);
            c.lay();
            const std::vector<std::string> before = Listing(home);
            ASSERT_FALSE(before.empty()) << c.what;
            WriteSetting(settings::kCacheDir, home);
            const std::string newRoot = NewRoot();
            auto [cache, result] = RelocateCache(
                nullptr, newRoot, [&] { return choice; }, images_);
            EXPECT_EQ(result, OldCacheResult::kNotACache) << c.what;
            EXPECT_EQ(Listing(home), before) << c.what;
            EXPECT_FALSE(fs::exists(dir_.file("new/home"))) << c.what;
            EXPECT_NE(DescribeOldCacheResult(result, home, newRoot).find(home), std::string::npos);
            EXPECT_TRUE(cache->IsAvailable());
            cache.reset();
            fs::remove_all(newRoot);
        }
    }

    // Nor is a cache moved into a folder of its name that is not a cache: the merge would
    // replace files there.
    MakeFolder("a1", {100});
    WriteIndex({{"a1", 100, images_}});
    fs::create_directories(dir_.file("new/LumoraCache"));
    WriteFileBytes(dir_.file("new/LumoraCache/a1"), "a file of the user's");
    EXPECT_EQ(MoveCacheFolder(root_, dir_.file("new/LumoraCache")), OldCacheResult::kTargetTaken);
    EXPECT_EQ(BytesIn("a1"), 100);
    EXPECT_EQ(ReadFileBytes(dir_.file("new/LumoraCache/a1")), "a file of the user's");
}

TEST_F(CacheRelocationTest, NobodyIsAskedWhenEitherFolderIsEmpty) {
    auto [cache, result] = RelocateCache(
        OldCache(), "", [] { return ADD_FAILURE(), CacheChoice::kDelete; }, images_);
    EXPECT_EQ(result, OldCacheResult::kLeft);
    EXPECT_FALSE(cache->IsAvailable());
    EXPECT_EQ(ReadSetting(settings::kCacheDir), "");
    EXPECT_EQ(BytesIn("a1"), 300);  // the old folder stays on disk
    cache =
        RelocateCache(
            std::move(cache), root_, [] { return ADD_FAILURE(), CacheChoice::kDelete; }, images_)
            .cache;
    EXPECT_TRUE(cache->IsAvailable());
    EXPECT_EQ(cache->CurrentSubfolder(), root_ + "/a1");
}

TEST_F(CacheRelocationTest, MovesMergeIntoAnExistingFolderAndCrossFileSystems) {
    MakeFolder("a1", {100});
    WriteIndex({{"a1", 100, images_}});
    const std::string newRoot = NewRoot();
    fs::create_directories(newRoot + "/b2");
    WriteFileBytes(newRoot + "/CacheList.txt", "b2\t0\t/b\n");
    ASSERT_EQ(MoveCacheFolder(root_ + "/", newRoot), OldCacheResult::kDone);
    EXPECT_EQ(fs::file_size(newRoot + "/a1/f0.png.jpg"), 100u);
    EXPECT_TRUE(fs::is_directory(newRoot + "/b2"));
    EXPECT_EQ(ReadFileBytes(newRoot + "/CacheList.txt"), FormatCacheIndex({{"a1", 100, images_}}));
    EXPECT_FALSE(fs::exists(root_));
    // A folder cannot be moved into itself, nor out of a new cache folder that holds it.
    EXPECT_EQ(MoveCacheFolder(newRoot, newRoot + "/deeper/LumoraCache"),
              OldCacheResult::kNewInsideOld);
    EXPECT_EQ(MoveCacheFolder(newRoot, dir_.file("new")), OldCacheResult::kOldInsideNew);
    EXPECT_TRUE(fs::exists(newRoot + "/a1"));

    struct stat shm {
    }, here{};
    if (stat("/dev/shm", &shm) != 0 || stat(dir_.path().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable second file system at /dev/shm";
    TempDir other("/dev/shm/lumora-move");
    ASSERT_EQ(MoveCacheFolder(newRoot, other.file("LumoraCache")), OldCacheResult::kDone);
    EXPECT_FALSE(fs::exists(newRoot));
    EXPECT_EQ(fs::file_size(other.file("LumoraCache/a1/f0.png.jpg")), 100u);
    EXPECT_TRUE(fs::is_directory(other.file("LumoraCache/b2")));
}

// The old cache must survive any move that does not finish: it stays whole and stays the cache.
TEST_F(CacheRelocationTest, AMoveThatFailsOrIsRefusedKeepsTheOldCacheInUse) {
    const std::string newRoot = NewRoot();
    // Into itself: the settings dialog makes that of the old folder picked again.
    {
        auto [cache, result] = RelocateCache(
            OldCache(), root_ + "/LumoraCache", [] { return CacheChoice::kMove; }, images_);
        EXPECT_EQ(result, OldCacheResult::kNewInsideOld);
        EXPECT_EQ(ReadSetting(settings::kCacheDir), root_);
        EXPECT_FALSE(fs::exists(root_ + "/LumoraCache"));
        ASSERT_TRUE(cache->IsAvailable());
        EXPECT_EQ(cache->CurrentSubfolder(), root_ + "/a1");
        EXPECT_NE(DescribeOldCacheResult(result, root_, root_ + "/LumoraCache").find("not changed"),
                  std::string::npos);
    }
    // Cut short: a merge copies, and a file the copy cannot take stops it part way.
    fs::create_directories(newRoot + "/c3");
    WriteFileBytes(newRoot + "/CacheList.txt", "c3\t0\t/c\n");
    const std::vector<std::string> targetBefore = Listing(newRoot);
    auto cache = OldCache();
    cache.reset();
    MakeFolder("b2", {50});
    ASSERT_EQ(mkfifo((root_ + "/b2/pipe").c_str(), 0600), 0);
    const std::vector<std::string> sourceBefore = Listing(root_);
    auto [reopened, result] = RelocateCache(
        nullptr, newRoot, [] { return CacheChoice::kMove; }, images_);
    EXPECT_EQ(result, OldCacheResult::kMoveFailed);
    EXPECT_EQ(Listing(root_), sourceBefore);
    EXPECT_EQ(Listing(newRoot), targetBefore);
    EXPECT_EQ(ReadFileBytes(newRoot + "/CacheList.txt"), "c3\t0\t/c\n");
    EXPECT_EQ(ReadSetting(settings::kCacheDir), root_);
    ASSERT_TRUE(reopened->IsAvailable());
    EXPECT_EQ(reopened->Root(), root_);
    EXPECT_EQ(BytesIn("a1"), 300);
}

}  // namespace
