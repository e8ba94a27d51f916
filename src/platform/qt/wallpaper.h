#pragma once

// Setting the desktop picture: the desktop portal over D-Bus first, which serves most desktops
// and sandboxes; without one, the running desktop's own setter as a child process.

#include <string>
#include <vector>

struct WallpaperEnvironment {
    std::string desktop;  // XDG_CURRENT_DESKTOP, entries separated by ':'
    bool sessionBus = false;
    bool tryPortal = true;
    int timeoutMs = 10000;  // per portal call and per child process
};

// What this process runs in.
WallpaperEnvironment CurrentWallpaperEnvironment();

// Whether the desktop took the file (an absolute path) as its picture. The picture's style is
// left as the desktop has it.
bool SetDesktopWallpaper(const std::string& path, const WallpaperEnvironment& environment);
