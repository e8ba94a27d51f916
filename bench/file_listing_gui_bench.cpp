// Building the file browser's listing of a folder of 10,000 images (nine extensions, mixed
// case) and 500 sub-folders, sorted by name and by type: the folder read and sort alone, and
// the whole build into the list (entries, one icon lookup per extension, reselect, title),
// and that build with the list painted once afterwards. Runs on the offscreen platform.
//
//   build/bench/file_listing_gui_bench --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "browser/file_view.h"
#include "browser/folder_listing.h"
#include "settings/registry.h"

namespace {

std::string g_folder;

void MakeFolder() {
    char pattern[] = "/tmp/lumora-listing-XXXXXX";
    g_folder = std::string(mkdtemp(pattern)) + "/";
    const char* extensions[] = {"jpg", "JPG", "png", "gif", "bmp", "tif", "jp2", "ico", "cur"};
    for (int i = 0; i < 10000; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "IMG_%05d.%s", (i * 7919) % 10000, extensions[i % 9]);
        std::ofstream(g_folder + name) << 'x';
    }
    for (int i = 0; i < 500; ++i)
        std::filesystem::create_directory(g_folder + "album " + std::to_string((i * 37) % 500));
}

class CNullForm : public CBaseForm {
public:
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        return DefWindowProc(window, message, wParam, lParam);
    }
};

void BM_ReadFolder(benchmark::State& state) {
    const int sort = static_cast<int>(state.range(0));
    size_t files = 0;
    for (auto _ : state) {
        FolderContents contents = ReadFolder(g_folder, sort);
        files = contents.files.size();
        benchmark::DoNotOptimize(contents);
    }
    state.counters["files"] = static_cast<double>(files);
}
BENCHMARK(BM_ReadFolder)->Arg(kSortByName)->Arg(kSortByType)->Unit(benchmark::kMillisecond);

void BM_BuildListing(benchmark::State& state) {
    const int sort = static_cast<int>(state.range(0));
    const bool paint = state.range(1) != 0;
    WriteRegDword("SortingType", sort);
    CNullForm mainForm;
    WindowStyle style;
    style.topLevel = true;
    UniqueWindow main = CreateFormWindow(&mainForm, nullptr, "Lumora", style);
    SetWindowForm(AsHandle(main), &mainForm);
    MoveWindow(AsHandle(main), 0, 0, 1200, 900);
    ShowWindow(AsHandle(main), SW_SHOW);
    CFileView view(AsHandle(main));
    MoveWindow(view.window(), 0, 30, 200, 860);
    ShowWindow(view.window(), SW_SHOW);
    view.OpenStartFolder(g_folder);
    QCoreApplication::processEvents();
    for (auto _ : state) {
        view.BuildListing(false);
        if (paint) QCoreApplication::processEvents();
    }
    state.counters["entries"] = ListView_GetItemCount(view.window());
    state.counters["icon_lookups"] = view.icons().lookups();
}
BENCHMARK(BM_BuildListing)
    ->Args({kSortByName, 0})
    ->Args({kSortByType, 0})
    ->Args({kSortByName, 1})
    ->Args({kSortByType, 1})
    ->ArgNames({"sort", "painted"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char home[] = "/tmp/lumora-bench-home-XXXXXX";
    const std::string homePath = mkdtemp(home);
    setenv("HOME", homePath.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (homePath + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (homePath + "/.local/share").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    InitPlatform();
    MakeFolder();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(g_folder);
    std::filesystem::remove_all(homePath);
    return 0;
}
