// The thumbnail cache's hot paths: Lookup over a large folder against two plain stat calls (the
// least any validity check by modification time can cost), Store, and one eviction pass.
//
//   build/bench/thumbnail_cache_bench                 warm page cache only
//   build/bench/thumbnail_cache_bench --cold          also cold passes (drops the kernel's
//                                                     caches, needs root)
//
// us_per_lookup is CPU microseconds per lookup (the library prints it with an "s" suffix).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "thumbs/thumbnail_cache.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolderImages = 10000;
fs::path g_work;
bool g_cold = false;

bool DropCaches() {
    sync();
    FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!f) return false;
    bool ok = std::fputs("3\n", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

void WriteBytes(const std::string& path, size_t size) {
    static const std::string data(64 * 1024, 'x');
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    for (size_t done = 0; done < size;) {
        size_t n = std::min(size - done, data.size());
        if (write(fd, data.data(), n) != static_cast<ssize_t>(n)) break;
        done += n;
    }
    close(fd);
}

// A folder of 10,000 images, each with a valid thumbnail, opened once for all lookups.
struct LookupFolder {
    LookupFolder() {
        const fs::path images = g_work / "lookup-images";
        fs::create_directories(images);
        cache = std::make_unique<CThumbnailCache>((g_work / "lookup-cache").string());
        cache->SetDirectory(images.string());
        for (int i = 0; i < kFolderImages; ++i) {
            std::string name = "IMG_" + std::to_string(100000 + i) + ".JPG";
            std::string image = (images / name).string();
            std::string thumb = cache->CurrentSubfolder() + "/" + name + ".jpg";
            WriteBytes(image, 100);
            WriteBytes(thumb, 50);
            struct stat st {};
            stat(image.c_str(), &st);
            const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
            utimensat(AT_FDCWD, thumb.c_str(), times, 0);
            imagePaths.push_back(image);
            thumbPaths.push_back(thumb);
        }
        // The folder is in use: its record must not be forgotten on the way out.
        std::string first = cache->Lookup(imagePaths[0]);
        if (first != thumbPaths[0]) std::fprintf(stderr, "lookup set-up is wrong\n");
    }
    std::unique_ptr<CThumbnailCache> cache;
    std::vector<std::string> imagePaths;
    std::vector<std::string> thumbPaths;
};

LookupFolder& Folder() {
    static LookupFolder folder;
    return folder;
}

// One iteration is one pass over the whole folder; the rate is per lookup.
void BM_Lookup(benchmark::State& state) {
    LookupFolder& folder = Folder();
    const bool cold = state.range(0) != 0;
    int64_t valid = 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            DropCaches();
            state.ResumeTiming();
        }
        for (const std::string& image : folder.imagePaths)
            valid += !folder.cache->Lookup(image).empty();
    }
    if (valid != state.iterations() * kFolderImages) state.SkipWithError("invalid thumbnails");
    state.SetItemsProcessed(state.iterations() * kFolderImages);
    state.counters["us_per_lookup"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kFolderImages) / 1e6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The floor: stat of the thumbnail and of the image, paths ready-made, times compared.
void BM_StatBoth(benchmark::State& state) {
    LookupFolder& folder = Folder();
    const bool cold = state.range(0) != 0;
    int64_t valid = 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            DropCaches();
            state.ResumeTiming();
        }
        for (int i = 0; i < kFolderImages; ++i) {
            struct stat thumb {
            }, image{};
            if (stat(folder.thumbPaths[i].c_str(), &thumb) == 0 &&
                stat(folder.imagePaths[i].c_str(), &image) == 0)
                valid += thumb.st_mtim.tv_nsec == image.st_mtim.tv_nsec &&
                         thumb.st_mtim.tv_sec == image.st_mtim.tv_sec;
        }
    }
    if (valid != state.iterations() * kFolderImages) state.SkipWithError("invalid thumbnails");
    state.SetItemsProcessed(state.iterations() * kFolderImages);
    state.counters["us_per_lookup"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kFolderImages) / 1e6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// 1,000 thumbnails of a 128 x 96 picture into a fresh folder per iteration.
