// Makes the thumbnails of one folder the way the thumbnail pane does, on the scheduler, the
// loader threads and the cache, without a window: prints wall and CPU time until the last
// thumbnail is stored, and peak RSS. Run by bench/thumbnails.sh. DECODES (default: as the
// pane, one per core up to two) sets how many pictures decode at once.
//
//   thumbnail_folder_bench FOLDER CACHE_ROOT [DECODES]
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_loader.h"

namespace {

// A grid of 8 columns of 148 x 161 cells in a 1280 x 1024 window, as the pane lays it out.
class GridList : public IThumbnailList {
public:
    explicit GridList(size_t count) : status_(count, 0) {}
    int32_t ItemCount() const override { return static_cast<int32_t>(status_.size()); }
    Span IconSpan(int32_t item) const override {
        const int32_t top = (item / 8) * 161;
        return {top, top + 128};
    }
    int32_t ClientHeight() const override { return 1024; }
    int32_t CacheStatus(int32_t item) const override { return status_[item]; }
    void SetCacheStatus(int32_t item, int32_t value) override { status_[item] = value; }
    void ShowThumbnail(int32_t, const CImage&) override {}
    void EnsureVisible(int32_t) override {}

private:
    std::vector<int32_t> status_;
};

// Hands image-done to the waiting main thread.
class DoneQueue : public IWindow {
public:
    void PostMessage(UINT message, WPARAM, LPARAM lParam) override {
        if (message == WM_IMAGE_PROGRESS) delete reinterpret_cast<ProgressRecord*>(lParam);
        if (message != WM_IMAGE_DONE) return;
        std::lock_guard<std::mutex> lock(mutex_);
        ++pending_;
        changed_.notify_all();
    }
    LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        PostMessage(message, wParam, lParam);
        return 0;
    }
    void UpdateWindow() override {}
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return pending_ > 0; });
        --pending_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int pending_ = 0;
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s FOLDER CACHE_ROOT [DECODES]\n", argv[0]);
        return 2;
    }
    const int decodes = argc == 4 ? std::atoi(argv[3]) : CThumbnailLoader::DefaultDecodes();
    mallopt(M_MMAP_THRESHOLD, 4 << 20);  // as the viewer
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    int stored = 0;
    {
        CThumbnailCache cache(argv[2]);
        cache.SetDirectory(argv[1]);
        GridList list(files.size());
        // What the probe would have said by now.
        for (size_t i = 0; i < files.size(); ++i) {
            list.SetCacheStatus(static_cast<int32_t>(i), cache.Lookup(files[i]).empty() ? 1 : 2);
        }
        DoneQueue window;
        CThumbnailLoader loader(list, &window);
        loader.SetParallelDecodes(decodes);
        loader.SetCache(&cache);
        loader.Reset(files);
        loader.Activate();
        while (loader.IsDecoding()) {
            window.Wait();
            loader.LoadNext();
        }
        for (const std::string& file : files) stored += !cache.Lookup(file).empty();
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("files %zu stored %d wall %.3f cpu %.3f rss_mb %.1f\n", files.size(), stored,
                wall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss / 1024.0);
    return 0;
}
