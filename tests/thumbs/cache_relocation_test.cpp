#include "thumbs/cache_relocation.h"

#include <sys/stat.h>
#include <unistd.h>

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
    std::string NewRoot() {
        fs::create_directories(dir_.path() / "new");
        return dir_.file("new/LumoraCache");
    }
};

TEST_F(CacheRelocationTest, MoveTakesTheOldFolderWithItsContents) {
    const std::string newRoot = NewRoot();
    int asked = 0;
    auto cache = RelocateCache(
        OldCache(), newRoot, [&] { return ++asked, CacheChoice::kMove; }, images_);
    EXPECT_EQ(asked, 1);
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
    auto cache = RelocateCache(
        OldCache(), newRoot, [] { return CacheChoice::kDelete; }, images_);
    EXPECT_FALSE(fs::exists(root_));
    EXPECT_TRUE(cache->IsAvailable());
    EXPECT_EQ(cache->Records().size(), 1u);
    EXPECT_EQ(cache->Records()[0].size, 0);
    cache.reset();
    EXPECT_EQ(ReadFileBytes(newRoot + "/CacheList.txt"), "");

    WriteSetting(settings::kCacheDir, "");
    fs::remove_all(newRoot);
    const std::string other = NewRoot();
    cache = RelocateCache(
        OldCache(), other, [] { return CacheChoice::kLeave; }, images_);
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
        ApplyCacheChoice(choice, root_, newRoot);
        EXPECT_EQ(Index(), text);
        EXPECT_EQ(BytesIn("a1"), 300);
        EXPECT_FALSE(fs::exists(newRoot + "/a1"));
    }
    auto cache = RelocateCache(nullptr, newRoot, [] { return CacheChoice::kMove; }, images_);
    EXPECT_EQ(ReadSetting(settings::kCacheDir), newRoot);
    EXPECT_EQ(Index(), text);
    EXPECT_EQ(BytesIn("a1"), 300);
    ASSERT_TRUE(cache->IsAvailable());
    EXPECT_EQ(cache->Records().size(), 1u);
    EXPECT_NE(cache->CurrentSubfolder(), newRoot + "/a1");

    // Once the other copy has closed, the old folder can go; so can a folder without an index.
    cache.reset();
    other.reset();
    ApplyCacheChoice(CacheChoice::kDelete, root_, newRoot);
    EXPECT_FALSE(fs::exists(root_));
    MakeFolder("a1", {100});
    ApplyCacheChoice(CacheChoice::kMove, root_, newRoot);
    EXPECT_FALSE(fs::exists(root_));
    EXPECT_EQ(fs::file_size(newRoot + "/a1/f0.png.jpg"), 100u);
    EXPECT_FALSE(fs::exists(newRoot + "/CacheList.txt.new"));
}

TEST_F(CacheRelocationTest, NobodyIsAskedWhenEitherFolderIsEmpty) {
    auto cache = RelocateCache(
        OldCache(), "", [] { return ADD_FAILURE(), CacheChoice::kDelete; }, images_);
    EXPECT_FALSE(cache->IsAvailable());
    EXPECT_EQ(ReadSetting(settings::kCacheDir), "");
    EXPECT_EQ(BytesIn("a1"), 300);  // the old folder stays on disk
    cache = RelocateCache(
        std::move(cache), root_, [] { return ADD_FAILURE(), CacheChoice::kDelete; }, images_);
    EXPECT_TRUE(cache->IsAvailable());
    EXPECT_EQ(cache->CurrentSubfolder(), root_ + "/a1");
}

TEST_F(CacheRelocationTest, MovesMergeIntoAnExistingFolderAndCrossFileSystems) {
    MakeFolder("a1", {100});
    WriteIndex({{"a1", 100, images_}});
    const std::string newRoot = NewRoot();
    fs::create_directories(newRoot + "/b2");
    WriteFileBytes(newRoot + "/CacheList.txt", "b2\t0\t/b\n");
    ASSERT_TRUE(MoveCacheFolder(root_ + "/", newRoot));
    EXPECT_EQ(fs::file_size(newRoot + "/a1/f0.png.jpg"), 100u);
    EXPECT_TRUE(fs::is_directory(newRoot + "/b2"));
    EXPECT_EQ(ReadFileBytes(newRoot + "/CacheList.txt"), FormatCacheIndex({{"a1", 100, images_}}));
    EXPECT_FALSE(fs::exists(root_));
    // A folder cannot be moved into itself.
    EXPECT_FALSE(MoveCacheFolder(newRoot, newRoot + "/deeper/LumoraCache"));
    EXPECT_TRUE(fs::exists(newRoot + "/a1"));

    struct stat shm {
    }, here{};
    if (stat("/dev/shm", &shm) != 0 || stat(dir_.path().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable second file system at /dev/shm";
    TempDir other("/dev/shm/lumora-move");
    ASSERT_TRUE(MoveCacheFolder(newRoot, other.file("LumoraCache")));
    EXPECT_FALSE(fs::exists(newRoot));
    EXPECT_EQ(fs::file_size(other.file("LumoraCache/a1/f0.png.jpg")), 100u);
    EXPECT_TRUE(fs::is_directory(other.file("LumoraCache/b2")));
}

}  // namespace
