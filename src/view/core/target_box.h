#pragma once

// How large the image pane shows an image: the box handed to CImage::SetSizeLimit, from the
// resample mode, the adjust percentage and type, the upscale rule and the pane's size.

#include <atomic>
#include <cstdint>

// Resample modes.
constexpr int kResampleNone = 0;
constexpr int kResampleBoth = 1;
constexpr int kResampleHorizontal = 2;
constexpr int kResampleVertical = 3;
constexpr int kResampleAuto = 4;

// Largest enlargement in percent ("MaxUpscale"); upscaling happens only above 100.
extern std::atomic<int32_t> g_maxUpscale;
// 0: the adjust percentage is a percentage of the window; 1: of the image ("AdjustType").
extern std::atomic<int32_t> g_adjustType;

struct TargetParams {
    int32_t viewWidth = 0;  // the pane's window, scroll bars included
    int32_t viewHeight = 0;
    int mode = kResampleNone;
    int32_t adjust = 0;  // percent, 0 to 99
    int32_t adjustType = 0;
    bool upscale = false;
    int32_t maxUpscale = 150;
    bool fullscreen = false;
    int32_t verticalBarWidth = 0;
    int32_t horizontalBarHeight = 0;

    bool operator==(const TargetParams&) const = default;
};

struct TargetBox {
    bool valid = false;  // false: the pane is too small; keep the previous box
    int32_t width = 0;   // 0: follows from the other side
    int32_t height = 0;
    bool upscale = false;
};

// For a source of sourceWidth x sourceHeight pixels.
TargetBox ComputeTargetBox(const TargetParams& params, int32_t sourceWidth, int32_t sourceHeight);
