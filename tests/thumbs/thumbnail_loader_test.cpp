#include "thumbs/thumbnail_loader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "settings/registry.h"
#include "support/bmp_builder.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "thumbs/cache_fixture.h"
#include "thumbs/thumbnail_cache.h"

namespace {

// The list as a table: each item's icon span, cache status and whether it shows a thumbnail.
class TableList : public IThumbnailList {
public:
    int32_t ItemCount() const override { return static_cast<int32_t>(spans.size()); }
    Span IconSpan(int32_t item) const override { return spans.at(static_cast<size_t>(item)); }
    int32_t ClientHeight() const override { return height; }
    int32_t CacheStatus(int32_t item) const override {
        return status.at(static_cast<size_t>(item));
    }
    void SetCacheStatus(int32_t item, int32_t value) override {
        status.at(static_cast<size_t>(item)) = value;
    }
    void ShowThumbnail(int32_t item, const CImage&) override { shown.push_back(item); }
    void EnsureVisible(int32_t) override {}

    // count items of 100 pixels each in one column, the first `visible` of them in view.
    void Column(int count, int visible) {
        spans.clear();
        for (int i = 0; i < count; ++i) spans.push_back({i * 100, i * 100 + 100});
        height = visible * 100;
        status.assign(static_cast<size_t>(count), 0);
    }

    std::vector<Span> spans;
    std::vector<int32_t> status;
    std::vector<int32_t> shown;
    int32_t height = 0;
};

std::string SmallBmp(int width, int height) {
    BmpDesc desc;
    desc.width = width;
    desc.height = height;
    const int stride = (width * 3 + 3) & ~3;
    desc.pixels.assign(static_cast<size_t>(stride * height), 0x80);
    return BuildBmp(desc);
}

class ThumbnailLoaderTest : public testing::Test {
protected:
    std::vector<std::string> Files(int count, int width = 8, int height = 8) {
        std::vector<std::string> files;
        for (int i = 0; i < count; ++i) {
            files.push_back(dir_.file("f" + std::to_string(i) + ".bmp"));
            WriteFileBytes(files.back(), SmallBmp(width, height));
        }
        return files;
    }

    // Runs the scheduler as the pane would, one image-done at a time, until it is idle; returns
    // the items in the order their pictures were kept. afterStep runs after each LoadNext.
    std::vector<int32_t> RunToIdle(CThumbnailLoader& loader, int maxSteps = 200,
                                   const std::function<void(int)>& afterStep = {}) {
        std::vector<int32_t> order;
        std::vector<const CImage*> before = Pictures(loader);
        for (int step = 0; step < maxSteps && loader.IsDecoding(); ++step) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (window_.Count(WM_IMAGE_DONE) <= seen_ &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            EXPECT_GT(window_.Count(WM_IMAGE_DONE), seen_) << "no image-done at step " << step;
            ++seen_;
            loader.LoadNext();
            if (afterStep) afterStep(step);
            const std::vector<const CImage*> after = Pictures(loader);
            for (size_t i = 0; i < after.size(); ++i) {
                if (after[i] && after[i] != before[i]) order.push_back(static_cast<int32_t>(i));
            }
            before = after;
        }
        EXPECT_FALSE(loader.IsDecoding()) << "the scheduler did not come to rest";
        return order;
    }

    std::vector<const CImage*> Pictures(const CThumbnailLoader& loader) const {
        std::vector<const CImage*> pictures;
        for (int32_t i = 0; i < list_.ItemCount(); ++i) pictures.push_back(loader.DecodedImage(i));
        return pictures;
    }

