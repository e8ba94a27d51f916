#pragma once

// The resampling paths written out the plain way, one display pixel at a time, recomputing every
// sum: the yardstick the fast paths must match byte for byte. Also a line source that serves a
// picture held in memory row by row, as a reader would.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "image/bitmap.h"
#include "image/image.h"
#include "image/resample.h"

// A bitmap in the loader's layout: rows padded to 4 bytes, one spare byte at the end.
struct TestPicture {
    int32_t width = 0;
    int32_t height = 0;
    int bytesPerPixel = 3;
    int32_t stride = 0;
    std::vector<uint8_t> pixels;

    TestPicture() = default;
    TestPicture(int32_t w, int32_t h, int bpp)
        : width(w),
          height(h),
          bytesPerPixel(bpp),
          stride(static_cast<int32_t>(DibStride(w, bpp * 8))),
          pixels(static_cast<size_t>(stride) * static_cast<size_t>(h) + 1, 0) {}

    uint8_t* Row(int32_t r) { return pixels.data() + static_cast<size_t>(r) * stride; }
    const uint8_t* Row(int32_t r) const { return pixels.data() + static_cast<size_t>(r) * stride; }
};

// Random pixels; the padding bytes too, so that reading them shows in the result.
inline TestPicture RandomPicture(int32_t w, int32_t h, int bpp, uint32_t seed) {
    TestPicture pic(w, h, bpp);
    std::mt19937 random(seed);
    for (uint8_t& b : pic.pixels) b = static_cast<uint8_t>(random());
    return pic;
}

// Hands out the rows of a picture in order, copying each into the row it is given, the way a
// reader fills the image's buffer. Like a damaged file, it may stop after its first rows.
class MemoryRows : public INextLine {
public:
    // ownRows: every third row, and every row of alternate runs of 64, is handed over as a
    // pointer to the picture's own row, as a reader told ownRows may do, instead of being
    // copied: the pipe's few byte slots are then reused behind rows that ran far ahead.
    explicit MemoryRows(const TestPicture& picture, int32_t rows = -1, bool ownRows = false)
        : picture_(picture), rows_(rows < 0 ? picture.height : rows), ownRows_(ownRows) {}
    int NextLine(uint8_t** row) override {
        if (line_ + 1 >= rows_) return line_;
        ++line_;
        if (ownRows_ && (line_ % 3 == 1 || line_ / 64 % 2 == 1))
            *row = const_cast<uint8_t*>(picture_.Row(line_));
        else
            std::memcpy(*row, picture_.Row(line_), static_cast<size_t>(picture_.stride));
        return line_;
    }
    int line() const { return line_; }

private:
    const TestPicture& picture_;
    int32_t rows_;
    bool ownRows_;
    int32_t line_ = -1;
};