void BM_Store1000(benchmark::State& state) {
    const fs::path images = g_work / "store-images";
    fs::create_directories(images);
    std::vector<std::string> paths;
    for (int i = 0; i < 1000; ++i) {
        paths.push_back((images / ("photo" + std::to_string(i) + ".jpg")).string());
        WriteBytes(paths.back(), 10);
    }
    // A 128 x 96 picture written as BMP and decoded, as the pane would hold it.
    const std::string bmp = (g_work / "store.bmp").string();
    {
        const int w = 128, h = 96, stride = w * 3;
        std::string file = "BM";
        auto le32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) file += static_cast<char>(v >> (8 * i));
        };
        le32(54 + stride * h), le32(0), le32(54), le32(40), le32(w), le32(h);
        file += std::string("\x01\x00\x18\x00", 4);
        le32(0), le32(stride * h), le32(2835), le32(2835), le32(0), le32(0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) file += {char(x * 2), char(y * 2), char((x * y) >> 4)};
        std::FILE* f = std::fopen(bmp.c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    CImage picture;
    picture.LoadNow(bmp, 128, 128);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path root = g_work / ("store-cache-" + std::to_string(round++));
        auto cache = std::make_unique<CThumbnailCache>(root.string());
        cache->SetDirectory(images.string());
        state.ResumeTiming();
        for (const std::string& path : paths) cache->Store(path, picture);
        state.PauseTiming();
        if (cache->Records()[0].size <= 0) state.SkipWithError("nothing stored");
        cache.reset();
        fs::remove_all(root);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

// 50 folders of 800 thumbnails of 5 KiB (about 200 MB), limit 157 MB: the pass removes whole
// folders from the old end and then single files, down to 80 % of the limit.
void BM_EvictionPass(benchmark::State& state) {
    constexpr int kFolders = 50, kFiles = 800, kFileSize = 5 * 1024;
    constexpr int32_t kLimitMB = 157;
    double share = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path root = g_work / "evict-cache";
        fs::remove_all(root);
        fs::create_directories(root);
        std::string index;
        for (int f = 0; f < kFolders; ++f) {
            std::string key = "e" + std::to_string(f);
            fs::create_directories(root / key);
            for (int i = 0; i < kFiles; ++i)
                WriteBytes((root / key / ("p" + std::to_string(i) + ".png.jpg")).string(),
                           kFileSize);
            index += key + "\t" + std::to_string(kFiles * kFileSize) + "\t/pictures/" +
                     std::to_string(f) + "\n";
        }
        std::FILE* out = std::fopen((root / "CacheList.txt").c_str(), "wb");
        std::fwrite(index.data(), 1, index.size(), out);
        std::fclose(out);
        sync();
        auto cache = std::make_unique<CThumbnailCache>(root.string());
        cache->SetDirectory("/pictures/0");
        state.ResumeTiming();
        cache->SetMaxSize(kLimitMB);
        cache->WaitForWorkers(std::chrono::minutes(10));
        state.PauseTiming();
        share = cache->TotalUnits() * 8.0 / (kLimitMB * 1048576.0);
        cache.reset();
        state.ResumeTiming();
    }
    state.counters["share_of_limit"] = share;
}

}  // namespace

BENCHMARK(BM_Lookup)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatBoth)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store1000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_EvictionPass)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    // A home of its own: the cache reads its size limit from the settings store.
    char pattern[] = "/tmp/lumora-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    g_work = pattern;
    for (const char* sub : {".config", ".local/share", ".cache"})
        fs::create_directories(g_work / sub);
    setenv("HOME", g_work.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g_work / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_work / ".local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (g_work / ".cache").c_str(), 1);
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cold") == 0)
            g_cold = true;
        else
            args.push_back(argv[i]);
    }
    if (g_cold) {
        if (DropCaches()) {
            // Few passes: each one empties the whole machine's page cache.
            benchmark::RegisterBenchmark("BM_Lookup/cold", BM_Lookup)
                ->Arg(1)
                ->Iterations(3)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_StatBoth/cold", BM_StatBoth)
                ->Arg(1)
                ->Iterations(3)
                ->Unit(benchmark::kMillisecond);
        } else {
            std::fprintf(stderr, "cannot drop the kernel's caches here: cold passes skipped\n");
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Folder().cache.reset();
    fs::remove_all(g_work);
    return 0;
}