    TempDir dir_;
    TableList list_;
    RecordingWindow window_;
    int seen_ = 0;
};

// Requested item first, then away from it in the scroll direction, then past the end the other
// way from the requested item.
TEST_F(ThumbnailLoaderTest, ScanRunsFromTheRequestedItemInTheScrollDirectionThenTurns) {
    struct Case {
        bool forward;
        std::vector<int32_t> order;
    };
    for (const Case& c : {Case{false, {3, 2, 1, 0, 4, 5}}, Case{true, {3, 4, 5, 2, 1, 0}}}) {
        list_.Column(6, 6);
        seen_ = 0;
        window_.Clear();
        CThumbnailLoader loader(list_, &window_);
        loader.SetParallelDecodes(1);  // the scan's own order, one picture per step
        loader.Reset(Files(6));
        loader.SetScrollForward(c.forward);
        loader.SetRequestedItem(3);
        loader.Activate();
        EXPECT_EQ(RunToIdle(loader), c.order) << (c.forward ? "forward" : "backward");
    }
}

// With no cache the ring holds "MaxThumbsLoad" pictures; once it is full only visible items are
// decoded. A folder of exactly the limit is not in that mode.
TEST_F(ThumbnailLoaderTest, MemoryLimitModeStartsOneFileAboveTheLimit) {
    struct Case {
        int32_t limit;
        std::vector<int32_t> order;
    };
    for (const Case& c : {Case{4, {0, 1, 2, 3}}, Case{3, {0, 1, 2}}}) {
        list_.Column(4, 3);
        seen_ = 0;
        window_.Clear();
        CThumbnailLoader loader(list_, &window_);
        loader.SetParallelDecodes(1);
        loader.SetMemoryLimit(c.limit);
        loader.Reset(Files(4));
        loader.Activate();
        EXPECT_EQ(RunToIdle(loader), c.order) << "limit " << c.limit;
        EXPECT_EQ(list_.shown, std::vector<int32_t>({0, 1, 2}));
        list_.shown.clear();
    }
}

// In memory limit mode with a cache, a picture that lies far from the view and that the cache
// does not take, because it is too small to store or because the cache cannot write (a file
// where its subfolder should be), is dropped; it must not be decoded again and again while it
// stays far, yet it is decoded once more when it comes into view.
TEST_F(ThumbnailLoaderTest, AFarPictureTheCacheDoesNotTakeIsDecodedOnce) {
    struct Case {
        int width, height;
        bool cacheWrites;
    };
    for (const Case& c : {Case{8, 8, true}, Case{200, 150, false}}) {
        SCOPED_TRACE(c.width);
        const std::string root = dir_.file("cache" + std::to_string(c.width));
        const std::string folder = dir_.path().string();
        if (!c.cacheWrites) {
            std::filesystem::create_directories(root);
            WriteFileBytes(root + "/CacheList.txt", FormatCacheIndex({{"a1", 0, folder}}));
            WriteFileBytes(root + "/a1", "x");
        }
        CThumbnailCache cache(root);
        ASSERT_TRUE(cache.IsAvailable());
        std::vector<std::string> files = Files(3, c.width, c.height);
        cache.SetDirectory(folder);
        list_.Column(3, 1);
        list_.spans[1] = {1000, 1100};
        list_.spans[2] = {2000, 2100};
        list_.status.assign(3, IThumbnailList::kStatusNotCached);
        window_.Clear();
        seen_ = 0;
        CThumbnailLoader loader(list_, &window_);
        loader.SetParallelDecodes(1);  // counts one image-done per decode
        loader.SetCache(&cache);
        loader.SetMemoryLimit(1);
        loader.Reset(files);
        loader.Activate();
        RunToIdle(loader, 20);
        EXPECT_EQ(seen_, 3);
        EXPECT_NE(loader.DecodedImage(0), nullptr);
        EXPECT_EQ(cache.Lookup(files[1]), "");
        // Scrolled into view it is decoded again and shown; item 0, which it pushes out of the
        // ring, is decoded once more far away and then counts as done too.
        list_.spans = {{-2000, -1900}, {-1000, -900}, {0, 100}};
        list_.shown.clear();
        loader.SetRequestedItem(2);
        loader.Activate();
        RunToIdle(loader, 20);
        EXPECT_EQ(seen_, 5);
        EXPECT_NE(loader.DecodedImage(2), nullptr);
        EXPECT_EQ(list_.shown, std::vector<int32_t>{2});
    }
}

// Two pictures decoding at once with no cache and a ring of 3: the one still under way when the
// ring fills takes a slot too, so no item beyond the view is started to push a visible one out,
// and no item is decoded twice. Then a cancel while both decode stops both, and the next run
// starts again from the unfinished ones.
TEST_F(ThumbnailLoaderTest, TwoDecodesKeepTheRingAndTheVisibleItems) {
    list_.Column(8, 3);
    CThumbnailLoader loader(list_, &window_);
    loader.SetParallelDecodes(2);
    loader.SetMemoryLimit(3);
    loader.Reset(Files(8, 300, 200));
    loader.Activate();
    for (int step = 0; step < 50 && loader.IsDecoding(); ++step) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (window_.Count(WM_IMAGE_DONE) <= seen_ &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ++seen_;
        loader.LoadNext();
    }
    EXPECT_FALSE(loader.IsDecoding());
    EXPECT_EQ(loader.DecodesStarted(), 3u);
    for (int32_t i = 0; i < 3; ++i) EXPECT_NE(loader.DecodedImage(i), nullptr) << i;
    std::vector<int32_t> shown = list_.shown;
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, std::vector<int32_t>({0, 1, 2}));

