#include "image/resample.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "image/image.h"

float g_linearLight[256];
uint8_t g_outputGamma[kOutputGammaSize];

void BuildGammaTables() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int v = 0; v < 256; ++v)
            g_linearLight[v] = static_cast<float>(std::pow(v / 255.0, 2.2));
        for (int i = 0; i < kOutputGammaSize; ++i) {
            g_outputGamma[i] = i <= 200000
                ? static_cast<uint8_t>(std::pow(i / 200000.0, 0.45454545454545453) * 255.0)
                : 255;
        }
    });
}

namespace {

constexpr int kLobes = 2;
constexpr float kStretch = 1.25f;
constexpr float kPi = 3.141593f;

// Output byte order: the display is always B, G, R.
inline void ChannelOrder(bool rgbOrder, int& c0, int& c2) {
    c0 = rgbOrder ? 2 : 0;
    c2 = rgbOrder ? 0 : 2;
}

struct SincWindow {
    int32_t start = 0;
    int32_t end = 0;
    std::vector<float> weights;
};

// The source pixels that contribute to each display pixel along one axis, with their weights.
std::vector<SincWindow> SincWindows(int32_t sourceSize, int32_t displaySize) {
    std::vector<SincWindow> windows(static_cast<size_t>(displaySize));
    for (int32_t i = 0; i < displaySize; ++i) {
        SincWindow& win = windows[static_cast<size_t>(i)];
        const float c = (static_cast<float>(i) + 0.5f) * static_cast<float>(sourceSize) /
                        static_cast<float>(displaySize);
        win.start = std::max(0, static_cast<int32_t>(c - kLobes));
        win.end = std::min(sourceSize, static_cast<int32_t>(std::ceil(c + kLobes)));
        const float d = static_cast<float>(win.start) + 0.5f - c;
        float sum = 0.0f;
        for (int32_t t = 0; t < win.end - win.start; ++t) {
            const float x = (static_cast<float>(t) + d) / kStretch;
            float w = 1.0f;
            if (x != 0.0f) {
                const float px = kPi * x;
                w = static_cast<float>(kLobes * std::sin(static_cast<double>(px)) *
                                       std::sin(static_cast<double>(px / kLobes)) /
                                       static_cast<double>(px * px));
            }
            win.weights.push_back(w);
            sum += w;
        }
        for (float& w : win.weights) w /= sum;
    }
    return windows;
}

uint8_t* SourceRow(const ResampleJob& job, int32_t r) {
    return job.source + static_cast<size_t>(r) * static_cast<size_t>(job.sourceStride);
}

// Makes sure source rows 0 .. upTo have been read (in order, each exactly once).
void ReadRowsUpTo(const ResampleJob& job, int32_t upTo) {
    upTo = std::min(upTo, job.sourceHeight - 1);
    while (*job.currentLine < upTo) {
        if (job.fromReader) {
            ++*job.currentLine;
            uint8_t* row = SourceRow(job, *job.currentLine);
            job.lines->NextLine(&row);
        } else {
            uint8_t* row = nullptr;
            job.lines->NextLine(&row);
        }
    }
}

}  // namespace

bool RunSincPath(const ResampleJob& job) {
    const int32_t dw = job.displayWidth, dh = job.displayHeight;
    if (dw <= 0 || dh <= 0 || job.sourceWidth <= 0 || job.sourceHeight <= 0) return false;
    const std::vector<SincWindow> columns = SincWindows(job.sourceWidth, dw);
    const std::vector<SincWindow> rows = SincWindows(job.sourceHeight, dh);
    const int p = job.bytesPerPixel;
    int c0, c2;
    ChannelOrder(job.rgbOrder, c0, c2);

    for (int32_t j = 0; j < dh; ++j) {
        const SincWindow& rw = rows[static_cast<size_t>(j)];
        ReadRowsUpTo(job, rw.end - 1);
        uint8_t* out = job.display + static_cast<size_t>(j) * static_cast<size_t>(job.displayStride);
        for (int32_t i = 0; i < dw; ++i) {
            const SincWindow& cw = columns[static_cast<size_t>(i)];
            float acc[3] = {0.0f, 0.0f, 0.0f};
            for (int32_t r = rw.start; r < rw.end; ++r) {
                const float v = rw.weights[static_cast<size_t>(r - rw.start)];
                const uint8_t* src = SourceRow(job, r);
                float h[3] = {0.0f, 0.0f, 0.0f};
                for (int32_t x = cw.start; x < cw.end; ++x) {
                    const float w = cw.weights[static_cast<size_t>(x - cw.start)];
                    const uint8_t* px = src + static_cast<size_t>(x) * p;
                    for (int ch = 0; ch < 3; ++ch) h[ch] += g_linearLight[px[ch]] * w;
                }
                for (int ch = 0; ch < 3; ++ch) acc[ch] += h[ch] * v;
            }
            uint8_t bytes[3];
            for (int ch = 0; ch < 3; ++ch) {
                const float a = std::clamp(acc[ch], 0.0f, 1.0f);
                bytes[ch] = g_outputGamma[static_cast<int32_t>(a * 200000.0f)];
            }
            uint8_t* dst = out + static_cast<size_t>(i) * p;
            dst[c0] = bytes[0];
            dst[1] = bytes[1];
            dst[c2] = bytes[2];
        }
        if (job.hook && job.hook->AfterRow(j)) return true;
    }
    return false;
}

