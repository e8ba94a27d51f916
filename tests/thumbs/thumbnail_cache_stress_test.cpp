#include <atomic>
#include <chrono>
#include <thread>

#include "thumbs/cache_fixture.h"
#include "thumbs/thumbnail_cache.h"

namespace {

using namespace std::chrono_literals;

class ThumbnailCacheStressTest : public CacheFixture {};

// Stores from the owner's thread while the sweep, the eviction and a probe thread all work on
// the same cache; afterwards every count must match the disk.
TEST_F(ThumbnailCacheStressTest, SizesMatchTheDiskAfterStoringDuringSweepAndEviction) {
    constexpr int kImages = 300, kOrphans = 200, kOldFolders = 40;
    std::vector<CacheEntry> records{{"c0", kOrphans * 1024, images_}};
    MakeFolder("c0", std::vector<int64_t>(kOrphans, 1024), "orphan");
    for (int i = 0; i < kOldFolders; ++i) {
        std::string key = "b" + std::to_string(i);
        MakeFolder(key, std::vector<int64_t>(5, 20 * 1024));
        records.push_back({key, 5 * 20 * 1024, "/old/" + std::to_string(i)});
    }
    WriteIndex(records);
    std::vector<std::string> images;
    for (int i = 0; i < kImages; ++i) images.push_back(Image("img" + std::to_string(i) + ".png"));
    auto picture = Picture(48, 36);

    auto cache = std::make_unique<CThumbnailCache>(root_);
    ASSERT_TRUE(cache->IsAvailable());
    cache->SetDirectory(images_);
    std::atomic<bool> probing{true};
    std::atomic<int> found{0};
    std::thread probe([&] {
        while (probing)
            for (const std::string& image : images)
                if (!cache->Lookup(image).empty()) ++found;
    });
    cache->StartSweep();
    cache->SetMaxSize(2);  // 4.2 MB against 2 MB: the eviction starts
    for (int i = 0; i < kImages; ++i) {
        // The pane pauses the sweep while it decodes and resumes it when idle.
        if (i % 7 == 0) cache->PauseSweep();
        cache->Store(images[i], *picture);
        if (i % 7 == 3) cache->StartSweep();
    }
    cache->StartSweep();
    ASSERT_TRUE(cache->WaitForWorkers(120s));
    probing = false;
    probe.join();
    EXPECT_GT(found.load(), 0);

    EXPECT_TRUE(cache->IsSweepDone());
    std::vector<CacheEntry> after = cache->Records();
    ASSERT_FALSE(after.empty());
    EXPECT_LT(after.size(), records.size()) << "the eviction removed nothing";
    uint32_t units = 0;
    for (const CacheEntry& record : after) {
        EXPECT_EQ(BytesIn(record.key), record.size) << record.key;
        units += static_cast<uint32_t>(record.size >> 3);
    }
    EXPECT_EQ(cache->TotalUnits(), units);
    EXPECT_EQ(FilesIn("c0"), static_cast<size_t>(kImages));
    for (const std::string& image : images) EXPECT_FALSE(cache->Lookup(image).empty());
    cache.reset();
    EXPECT_EQ(ParseCacheIndex(Index()), after);
}

}  // namespace