    // A fresh listing, cancelled while both pictures decode: nothing is left running or kept,
    // and activating again makes every visible thumbnail.
    loader.Reset(Files(8, 300, 200));
    loader.Activate();
    EXPECT_EQ(loader.DecodesStarted(), 5u);
    loader.CancelLoad();
    EXPECT_FALSE(loader.IsDecoding());
    for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(loader.DecodedImage(i), nullptr) << i;
    loader.Activate();
    for (int step = 0; step < 200 && loader.IsDecoding(); ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        loader.LoadNext();
    }
    EXPECT_FALSE(loader.IsDecoding());
    for (int32_t i = 0; i < 3; ++i) EXPECT_NE(loader.DecodedImage(i), nullptr) << i;
    EXPECT_EQ(loader.DecodesStarted(), 8u);
}

// Every corpus file, the malformed ones and a file gone since the listing among them, ends with
// image-done and a kept (possibly empty) picture, and the pictures that can be stored are.
TEST_F(ThumbnailLoaderTest, EveryCorpusFileEndsAndLargeOnesAreStored) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(CorpusPath(""))) {
        if (entry.is_regular_file() && entry.path().has_extension()) {
            files.push_back(entry.path().string());
        }
    }
    files.push_back(dir_.file("gone.jpg"));
    // The cache is on another folder: nothing is stored for files outside it, which must not
    // disturb the scan.
    CThumbnailCache cache(dir_.file("cache"));
    cache.SetDirectory(CorpusPath("jpeg/photos-4mp"));
    list_.Column(static_cast<int>(files.size()), static_cast<int>(files.size()));
    CThumbnailLoader loader(list_, &window_);
    loader.SetCache(&cache);
    loader.Reset(files);
    loader.Activate();
    const std::vector<int32_t> order = RunToIdle(loader, 2000);
    EXPECT_EQ(order.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const CImage* picture = loader.DecodedImage(static_cast<int32_t>(i));
        ASSERT_NE(picture, nullptr) << files[i];
        EXPECT_LE(picture->GetWidth(), 128) << files[i];
        EXPECT_LE(std::abs(picture->GetHeight()), 128) << files[i];
    }
    EXPECT_EQ(loader.DecodedImage(static_cast<int32_t>(files.size()) - 1)->GetWidth(), 0);
    const std::string jpegFolder = CorpusPath("jpeg/photos-4mp");
    int stored = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const CImage* picture = loader.DecodedImage(static_cast<int32_t>(i));
        const int64_t pixels =
            static_cast<int64_t>(picture->GetSourceWidth()) * picture->GetSourceHeight();
        if (std::filesystem::path(files[i]).parent_path().lexically_normal() !=
                std::filesystem::path(jpegFolder).lexically_normal() ||
            pixels <= 16384) {
            continue;
        }
        EXPECT_NE(cache.Lookup(files[i]), "") << files[i];
        EXPECT_EQ(list_.status[i], IThumbnailList::kStatusCached) << files[i];
        ++stored;
    }
    EXPECT_GT(stored, 0);
}