namespace reference {

inline float NextEdge(float c, float end) {
    const float next = std::floor(c + 1.0f);
    return next > c ? next : end;
}

inline void Write(uint8_t* dst, bool rgbOrder, const uint8_t bytes[3]) {
    dst[rgbOrder ? 2 : 0] = bytes[0];
    dst[1] = bytes[1];
    dst[rgbOrder ? 0 : 2] = bytes[2];
}

// Area averaging; the display must be smaller than the source in both directions.
inline void Box(const TestPicture& src, bool rgbOrder, TestPicture& dst) {
    const int32_t sw = src.width, sh = src.height, dw = dst.width, dh = dst.height;
    const int p = src.bytesPerPixel;
    const float rx = static_cast<float>(sw) / static_cast<float>(dw);
    const float ry = static_cast<float>(sh) / static_cast<float>(dh);
    const float k = 1.0f / (rx * ry);
    const int32_t wH = static_cast<int32_t>(std::ceil(static_cast<double>(ry) + 1.0));

    struct Tap {
        int32_t offset;
        float weight;
    };
    std::vector<std::vector<Tap>> columnTaps(static_cast<size_t>(dw));
    float x0 = 0.0f, x1 = rx;
    for (int32_t i = 0; i < dw; ++i) {
        for (float c = x0; c < x1; c = NextEdge(c, x1)) {
            const int32_t offset = std::min(static_cast<int32_t>(c), sw - 1) * p;
            const float weight = (x1 - c <= 1.0f) ? x1 - c : std::floor(c + 1.0f) - c;
            columnTaps[static_cast<size_t>(i)].push_back({offset, weight});
        }
        x0 = x1;
        x1 = x1 + rx;
    }

    for (int32_t j = 0; j < dh; ++j) {
        const float y0 = static_cast<float>(j) * ry;
        const int32_t base = static_cast<int32_t>(y0);
        const float y1 = static_cast<float>(j + 1) * ry;
        std::vector<Tap> rowTaps;
        const float e = y1 - static_cast<float>(base);
        for (float c = y0 - static_cast<float>(base); c < e; c = NextEdge(c, e)) {
            const float weight = (e - c <= 1.0f) ? e - c : std::floor(c + 1.0f) - c;
            rowTaps.push_back({std::min(static_cast<int32_t>(c), wH - 1), weight});
        }
        for (int32_t i = 0; i < dw; ++i) {
            float acc[3] = {0.0f, 0.0f, 0.0f};
            for (const Tap& rt : rowTaps) {
                const uint8_t* row = src.Row(std::min(base + rt.offset, sh - 1));
                for (const Tap& ct : columnTaps[static_cast<size_t>(i)]) {
                    const float w = ct.weight * rt.weight;
                    for (int ch = 0; ch < 3; ++ch)
                        acc[ch] += g_linearLight[row[ct.offset + ch]] * w;
                }
            }
            uint8_t bytes[3];
            for (int ch = 0; ch < 3; ++ch) {
                const float x = acc[ch] * k * 200000.0f;
                bytes[ch] =
                    g_outputGamma[std::clamp(static_cast<int32_t>(x), 0, kOutputGammaSize - 1)];
            }
            Write(dst.Row(j) + static_cast<size_t>(i) * p, rgbOrder, bytes);
        }
    }
}

struct Window {
    int32_t start = 0;
    int32_t end = 0;
    std::vector<float> weights;
};

inline std::vector<Window> SincWindows(int32_t sourceSize, int32_t displaySize) {
    std::vector<Window> windows(static_cast<size_t>(displaySize));
    for (int32_t i = 0; i < displaySize; ++i) {
        Window& win = windows[static_cast<size_t>(i)];
        const float c = (static_cast<float>(i) + 0.5f) * static_cast<float>(sourceSize) /
                        static_cast<float>(displaySize);
        win.start = std::max(0, static_cast<int32_t>(c - 2.0f));
        win.end = std::min(sourceSize, static_cast<int32_t>(std::ceil(c + 2.0f)));
        const float d = static_cast<float>(win.start) + 0.5f - c;
        float sum = 0.0f;
        for (int32_t t = 0; t < win.end - win.start; ++t) {
            const float x = (static_cast<float>(t) + d) / 1.25f;
            float w = 1.0f;
            if (x != 0.0f) {
                const float px = 3.141593f * x;
                w = static_cast<float>(2 * std::sin(static_cast<double>(px)) *
                                       std::sin(static_cast<double>(px / 2)) /
                                       static_cast<double>(px * px));
            }
            win.weights.push_back(w);
            sum += w;
        }
        for (float& w : win.weights) w /= sum;
    }
    return windows;
}

// Windowed sinc, every display pixel recomputing the horizontal sums of each row it covers.
inline void Sinc(const TestPicture& src, bool rgbOrder, TestPicture& dst) {
    const std::vector<Window> columns = SincWindows(src.width, dst.width);
    const std::vector<Window> rows = SincWindows(src.height, dst.height);
    const int p = src.bytesPerPixel;
    for (int32_t j = 0; j < dst.height; ++j) {
        const Window& rw = rows[static_cast<size_t>(j)];
        for (int32_t i = 0; i < dst.width; ++i) {
            const Window& cw = columns[static_cast<size_t>(i)];
            float acc[3] = {0.0f, 0.0f, 0.0f};
            for (int32_t r = rw.start; r < rw.end; ++r) {
                const float v = rw.weights[static_cast<size_t>(r - rw.start)];
                float h[3] = {0.0f, 0.0f, 0.0f};
                for (int32_t x = cw.start; x < cw.end; ++x) {
                    const float w = cw.weights[static_cast<size_t>(x - cw.start)];
                    const uint8_t* px = src.Row(r) + static_cast<size_t>(x) * p;
                    for (int ch = 0; ch < 3; ++ch) h[ch] += g_linearLight[px[ch]] * w;
                }
                for (int ch = 0; ch < 3; ++ch) acc[ch] += h[ch] * v;
            }
            uint8_t bytes[3];
            for (int ch = 0; ch < 3; ++ch) {
                const float a = std::clamp(acc[ch], 0.0f, 1.0f);
                bytes[ch] = g_outputGamma[static_cast<int32_t>(a * 200000.0f)];
            }
            Write(dst.Row(j) + static_cast<size_t>(i) * p, rgbOrder, bytes);
        }
    }
}

}  // namespace reference
