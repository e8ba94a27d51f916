#include "view/core/target_box.h"

#include <cmath>
#include <limits>

std::atomic<int32_t> g_maxUpscale{150};
std::atomic<int32_t> g_adjustType{0};

namespace {

// Truncation toward zero, kept inside the 32-bit range (and NaN read as 0).
int32_t Trunc(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace

TargetBox ComputeTargetBox(const TargetParams& p, int32_t w, int32_t h) {
    TargetBox box;
    const int32_t vw = p.viewWidth;
    const int32_t vh = p.viewHeight;
    if (vw < 5 || vh < 5) return box;
    box.valid = true;
    // A source of unknown size (a header that comes only with the decode) has nothing to fit;
    // the ratios below would divide by zero.
    if (w <= 0 || h <= 0) return box;

    int mode = p.mode;
    if (mode == kResampleAuto)
        mode = static_cast<double>(vh) / vw <= static_cast<double>(h) / w ? kResampleHorizontal
                                                                          : kResampleVertical;

    const double percent = p.adjust / 100.0;
    double fx = (mode == kResampleBoth || mode == kResampleHorizontal) ? 1 + percent : 1;
    double fy = (mode == kResampleBoth || mode == kResampleVertical) ? 1 + percent : 1;
    if (p.adjustType == 1) {
        fx = w > vw ? 1 + (static_cast<double>(w) / vw - 1) * (fx - 1) : 1;
        fy = h > vh ? 1 + (static_cast<double>(h) / vh - 1) * (fy - 1) : 1;
    }

    if (p.upscale && p.maxUpscale > 100 && w < vw && h < vh) {
        const double sx = static_cast<double>(vw) / w;
        const double sy = static_cast<double>(vh) / h;
        const double u = p.maxUpscale / 100.0;
        if (sx > sy) {
            box.height = u > sy ? vh : Trunc(h * u);
        } else {
            box.width = u > sx ? vw : Trunc(w * u);
        }
        box.upscale = true;
        return box;
    }

    switch (mode) {
        case kResampleBoth:
            box.width = Trunc(vw * fx);
            box.height = Trunc(vh * fy);
            break;
        case kResampleHorizontal: {
            const int32_t fitW = Trunc(vw * fx);
            const int32_t fitH = Trunc(static_cast<double>(h) / w * fitW);
            if (fitH <= vh || p.fullscreen) {
                box.width = fitW;
            } else {
                // A vertical scroll bar would be needed: fit the width beside it, unless the
                // image then no longer overflows; then fit the whole window.
                const int32_t w2 = Trunc((vw - p.verticalBarWidth) * fx);
                const int32_t h2 = Trunc(static_cast<double>(h) / w * w2);
                if (h2 > vh) {
                    box.width = w2;
                } else {
                    box.width = fitW;
                    box.height = vh;
                }
            }
            break;
        }
        case kResampleVertical: {
            const int32_t fitH = Trunc(vh * fy);
            const int32_t fitW = Trunc(static_cast<double>(w) / h * fitH);
            if (fitW <= vw || p.fullscreen) {
                box.height = fitH;
            } else {
                const int32_t h2 = Trunc((vh - p.horizontalBarHeight) * fy);
                const int32_t w2 = Trunc(static_cast<double>(w) / h * h2);
                if (w2 > vw) {
                    box.height = h2;
                } else {
                    box.width = vw;
                    box.height = fitH;
                }
            }
            break;
        }
        default:  // None
            box.width = w;
            box.height = h;
            break;
    }
    return box;
}