bool RunBoxPath(const ResampleJob& job) {
    const int32_t sw = job.sourceWidth, sh = job.sourceHeight;
    const int32_t dw = job.displayWidth, dh = job.displayHeight;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return false;
    const int p = job.bytesPerPixel;
    int c0, c2;
    ChannelOrder(job.rgbOrder, c0, c2);

    const float rx = static_cast<float>(sw) / static_cast<float>(dw);
    const float ry = static_cast<float>(sh) / static_cast<float>(dh);
    const float k = 1.0f / (rx * ry);
    const int32_t wH = static_cast<int32_t>(std::ceil(static_cast<double>(ry) + 1.0));

    // Column taps, computed once: byte offset into a source row and weight.
    struct Tap {
        int32_t offset;
        float weight;
    };
    std::vector<std::vector<Tap>> columnTaps(static_cast<size_t>(dw));
    float x0 = 0.0f, x1 = rx;
    for (int32_t i = 0; i < dw; ++i) {
        for (float c = x0; c < x1; c = std::floor(c + 1.0f)) {
            int32_t offset = static_cast<int32_t>(c) * p;
            if (offset >= job.sourceStride) offset = job.sourceStride - p;
            const float weight = (x1 - c <= 1.0f) ? x1 - c : std::floor(c + 1.0f) - c;
            columnTaps[static_cast<size_t>(i)].push_back({offset, weight});
        }
        x0 = x1;
        x1 = x1 + rx;
    }

    std::vector<Tap> rowTaps;
    for (int32_t j = 0; j < dh; ++j) {
        const float y0 = static_cast<float>(j) * ry;
        const int32_t base = static_cast<int32_t>(y0);
        const float y1 = static_cast<float>(j + 1) * ry;
        ReadRowsUpTo(job, base + wH - 1);

        // Row taps: the slot (row offset from base) and weight of each contributing source row.
        rowTaps.clear();
        const float e = y1 - static_cast<float>(base);
        for (float c = y0 - static_cast<float>(base); c < e; c = std::floor(c + 1.0f)) {
            const float weight = (e - c <= 1.0f) ? e - c : std::floor(c + 1.0f) - c;
            rowTaps.push_back({static_cast<int32_t>(c), weight});
        }

        uint8_t* out = job.display + static_cast<size_t>(j) * static_cast<size_t>(job.displayStride);
        for (int32_t i = 0; i < dw; ++i) {
            float acc[3] = {0.0f, 0.0f, 0.0f};
            for (const Tap& rt : rowTaps) {
                // A tap past the last row (rounding of the row edges) reads the last row.
                const uint8_t* src = SourceRow(job, std::min(base + rt.offset, sh - 1));
                for (const Tap& ct : columnTaps[static_cast<size_t>(i)]) {
                    const float w = ct.weight * rt.weight;
                    const uint8_t* px = src + ct.offset;
                    for (int ch = 0; ch < 3; ++ch) acc[ch] += g_linearLight[px[ch]] * w;
                }
            }
            uint8_t* dst = out + static_cast<size_t>(i) * p;
            uint8_t bytes[3];
            for (int ch = 0; ch < 3; ++ch) {
                const int32_t index = static_cast<int32_t>(acc[ch] * k * 200000.0f);
                bytes[ch] = g_outputGamma[std::clamp(index, 0, kOutputGammaSize - 1)];
            }
            dst[c0] = bytes[0];
            dst[1] = bytes[1];
            dst[c2] = bytes[2];
        }
        if (job.hook && job.hook->AfterRow(j)) return true;
    }
    return false;
}
