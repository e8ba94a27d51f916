// A progressive JPEG read row by row as the image pane gets it: in one pass, and with a coarse
// pass first. "coarse_ms" is the time until the coarse picture's last row; the benchmark's own
// times are those of the whole read, to the final picture's last row. The file is 13 megapixels
// (4416 x 2944, quality 92, 4:2:0, libjpeg's standard progression), made at start-up.
//
//   build/bench/progressive_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "image/jpeg_reader.h"

namespace {

constexpr int kWidth = 4416, kHeight = 2944;

// Smooth colour fields with a little fine detail.
void PaintRow(int y, std::vector<uint8_t>& row) {
    row.resize(static_cast<size_t>(kWidth) * 3);
    for (int x = 0; x < kWidth; ++x) {
        const double u = x / 300.0, v = y / 250.0;
        row[3 * x] = static_cast<uint8_t>(128 + 100 * std::sin(u + v));
        row[3 * x + 1] = static_cast<uint8_t>(128 + 90 * std::cos(u * 0.7 - v * 1.3));
        row[3 * x + 2] = static_cast<uint8_t>((x * 7 + y * 13) % 256 / 4 + 96);
    }
}

const std::string& ProgressiveFile() {
    static const std::string path = [] {
        const std::string file = "/tmp/lumora-bench-" + std::to_string(getpid()) + "-13mp.jpg";
        FILE* out = std::fopen(file.c_str(), "wb");
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, out);
        c.image_width = kWidth;
        c.image_height = kHeight;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 92, TRUE);
        jpeg_simple_progression(&c);
        jpeg_start_compress(&c, TRUE);
        std::vector<uint8_t> row;
        while (c.next_scanline < c.image_height) {
            PaintRow(static_cast<int>(c.next_scanline), row);
            JSAMPROW p = row.data();
            jpeg_write_scanlines(&c, &p, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::fclose(out);
        return file;
    }();
    return path;
}

void ReadRows(CJpegReader& reader, std::vector<uint8_t>& row) {
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* p = row.data();
        reader.NextLine(&p);
    }
}

void ProgressiveRows(benchmark::State& state) {
    const bool coarse = state.range(0) != 0;
    std::vector<uint8_t> row(static_cast<size_t>(kWidth) * 3 + 4);
    double coarseMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CJpegReader reader(ProgressiveFile());
        reader.OpenFile();
        reader.coarsePass = coarse;
        ReadRows(reader, row);
        if (coarse) {
            coarseMs += std::chrono::duration<double, std::milli>(
                            std::chrono::steady_clock::now() - start)
                            .count();
            reader.NextPass();
            ReadRows(reader, row);
        }
        reader.Close();
    }
    if (coarse) state.counters["coarse_ms"] = coarseMs / static_cast<double>(state.iterations());
}

BENCHMARK(ProgressiveRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(ProgressiveFile().c_str());
    return 0;
}
