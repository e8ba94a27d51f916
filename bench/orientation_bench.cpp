// A 24-megapixel camera-like JPEG (6000 x 4000, 2 x 2 chroma subsampling, quality 90) under
// each Exif orientation 1 to 8: the viewer's first band (the reader opened and its first 64 rows
// taken into a fresh buffer, as the pane paints them), the whole picture at full size, and batch
// resize's load into a 1920 x 1920 box (streamed, as `lumora -resize` loads). The photo is tiled
// from a corpus photo and written once to /tmp, so the page cache serves every run; CPU time is
// the whole process's. bench/orientation.sh runs each case in a process of its own, for its peak
// memory, and prints one table against orientation 1; by hand, e.g.:
//
//   build/bench/orientation_bench --make-photos
//   build/bench/orientation_bench --benchmark_filter='Whole/[16]$' --benchmark_repetitions=3

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/core/resize_mode.h"
#include "image/exif.h"
#include "image/image.h"
#include "image/jpeg_reader.h"
#include "image/resample.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

std::string ReadFile(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[1 << 16];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

// The corpus photo, mirrored back and forth to fill the picture so no seam is flat.
std::string TiledPhotoJpeg() {
    const std::string source =
        std::string(LUMORA_CORPUS_DIR) + "/jpeg/photos-4mp/plasma_Kite_2560x1600.jpg";
    jpeg_decompress_struct d;
    jpeg_error_mgr derr;
    d.err = jpeg_std_error(&derr);
    jpeg_create_decompress(&d);
    FILE* in = std::fopen(source.c_str(), "rb");
    if (!in) return "";
    jpeg_stdio_src(&d, in);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const int sw = static_cast<int>(d.output_width), sh = static_cast<int>(d.output_height);
    std::vector<uint8_t> photo(static_cast<size_t>(sw) * sh * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = photo.data() + static_cast<size_t>(d.output_scanline) * sw * 3;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(in);

    jpeg_compress_struct c;
    jpeg_error_mgr cerr;
    c.err = jpeg_std_error(&cerr);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(kWidth) * 3);
    auto fold = [](int v, int n) { return (v / n) % 2 == 0 ? v % n : n - 1 - v % n; };
    while (c.next_scanline < c.image_height) {
        const int sy = fold(static_cast<int>(c.next_scanline), sh);
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = &photo[(static_cast<size_t>(sy) * sw + fold(x, sw)) * 3];
            row[x * 3] = p[0], row[x * 3 + 1] = p[1], row[x * 3 + 2] = p[2];
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    return bytes;
}

// An APP1 Exif segment right after SOI, with one little-endian IFD0 entry: the orientation.
std::string WithOrientation(const std::string& jpeg, int orientation) {
    const char tiff[] = {'I',
                         'I',
                         42,
                         0,
                         8,
                         0,
                         0,
                         0,
                         1,
                         0,
                         0x12,
                         0x01,
                         3,
                         0,
                         1,
                         0,
                         0,
                         0,
                         static_cast<char>(orientation),
                         0,
                         0,
                         0,
                         0,
                         0,
                         0,
                         0};
    const std::string payload = std::string("Exif\0\0", 6) + std::string(tiff, sizeof tiff);
    const size_t length = payload.size() + 2;
    const std::string segment = std::string("\xFF\xE1") + static_cast<char>(length >> 8) +
                                static_cast<char>(length & 0xFF) + payload;
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

// The photo with `orientation`, made on first use (several seconds) unless /tmp holds it.
const std::string& PhotoPath(int orientation) {
    static std::string paths[9];
    std::string& path = paths[orientation];
    if (!path.empty()) return path;
    path = "/tmp/lumora_orientation_bench_" + std::to_string(orientation) + ".jpg";
    if (ReadFile(path).size() < 1000000) {
        static const std::string plain = TiledPhotoJpeg();
        const std::string bytes = WithOrientation(plain, orientation);
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ReadFile(path);  // into the page cache
    return path;
}

void FirstBand(benchmark::State& state) {
    const std::string& path = PhotoPath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CJpegReader reader(path);
        reader.OpenFile();
        const int64_t stride = DibStride(reader.header.bmiHeader.biWidth, 24);
        // Not cleared: like the image's own buffer, its pages cost only once they are written.
        std::unique_ptr<uint8_t[]> buffer(
            new uint8_t[static_cast<size_t>(stride) * std::abs(reader.header.bmiHeader.biHeight) +
                        1]);
        for (int r = 0; r < 64; ++r) {
            uint8_t* row = buffer.get() + static_cast<size_t>(r) * stride;
            reader.NextLine(&row);
        }
        if (reader.lineCounter != 63) state.SkipWithError("the photo did not decode");
        benchmark::DoNotOptimize(buffer.get());
        reader.Close();
    }
}

int32_t UprightWidth(int orientation, int32_t box) {
    const bool turned = OrientationTransposes(orientation);
    if (box == 1920) return turned ? 1280 : 1920;
    return turned ? kHeight : kWidth;
}

void Whole(benchmark::State& state) {
    BuildGammaTables();
    const int orientation = static_cast<int>(state.range(0));
    const std::string& path = PhotoPath(orientation);
    for (auto _ : state) {
        CImage image;
        image.LoadNow(path, 1 << 30, 1 << 30);
        if (image.GetWidth() != UprightWidth(orientation, 0))
            state.SkipWithError("unexpected size");
        benchmark::DoNotOptimize(image.displayBuffer);
    }
}

void Resize1920(benchmark::State& state) {
    BuildGammaTables();
    const int orientation = static_cast<int>(state.range(0));
    const std::string& path = PhotoPath(orientation);
    for (auto _ : state) {
        CImage image;
        LoadFitted(image, path, 1920, 1920);
        if (image.GetWidth() != UprightWidth(orientation, 1920))
            state.SkipWithError("unexpected size");
        benchmark::DoNotOptimize(image.displayBuffer);
    }
}

// The turning alone: every stored row of the picture, a strip at a time, into an upright
// buffer already in memory.
void PlaceOnly(benchmark::State& state) {
    const int32_t strip = static_cast<int32_t>(state.range(0));
    const size_t rowBytes = static_cast<size_t>(kWidth) * 3;
    std::vector<uint8_t> rows(rowBytes * strip, 7);
    const size_t uprightStride = static_cast<size_t>(DibStride(kHeight, 24));
    std::vector<uint8_t> upright(uprightStride * kWidth, 0);
    for (auto _ : state) {
        for (int32_t first = 0; first < kHeight; first += strip)
            PlaceTransposedRows(rows.data(), rowBytes, first, strip, kWidth, kHeight, 3, 6,
                                upright.data(), uprightStride);
        benchmark::DoNotOptimize(upright.data());
    }
}

BENCHMARK(PlaceOnly)
    ->Arg(16)
    ->Arg(32)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(FirstBand)
    ->DenseRange(1, 8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(Whole)
    ->DenseRange(1, 8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(Resize1920)
    ->DenseRange(1, 8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    // Makes the eight photos and ends, so that no measured process pays for (or holds) that.
    if (argc == 2 && std::strcmp(argv[1], "--make-photos") == 0) {
        for (int o = 1; o <= 8; ++o)
            if (ReadFile(PhotoPath(o)).empty()) return 1;
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
