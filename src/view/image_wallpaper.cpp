// "Set as wallpaper": the current file decoded to fit the primary screen, written as a BMP into
// the program's data folder and handed to the desktop.

#include <filesystem>
#include <system_error>

#include "image/writer.h"
#include "platform/qt/dialogs.h"
#include "platform/qt/wallpaper.h"
#include "settings/helpers.h"
#include "view/image_form.h"

bool WriteWallpaperFile(const std::string& source, int32_t screenWidth, int32_t screenHeight,
                        const std::string& target) {
    if (screenWidth <= 0 || screenHeight <= 0) return false;
    CImage image;
    // Only the fitted picture is written, so a reduced load need not hold the whole source.
    image.streamSource = true;
    // Fitted without enlarging, and with its aspect ratio kept.
    image.LoadNow(source, screenWidth, screenHeight);
    if (image.outOfMemory || image.GetWidth() <= 0 || image.GetHeight() <= 0) return false;
    const std::unique_ptr<CImageWriter> writer = CreateWriter(target, &image);
    if (!writer) return false;
    writer->Write();
    return writer->succeeded();
}

std::string WallpaperPath() {
    return DataHome() + "/Lumora/Lumora.bmp";
}

void CImageForm::SetAsWallpaper() {
    if (currentName_.empty()) return;
    const std::string path = WallpaperPath();
    // A picture that could not be decoded or written is not handed to the desktop: the old
    // wallpaper is better than a broken file.
    std::error_code error;
    std::filesystem::create_directories(DataHome() + "/Lumora", error);
    const bool ok = !error &&
                    WriteWallpaperFile(currentName_, GetSystemMetrics(SM_CXSCREEN),
                                       GetSystemMetrics(SM_CYSCREEN), path) &&
                    SetDesktopWallpaper(path, CurrentWallpaperEnvironment());
    if (!ok)
        MessageBox(GetParent(window()), "The wallpaper could not be set.", "Lumora",
                   MB_OK | MB_ICONEXCLAMATION);
}