// Files that vanish or change after the listing, a cache folder removed meanwhile, and a stop
// in the middle of a decode and a probe: no crash and no record for a file that is not there.
TEST_F(ThumbnailLoaderTest, VanishingFilesAndCacheLeaveNoFalseRecord) {
    const std::string root = dir_.file("cache");
    std::vector<std::string> files = Files(4, 200, 150);
    {
        CThumbnailCache cache(root);
        cache.SetDirectory(dir_.path().string());
        list_.Column(4, 4);
        CThumbnailLoader loader(list_, &window_);
        loader.SetCache(&cache);
        loader.Reset(files);
        // Stopped at once, with the probe running, then listed anew.
        loader.StartProbe();
        loader.Activate();
        loader.CancelLoad();
        loader.StopProbe();
        loader.Reset(files);
        std::filesystem::remove(files[1]);
        WriteFileBytes(files[2], "BM not a bitmap any more");
        window_.Clear();
        seen_ = 0;
        loader.StartProbe();
        loader.Activate();
        RunToIdle(loader);
        loader.StopProbe();
        EXPECT_EQ(cache.Lookup(files[1]), "");
        EXPECT_NE(cache.Lookup(files[0]), "");
        std::filesystem::remove_all(root);
        list_.status.assign(4, IThumbnailList::kStatusNotCached);
        loader.Reset(files);
        window_.Clear();
        seen_ = 0;
        loader.Activate();
        EXPECT_EQ(RunToIdle(loader).size(), 4u);
        // Destroyed while decoding and probing.
        loader.Reset(files);
        loader.StartProbe();
        loader.Activate();
    }
    EXPECT_EQ(ReadFileBytes(root + "/CacheList.txt").find("f1.bmp"), std::string::npos);
}

// The cache stops taking thumbnails while they are made: its folder made read-only, the disk
// full, a file where its subfolder should be, its size limit reached, or another running copy
// holding it. Every picture still comes from decoding, and what the cache claims afterwards is
// there and whole.
TEST_F(ThumbnailLoaderTest, ACacheThatStopsTakingThumbnailsLeavesPicturesAndTrueRecords) {
    const std::vector<std::string> files = Files(5, 200, 150);
    const std::string folder = dir_.path().string();
    std::optional<PermissionsBite> bite;
    std::unique_ptr<CThumbnailCache> holder;
    rlimit fileSize{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &fileSize), 0);
    signal(SIGXFSZ, SIG_IGN);
    using Spoil = std::function<void(const std::string& root, const std::string& subfolder)>;
    struct Case {
        const char* name;
        Spoil before;     // before the pane's cache opens
        Spoil meanwhile;  // once its first picture is kept
        size_t valid;     // thumbnails the next run finds
    } cases[] = {
        {"read-only", nullptr,
         [&](const std::string& root, const std::string& sub) {
             chmod(sub.c_str(), 0500);
             chmod(root.c_str(), 0500);
             bite.emplace();
         },
         0},
        {"disk full", nullptr,
         [&](const std::string&, const std::string&) {
             // Room for the index, none for a thumbnail (some 800 bytes here).
             rlimit tiny = fileSize;
             tiny.rlim_cur = 400;
             setrlimit(RLIMIT_FSIZE, &tiny);
         },
         1},
        {"file for subfolder",
         [&](const std::string& root, const std::string&) {
             WriteFileBytes(root + "/CacheList.txt", FormatCacheIndex({{"a1", 0, folder}}));
             WriteFileBytes(root + "/a1", "x");
         },
         nullptr, 0},
        {"size limit",
         [&](const std::string& root, const std::string&) {
             std::filesystem::create_directories(root + "/b2");
             WriteFileBytes(root + "/b2/x.png.jpg", "");
             std::filesystem::resize_file(root + "/b2/x.png.jpg", 2 << 20);
             WriteFileBytes(root + "/CacheList.txt",
                            FormatCacheIndex({{"b2", 2 << 20, "/elsewhere"}}));
             WriteRegDword("MaxCacheSize", 1);
         },
         nullptr, 5},
        {"second copy",
         [&](const std::string& root, const std::string&) {
             holder = std::make_unique<CThumbnailCache>(root);
             holder->SetDirectory(folder);
         },
         nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = dir_.file(std::string("cache-") + c.name);
        std::filesystem::create_directories(root);
        if (c.before) c.before(root, "");
        std::string subfolder;
        {
            CThumbnailCache cache(root);
            cache.SetDirectory(folder);
            subfolder = cache.CurrentSubfolder();
            list_.Column(5, 5);
            window_.Clear();
            seen_ = 0;
            CThumbnailLoader loader(list_, &window_);
            loader.SetParallelDecodes(1);  // spoiled after exactly one picture is stored
            loader.SetCache(&cache);
            loader.Reset(files);
            loader.StartProbe();
            loader.Activate();
            RunToIdle(loader, 20, [&](int step) {
                if (step == 0 && c.meanwhile) c.meanwhile(root, subfolder);
            });
            for (int32_t i = 0; i < 5; ++i) {
                const CImage* picture = loader.DecodedImage(i);
                ASSERT_NE(picture, nullptr) << i;
                EXPECT_EQ(picture->GetWidth(), 128) << i;
                EXPECT_EQ(std::abs(picture->GetHeight()), 96) << i;
            }
        }
        bite.reset();
        setrlimit(RLIMIT_FSIZE, &fileSize);
        chmod(root.c_str(), 0700);
        if (std::filesystem::is_directory(subfolder)) chmod(subfolder.c_str(), 0700);
        holder.reset();
        WriteRegDword("MaxCacheSize", 0);

        CThumbnailCache next(root);
        ASSERT_TRUE(next.IsAvailable());
        next.SetDirectory(folder);
        size_t valid = 0;
        for (const std::string& file : files) {
            const std::string thumbnail = next.Lookup(file);
            if (thumbnail.empty()) continue;
            ++valid;
            CImage picture;
            picture.LoadNow(thumbnail, 128, 128);
            EXPECT_EQ(picture.GetWidth(), 128) << thumbnail;
        }
        EXPECT_EQ(valid, c.valid);
        // Every record holds what it says, and no half-written file is left behind.
        for (const CacheEntry& record : next.Records()) {
            int64_t bytes = 0;
            std::error_code error;
            for (const auto& entry :
                 std::filesystem::directory_iterator(root + "/" + record.key, error)) {
                EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path();
                bytes += static_cast<int64_t>(entry.file_size());
            }
            EXPECT_EQ(record.size, bytes) << record.key << " " << record.folder;
        }
    }
}

