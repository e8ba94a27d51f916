// A thumbnail (128 x 128 box) of a corpus photo, decoded at full size and as thumbnails load it
// (CImage::reducedDecode: the JPEG reader may deliver the picture scaled by n/8), each brought
// to size by the box path. Beside them, libjpeg driven bare at each scale n/8, which shows what
// the library's scaled inverse DCTs cost. The photo is read once first, so the page cache serves
// every run; CPU time is that of the whole process (the loader runs on a thread of its own).
//
//   build/bench/thumbnail_decode_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/jpeg_reader.h"
#include "image/resample.h"

namespace {

const std::string kPhoto =
    std::string(LUMORA_CORPUS_DIR) + "/jpeg/photos-4mp/plasma_Kite_2560x1600.jpg";

void Thumbnail(benchmark::State& state, bool reduced) {
    BuildGammaTables();
    for (auto _ : state) {
        CImage image;
        image.reducedDecode = reduced;
        image.LoadNow(kPhoto, 128, 128);
        if (image.GetWidth() != 128) state.SkipWithError("the photo did not load");
        benchmark::DoNotOptimize(image.displayBuffer);
    }
}

void FullSizeThumbnail(benchmark::State& state) { Thumbnail(state, false); }
void ReducedThumbnail(benchmark::State& state) { Thumbnail(state, true); }

// Every row of the photo at scale n/8, into one row buffer.
void BareLibjpegAtEighths(benchmark::State& state) {
    const unsigned eighths = static_cast<unsigned>(state.range(0));
    std::vector<uint8_t> row(2560 * 3 + 4);
    for (auto _ : state) {
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        FILE* in = std::fopen(kPhoto.c_str(), "rb");
        if (!in) {
            state.SkipWithError("the photo is missing");
            jpeg_destroy_decompress(&d);
            break;
        }
        jpeg_stdio_src(&d, in);
        jpeg_read_header(&d, TRUE);
        d.scale_num = eighths;
        d.scale_denom = 8;
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW p = row.data();
            jpeg_read_scanlines(&d, &p, 1);
        }
        jpeg_destroy_decompress(&d);
        std::fclose(in);
    }
}

BENCHMARK(FullSizeThumbnail)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(ReducedThumbnail)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BareLibjpegAtEighths)
    ->Arg(1)->Arg(2)->Arg(4)->Arg(5)->Arg(6)->Arg(8)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
