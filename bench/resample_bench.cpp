// Resampling speed in source megapixels per second, from a picture already in memory, so no
// decoder's cost is in the figures. Each path runs with every kernel set the processor has and
// beside the straightforward implementation, so the gains are ratios from one run.

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <tuple>

#include "image/resample.h"
#include "support/resample_reference.h"

namespace {

enum Variant { kReference, kPortable, kAvx2, kAvx512 };
enum class Path { kBox, kSinc, kDirect, kBoxStreamed };

const TestPicture& Source(int32_t w, int32_t h, int bpp) {
    static std::map<std::tuple<int32_t, int32_t, int>, std::unique_ptr<TestPicture>> cache;
    auto& slot = cache[{w, h, bpp}];
    if (!slot) slot = std::make_unique<TestPicture>(RandomPicture(w, h, bpp, 42));
    return *slot;
}

// Points at the rows of the picture in memory, one after another, copying nothing.
class PointingRows : public INextLine {
public:
    PointingRows(const TestPicture& picture, int32_t& line) : picture_(picture), line_(line) {}
    int NextLine(uint8_t** row) override {
        if (line_ + 1 < picture_.height) ++line_;
        *row = const_cast<uint8_t*>(picture_.Row(line_));
        return line_;
    }

private:
    const TestPicture& picture_;
    int32_t& line_;
};

// A reader whose rows are already in cache, as a decoder's latest row is: the picture's first
// 16 rows over and over.
class CachedRows : public INextLine {
public:
    explicit CachedRows(const TestPicture& picture) : picture_(picture) {}
    int NextLine(uint8_t** row) override {
        std::memcpy(*row, picture_.Row(++line_ % 16), static_cast<size_t>(picture_.stride));
        return line_;
    }

private:
    const TestPicture& picture_;
    int32_t line_ = -1;
};

void Resample(benchmark::State& state, Path path, int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    BuildGammaTables();
    const Variant variant = static_cast<Variant>(state.range(0));
    const int bpp = static_cast<int>(state.range(1));
    if (variant != kReference &&
        !UseResampleKernels(variant == kAvx512 ? ResampleKernels::kAvx512
                            : variant == kAvx2 ? ResampleKernels::kAvx2
                                               : ResampleKernels::kPortable)) {
        state.SkipWithError("kernel set not supported here");
        return;
    }
    const TestPicture& src = Source(sw, sh, bpp);
    TestPicture display(dw, dh, bpp);
    // The direct path writes rows into the source buffer as a reader does.
    TestPicture held = path == Path::kDirect ? TestPicture(sw, sh, bpp) : TestPicture();
    for (auto _ : state) {
        if (path == Path::kBoxStreamed) {
            int32_t currentLine = -1;
            CachedRows reader(src);
            ResampleJob job;
            job.lines = &reader;
            job.fromReader = true;
            job.streaming = true;
            job.sourceStride = src.stride;
            job.sourceWidth = sw;
            job.sourceHeight = sh;
            job.currentLine = &currentLine;
            job.display = display.pixels.data();
            job.displayStride = display.stride;
            job.displayWidth = dw;
            job.displayHeight = dh;
            job.bytesPerPixel = bpp;
            job.rgbOrder = true;
            RunBoxPath(job);
        } else if (variant == kReference && path == Path::kBox) {
            reference::Box(src, true, display);
        } else if (variant == kReference && path == Path::kSinc) {
            reference::Sinc(src, true, display);
        } else if (variant == kReference) {
            // Rows copied in and swapped byte by byte.
            for (int32_t r = 0; r < sh; ++r) {
                uint8_t* row = held.Row(r);
                std::memcpy(row, src.Row(r), static_cast<size_t>(src.stride));
                for (int32_t x = 0; x < sw; ++x) std::swap(row[3 * x], row[3 * x + 2]);
            }
        } else {
            int32_t currentLine = -1;
            MemoryRows reader(src);
            PointingRows pointer(src, currentLine);
            ResampleJob job;
            job.lines = path == Path::kDirect ? static_cast<INextLine*>(&reader) : &pointer;
            job.fromReader = path == Path::kDirect;
            job.source = path == Path::kDirect ? held.pixels.data()
                                               : const_cast<uint8_t*>(src.pixels.data());
            job.sourceStride = src.stride;
            job.sourceWidth = sw;
            job.sourceHeight = sh;
            job.currentLine = &currentLine;
            job.display = display.pixels.data();
            job.displayStride = display.stride;
            job.displayWidth = path == Path::kDirect ? sw : dw;
            job.displayHeight = path == Path::kDirect ? sh : dh;
            job.bytesPerPixel = bpp;
            job.rgbOrder = true;
            if (path == Path::kBox) RunBoxPath(job);
            if (path == Path::kSinc) RunSincPath(job);
            if (path == Path::kDirect) RunDirectPath(job);
        }
        benchmark::DoNotOptimize(display.pixels.data());
        benchmark::ClobberMemory();
    }
    state.counters["source_MP/s"] = benchmark::Counter(
        static_cast<double>(sw) * sh / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(variant == kReference  ? "reference"
                   : variant == kPortable ? "portable"
                   : variant == kAvx2     ? "avx2"
                                          : "avx512");
}

// 24 MP into a 1920 x 1920 box: 1920 x 1280.
void BM_Box(benchmark::State& state) {
    Resample(state, Path::kBox, 6000, 4000, 1920, 1280);
}
void BM_Sinc(benchmark::State& state) {
    Resample(state, Path::kSinc, 1000, 750, 1920, 1440);
}
void BM_Direct(benchmark::State& state) {
    Resample(state, Path::kDirect, 6000, 4000, 0, 0);
}
// Batch resize: rows from a reader, decoded ahead on a second thread, none kept.
void BM_BoxStreamed(benchmark::State& state) {
    Resample(state, Path::kBoxStreamed, 6000, 4000, 1920, 1280);
}

// The batch resize benchmark's 12 MP photo (bench/webp_resize.sh): 4240 x 2650 to 1920 x 1200.
void BM_BoxStreamed12MP(benchmark::State& state) {
    Resample(state, Path::kBoxStreamed, 4240, 2650, 1920, 1200);
}

void Variants(benchmark::internal::Benchmark* b, bool bothDepths, bool withReference = true) {
    b->ArgNames({"variant", "bpp"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int variant : {kReference, kPortable, kAvx2, kAvx512}) {
        if (variant == kReference && !withReference) continue;
        b->Args({variant, 3});
        if (bothDepths) b->Args({variant, 4});
    }
}

}  // namespace

BENCHMARK(BM_Box)->Apply([](benchmark::internal::Benchmark* b) { Variants(b, true); });
BENCHMARK(BM_Sinc)->Apply([](benchmark::internal::Benchmark* b) { Variants(b, true); });
BENCHMARK(BM_Direct)->Apply([](benchmark::internal::Benchmark* b) { Variants(b, false); });
BENCHMARK(BM_BoxStreamed)->Apply([](benchmark::internal::Benchmark* b) {
    Variants(b, true, false);
});

BENCHMARK(BM_BoxStreamed12MP)->Apply([](benchmark::internal::Benchmark* b) {
    Variants(b, false, false);
});

BENCHMARK_MAIN();