// A window whose sends from another thread wait until the test's thread answers them, as the
// desktop layer's do.
class AnsweringWindow : public IWindow {
public:
    void PostMessage(UINT, WPARAM, LPARAM) override {}
    LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t ticket = ++sent_;
        pending_.push_back({message, wParam, lParam});
        changed_.notify_all();
        changed_.wait(lock, [&] { return answered_ >= ticket; });
        return 0;
    }
    void UpdateWindow() override {}

    // Answers what waits; called on the test's thread, also from inside its waits.
    void Answer() {
        std::deque<Pending> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch.swap(pending_);
        }
        for (const Pending& p : batch) {
            if (p.message == WM_CACHE_STATUS) loader->OnCacheStatus(p.wParam, p.lParam);
            if (p.message == WM_PROBE_FINISHED) loader->OnProbeFinished();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        answered_ += batch.size();
        changed_.notify_all();
    }
    bool WaitForSend() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return !pending_.empty(); });
    }

    CThumbnailLoader* loader = nullptr;
    static AnsweringWindow* current;

private:
    struct Pending {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Pending> pending_;
    uint64_t sent_ = 0;
    uint64_t answered_ = 0;
};
AnsweringWindow* AnsweringWindow::current = nullptr;

TEST_F(ThumbnailLoaderTest, StoppingTheProbeWhileItWaitsInASendEnds) {
    CThumbnailCache cache(dir_.file("cache"));
    ASSERT_TRUE(cache.IsAvailable());
    std::vector<std::string> files = Files(40);
    cache.SetDirectory(dir_.path().string());
    list_.Column(40, 4);
    AnsweringWindow window;
    AnsweringWindow::current = &window;
    SetWaitHook([] { AnsweringWindow::current->Answer(); });
    {
        CThumbnailLoader loader(list_, &window);
        window.loader = &loader;
        loader.SetCache(&cache);
        loader.Reset(files);
        loader.StartProbe();
        ASSERT_TRUE(window.WaitForSend());
        window.Answer();
        ASSERT_TRUE(window.WaitForSend());  // blocked in its second send now
        loader.StopProbe();
        EXPECT_EQ(list_.status[0], IThumbnailList::kStatusNotCached);
        // Statuses of another listing, or out of range, are dropped.
        loader.OnCacheStatus(40, IThumbnailList::kStatusCached);
        loader.OnCacheStatus(static_cast<WPARAM>(-1), IThumbnailList::kStatusCached);
        loader.OnCacheStatus(1, 7);
        EXPECT_NE(list_.status[1], 7);
        // A probe left running ends with its owner.
        loader.StartProbe();
        ASSERT_TRUE(window.WaitForSend());
    }
    SetWaitHook(nullptr);
}

}  // namespace
