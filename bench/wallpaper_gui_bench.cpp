// "Set as wallpaper" blocks the window while it decodes the picture to fit the screen and writes
// Lumora.bmp: the time of that step for a 24-megapixel JPEG on a 1280 x 1024 screen. The
// desktop's setter that follows is the desktop's own time, not measured here.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/resample.h"
#include "view/image_form.h"

namespace {

std::string Photo24Mp(const std::string& folder) {
    const std::string path = folder + "/photo-24mp.jpg";
    if (!std::filesystem::exists(path)) {
        const std::string source =
            std::string(LUMORA_CORPUS_DIR) + "/jpeg/photos-4mp/plasma_Kite_2560x1600.jpg";
        const std::string command =
            "convert '" + source + "' -resize '6000x4000!' -quality 92 '" + path + "'";
        if (std::system(command.c_str()) != 0) return "";
    }
    return path;
}

void BM_WallpaperFile(benchmark::State& state) {
    BuildGammaTables();
    const std::string folder = std::filesystem::temp_directory_path() / "lumora-wallpaper-bench";
    std::filesystem::create_directories(folder);
    const std::string photo = Photo24Mp(folder);
    if (photo.empty()) {
        state.SkipWithError("ImageMagick's convert is needed to make the photo");
        return;
    }
    const std::string target = folder + "/Lumora.bmp";
    for (auto _ : state) {
        if (!WriteWallpaperFile(photo, 1280, 1024, target)) {
            state.SkipWithError("the wallpaper file was not written");
            return;
        }
    }
}
BENCHMARK(BM_WallpaperFile)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
