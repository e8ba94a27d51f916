// The JPEG and PNG readers against their libraries driven bare, side by side in one run: a
// 24-megapixel JPEG (quality 90, 4:2:0) and a 12-megapixel PNG, both made at start-up.
// Each reader writes every row into one row buffer, as the bare loops do, so the difference is
// the reader's own cost; "Load" adds the image's full-size buffer and the loader.
//
//   build/bench/reader_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"
#include "image/resample.h"

namespace {

constexpr int kJpegWidth = 6000, kJpegHeight = 4000;
constexpr int kPngWidth = 4240, kPngHeight = 2830;

// Smooth colour fields with a little fine detail, so neither codec gets an easy ride.
void PaintRow(int width, int y, std::vector<uint8_t>& row) {
    row.resize(static_cast<size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        const double u = x / 300.0, v = y / 250.0;
        row[3 * x] = static_cast<uint8_t>(128 + 100 * std::sin(u + v));
        row[3 * x + 1] = static_cast<uint8_t>(128 + 90 * std::cos(u * 0.7 - v * 1.3));
        row[3 * x + 2] = static_cast<uint8_t>((x * 7 + y * 13) % 256 / 4 + 96);
    }
}

std::string TempPath(const char* name) {
    return "/tmp/lumora-bench-" + std::to_string(getpid()) + "-" + name;
}

const std::string& JpegFile() {
    static const std::string path = [] {
        const std::string file = TempPath("24mp.jpg");
        FILE* out = std::fopen(file.c_str(), "wb");
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, out);
        c.image_width = kJpegWidth;
        c.image_height = kJpegHeight;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 90, TRUE);
        jpeg_start_compress(&c, TRUE);
        std::vector<uint8_t> row;
        while (c.next_scanline < c.image_height) {
            PaintRow(kJpegWidth, static_cast<int>(c.next_scanline), row);
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

const std::string& PngFile() {
    static const std::string path = [] {
        const std::string file = TempPath("12mp.png");
        FILE* out = std::fopen(file.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, out);
        png_set_IHDR(png, info, kPngWidth, kPngHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<uint8_t> row;
        for (int y = 0; y < kPngHeight; ++y) {
            PaintRow(kPngWidth, y, row);
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        return file;
    }();
    return path;
}

void BareLibjpeg(benchmark::State& state) {
    std::vector<uint8_t> row(kJpegWidth * 3 + 4);
    for (auto _ : state) {
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        FILE* in = std::fopen(JpegFile().c_str(), "rb");
        jpeg_stdio_src(&d, in);
        jpeg_read_header(&d, TRUE);
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW p = row.data();
            jpeg_read_scanlines(&d, &p, 1);
        }
        jpeg_destroy_decompress(&d);
        std::fclose(in);
    }
}

template <class Reader>
void ReaderRows(benchmark::State& state, const std::string& file) {
    std::vector<uint8_t> row(kJpegWidth * 4 + 4);
    for (auto _ : state) {
        Reader reader(file);
        reader.OpenFile();
        const int rows = -reader.header.bmiHeader.biHeight;
        for (int y = 0; y < rows; ++y) {
            uint8_t* p = row.data();
            reader.NextLine(&p);
        }
        reader.Close();
    }
}

void JpegReader(benchmark::State& state) {
    ReaderRows<CJpegReader>(state, JpegFile());
}

void BareLibpng(benchmark::State& state) {
    std::vector<uint8_t> row(kPngWidth * 3);
    for (auto _ : state) {
        FILE* in = std::fopen(PngFile().c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, in);
        png_read_info(png, info);
        png_set_bgr(png);
        for (int y = 0; y < kPngHeight; ++y) png_read_row(png, row.data(), nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(in);
    }
}

void PngReader(benchmark::State& state) {
    ReaderRows<CPngReader>(state, PngFile());
}

void Load(benchmark::State& state, const std::string& file) {
    BuildGammaTables();
    for (auto _ : state) {
        CImage image;
        image.LoadNow(file, 1 << 30, 1 << 30);
        benchmark::DoNotOptimize(image.displayBuffer);
    }
}

void JpegLoad(benchmark::State& state) {
    Load(state, JpegFile());
}
void PngLoad(benchmark::State& state) {
    Load(state, PngFile());
}

BENCHMARK(BareLibjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(JpegReader)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(JpegLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareLibpng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngReader)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(JpegFile().c_str());
    std::remove(PngFile().c_str());
    return 0;
}
