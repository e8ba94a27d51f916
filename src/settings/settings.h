#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Every value the program keeps in its settings store, with its type and the default a reader
// gets when the value is absent or of the wrong type. Each owner reads its value where it needs
// it and writes it where it changes; nothing is cached in memory.

struct NumberSetting {
    std::string_view name;
    int32_t defaultValue;
};

// How a text setting's default is found: most are fixed, the start folder depends on the user.
enum class TextDefault { kFixed, kHomeFolder, kCacheFolder };

struct TextSetting {
    std::string_view name;
    std::string_view fixedDefault;
    TextDefault kind = TextDefault::kFixed;
};

namespace settings {

// Photos are shown upright by their Exif orientation unless this is 0.
inline constexpr NumberSetting kApplyOrientation{"ApplyOrientation", 1};
// 0: the adjust percentage is relative to the window, 1: to the image; others behave as 0.
inline constexpr NumberSetting kAdjustType{"AdjustType", 0};
// Adjust bar shown in fullscreen when greater than 0; written as 0 or 1.
inline constexpr NumberSetting kAdjustVisible{"AdjustVisible", 0};
// 0x00BBGGRR; red 0x37, green 0x38, blue 0x4D.
inline constexpr NumberSetting kBackgroundColor{"BackgroundColor", 0x004D3837};
// Thumbnail cache root; absent: LumoraCache in $XDG_CACHE_HOME (~/.cache when unset); stored
// empty: no cache.
inline constexpr TextSetting kCacheDir{"CacheDir", "", TextDefault::kCacheFolder};
// 1: a double-click shows the image in the window; anything else (written as 2): fullscreen.
inline constexpr NumberSetting kDoubleClickOpen{"DoubleClickOpen", 1};
// Width of the file list in pixels.
inline constexpr NumberSetting kFileViewWidth{"FileViewWidth", 150};
// Command id of the resample mode: 40012 None, 40013 Both, 40014 Horizontal, 40015 Vertical,
// 40016 Auto.
inline constexpr NumberSetting kImageResample{"ImageResample", 40012};
// The file browser's folder; absent: the user's home folder ("/" when there is none).
inline constexpr TextSetting kInitialDirectory{"InitialDirectory", "", TextDefault::kHomeFolder};
// Cache size limit in megabytes; 0 or less: no limit.
inline constexpr NumberSetting kMaxCacheSize{"MaxCacheSize", 0};
// Most decoded thumbnails kept in memory. The thumbnail pane reads it with default 0 and takes
// 0 as 1000; the settings dialog reads it with default 1000.
inline constexpr NumberSetting kMaxThumbsLoad{"MaxThumbsLoad", 0};
inline constexpr int32_t kMaxThumbsLoadDialogDefault = 1000;
// Largest enlargement in percent; upscaling happens only above 100.
inline constexpr NumberSetting kMaxUpscale{"MaxUpscale", 150};
// Percentage of an image to load before moving on to the next; 0: off.
inline constexpr NumberSetting kMinPercLoad{"MinPercLoad", 0};
// Thumbnails shown at start when the value equals 1; written as 0 or 1.
inline constexpr NumberSetting kShowThumbnails{"ShowThumbnails", 0};
// Sort order of the file list: 0 by name, 1 by type.
inline constexpr NumberSetting kSortingType{"SortingType", 0};
// Enlarge images smaller than the window when not 0; written as 0 or 1.
inline constexpr NumberSetting kUpscale{"Upscale", 0};

// The folder history: one text value per entry, named "DirHistory" and its index from 0.
// Only the first kDirHistoryCount names are ever read.
inline constexpr std::string_view kDirHistoryPrefix = "DirHistory";
inline constexpr int kDirHistoryCount = 15;
inline constexpr std::string_view kDirHistoryDefault = "";

inline constexpr std::array kNumberSettings{
    kApplyOrientation, kAdjustType,     kAdjustVisible, kBackgroundColor, kDoubleClickOpen, kFileViewWidth,
    kImageResample,  kMaxCacheSize,  kMaxThumbsLoad,   kMaxUpscale,      kMinPercLoad,
    kShowThumbnails, kSortingType,   kUpscale,
};
inline constexpr std::array kTextSettings{kCacheDir, kInitialDirectory};

}  // namespace settings

// "DirHistory" followed by the decimal index.
std::string DirHistoryName(int index);

// The default a reader of the setting gets.
std::string DefaultOf(const TextSetting& setting);

int32_t ReadSetting(const NumberSetting& setting);
void WriteSetting(const NumberSetting& setting, int32_t value);
std::string ReadSetting(const TextSetting& setting);
void WriteSetting(const TextSetting& setting, const std::string& value);
