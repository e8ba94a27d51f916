#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

// Every test program runs inside a fresh home of its own: settings, trash, cache and wallpaper
// all land there and vanish with it.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    TempDir home("lumora-test-home");
    const auto base = home.path();
    for (const char* sub : {".config", ".local/share", ".cache"})
        std::filesystem::create_directories(base / sub);
    setenv("HOME", base.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (base / ".local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (base / ".cache").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return RUN_ALL_TESTS();
}
