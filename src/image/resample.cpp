#include "image/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "image/image.h"
#include "image/resample_kernels.h"
#include "image/row_pipe.h"

float g_linearLight[256];
uint8_t g_outputGamma[kOutputGammaSize];

int OutputGammaEntry(int32_t i) {
    if (i > 200000) return 255;
    return static_cast<uint8_t>(std::pow(i / 200000.0, 0.45454545454545453) * 255.0);
}

void BuildGammaTables() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int v = 0; v < 256; ++v)
            g_linearLight[v] = static_cast<float>(std::pow(v / 255.0, 2.2));
        // The entries rise with the index, 256 values over 200001 places: each value's first
        // place is found by bisection, some 4600 powers instead of 200001 (a batch resize
        // would otherwise spend milliseconds here). The tests compare it with every entry.
        int32_t from = 0;
        for (int v = 0; v < 256; ++v) {
            int32_t lo = from, hi = 200001;  // the first place above v lies in (lo, hi]
            while (lo < hi) {
                const int32_t mid = lo + (hi - lo) / 2;
                if (OutputGammaEntry(mid) > v)
                    hi = mid;
                else
                    lo = mid + 1;
            }
            std::fill(g_outputGamma + from, g_outputGamma + lo, static_cast<uint8_t>(v));
            from = lo;
        }
        std::fill(g_outputGamma + from, g_outputGamma + kOutputGammaSize, uint8_t{255});
    });
}

namespace {

constexpr int kLobes = 2;
constexpr float kStretch = 1.25f;
constexpr float kPi = 3.141593f;

std::atomic<const ResampleKernelSet*> g_kernels{nullptr};

// The tables are built before a set is chosen, and the set is published with release and read
// with acquire: a thread taking a set another thread chose then sees the tables too.
const ResampleKernelSet& Kernels() {
    const ResampleKernelSet* set = g_kernels.load(std::memory_order_acquire);
    if (set) return *set;
    BuildGammaTables();
    set = Avx512ResampleKernels();
    if (!set) set = Avx2ResampleKernels();
    if (!set) set = &PortableResampleKernels();
    g_kernels.store(set, std::memory_order_release);
    return *set;
}

// Output byte order: the display is always B, G, R.
OutputRow MakeOutput(const ResampleJob& job, int32_t j) {
    OutputRow o;
    o.out = job.display + static_cast<size_t>(j) * static_cast<size_t>(job.displayStride);
    o.bytesPerPixel = job.bytesPerPixel;
    o.c0 = job.rgbOrder ? 2 : 0;
    o.c2 = job.rgbOrder ? 0 : 2;
    return o;
}

// The windowed-sinc taps of every display position along one axis, flattened: position i owns
// weights start[i] .. start[i + 1] - 1, for the pixels from first[i] on.
struct SincTaps {
    std::vector<int32_t> start;
    std::vector<int32_t> first;
    std::vector<float> weight;
};

SincTaps SincWindows(int32_t sourceSize, int32_t displaySize) {
    SincTaps taps;
    taps.start.reserve(static_cast<size_t>(displaySize) + 1);
    taps.first.reserve(static_cast<size_t>(displaySize));
    taps.weight.reserve(static_cast<size_t>(displaySize) * 5);
    for (int32_t i = 0; i < displaySize; ++i) {
        taps.start.push_back(static_cast<int32_t>(taps.weight.size()));
        const float c = (static_cast<float>(i) + 0.5f) * static_cast<float>(sourceSize) /
                        static_cast<float>(displaySize);
        const int32_t first = std::max(0, static_cast<int32_t>(c - kLobes));
        const int32_t end = std::min(sourceSize, static_cast<int32_t>(std::ceil(c + kLobes)));
        const float d = static_cast<float>(first) + 0.5f - c;
        const size_t from = taps.weight.size();
        taps.first.push_back(first);
        float sum = 0.0f;
        for (int32_t t = 0; t < end - first; ++t) {
            const float x = (static_cast<float>(t) + d) / kStretch;
            float w = 1.0f;
            if (x != 0.0f) {
                const float px = kPi * x;
                w = static_cast<float>(kLobes * std::sin(static_cast<double>(px)) *
                                       std::sin(static_cast<double>(px / kLobes)) /
                                       static_cast<double>(px * px));
            }
            taps.weight.push_back(w);
            sum += w;
        }
        for (size_t e = from; e < taps.weight.size(); ++e) taps.weight[e] /= sum;
    }
    taps.start.push_back(static_cast<int32_t>(taps.weight.size()));
    return taps;
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

// Source rows in linear light, converted once each. The box path asks for rows in rising order,
// in runs of consecutive rows no longer than the ring, and a display row shares at most its
// first row with the previous one; so a ring one longer than a run keeps every row a run needs
// and the row before it. Streaming, each row is converted as it arrives, into the same ring.
class LinearRows {
public:
    LinearRows(const ResampleJob& job, const ResampleKernelSet& kernels, const PairedTaps& columns,
               int32_t ring)
        : job_(job),
          kernels_(kernels),
          columns_(columns),
          stride_(static_cast<size_t>(columns.rowLength)),
          rows_(static_cast<size_t>(ring), -1),
          buffer_(stride_ * static_cast<size_t>(ring), 0.0f) {
        // One spare byte: a reader may write four bytes for the last three-byte pixel.
        if (job.streaming)
            pipe_ = std::make_unique<CRowPipe>(job.lines, job.sourceHeight,
                                               static_cast<size_t>(job.sourceStride) + 1);
    }

    const float* Get(int32_t r) {
        if (job_.streaming) {
            while (*job_.currentLine < r) Convert(++*job_.currentLine, pipe_->Next());
            // A row asked for again after the ring has moved on (only rows of absurd heights
            // skip back so far) is read as the latest one.
            if (rows_[Slot(r)] != r) r = *job_.currentLine;
        } else if (rows_[Slot(r)] != r) {
            // Rows resampled again from memory come from far away: the next one is fetched
            // while this one is converted.
            if (r + 1 < job_.sourceHeight) {
                const uint8_t* next = SourceRow(job_, r + 1);
                const size_t bytes = static_cast<size_t>(job_.sourceWidth) * job_.bytesPerPixel;
                for (size_t at = 0; at < bytes; at += 64) __builtin_prefetch(next + at);
            }
            Convert(r, SourceRow(job_, r));
        }
        return buffer_.data() + Slot(r) * stride_;
    }

private:
    size_t Slot(int32_t r) const { return static_cast<size_t>(r) % rows_.size(); }

    void Convert(int32_t r, const uint8_t* bytes) {
        float* row = buffer_.data() + Slot(r) * stride_;
        kernels_.toLinear(bytes, row, job_.sourceWidth * job_.bytesPerPixel);
        columns_.PadRow(row, job_.sourceWidth);
        rows_[Slot(r)] = r;
    }

    const ResampleJob& job_;
    const ResampleKernelSet& kernels_;
    const PairedTaps& columns_;
    size_t stride_;
    std::vector<int32_t> rows_;
    std::vector<float> buffer_;
    std::unique_ptr<CRowPipe> pipe_;  // streaming: the rows, read ahead on a thread of their own
};

// One step of the box path's edge walk: the next integer boundary after c. Past 2^24 a float
// has no room for c + 1 and the walk would stand still; it then jumps to the end instead.
inline float NextEdge(float c, float end) {
    const float next = std::floor(c + 1.0f);
    return next > c ? next : end;
}

bool BoxPath(const ResampleJob& job) {
    const int32_t sw = job.sourceWidth, sh = job.sourceHeight;
    const int32_t dw = job.displayWidth, dh = job.displayHeight;
    const int p = job.bytesPerPixel;
    const ResampleKernelSet& kernels = Kernels();

    const float rx = static_cast<float>(sw) / static_cast<float>(dw);
    const float ry = static_cast<float>(sh) / static_cast<float>(dh);
    const float k = 1.0f / (rx * ry);
    const int32_t wH = static_cast<int32_t>(std::ceil(static_cast<double>(ry) + 1.0));

    // Column taps, computed once. The right edge, summed up column by column, can come out a
    // hair beyond the last pixel; such a tap reads the last pixel (not the row's padding).
    // Taps are consecutive pixels from the first one.
    std::vector<int32_t> start, firstPixel;
    std::vector<float> weight;
    start.reserve(static_cast<size_t>(dw) + 1);
    firstPixel.reserve(static_cast<size_t>(dw));
    float x0 = 0.0f, x1 = rx;
    for (int32_t i = 0; i < dw; ++i) {
        start.push_back(static_cast<int32_t>(weight.size()));
        firstPixel.push_back(std::min(static_cast<int32_t>(x0), sw - 1));
        for (float c = x0; c < x1; c = NextEdge(c, x1))
            weight.push_back((x1 - c <= 1.0f) ? x1 - c : std::floor(c + 1.0f) - c);
        x0 = x1;
        x1 = x1 + rx;
    }
    start.push_back(static_cast<int32_t>(weight.size()));
    PairedTaps columns;
    columns.Build(start, firstPixel, weight, p, sw);
    start = {}, firstPixel = {}, weight = {};

    // Row taps go to the kernel in runs of up to kRun, each sum staying in a register for the
    // run; the ring keeps a run's rows and the one before.
    constexpr int32_t kRun = 8;
    LinearRows rows(job, kernels, columns, std::min(wH, kRun) + 1);
    std::vector<float> sums(static_cast<size_t>(columns.pairs) * 8);
    const float* runRows[kRun];
    float runWeights[kRun];
    for (int32_t j = 0; j < dh; ++j) {
        const float y0 = static_cast<float>(j) * ry;
        const int32_t base = static_cast<int32_t>(y0);
        const float y1 = static_cast<float>(j + 1) * ry;
        // The window of wH rows starting at base. Streaming reads each row only when a tap
        // needs it, since the ring may be shorter than the window.
        if (!job.streaming) ReadRowsUpTo(job, base + (wH - 1));

        std::fill(sums.begin(), sums.end(), 0.0f);
        int32_t run = 0;
        const float e = y1 - static_cast<float>(base);
        for (float c = y0 - static_cast<float>(base); c < e; c = NextEdge(c, e)) {
            // Rounding of the row edges can put the last tap one row past the picture (or, for
            // absurd heights, past the window): it reads the last row there.
            const int32_t slot = std::min(static_cast<int32_t>(c), wH - 1);
            runRows[run] = rows.Get(std::min(base + slot, sh - 1));
            runWeights[run] = (e - c <= 1.0f) ? e - c : std::floor(c + 1.0f) - c;
            if (++run == kRun) {
                kernels.boxAccumulate(columns, runRows, runWeights, run, sums.data());
                run = 0;
            }
        }
        if (run > 0) kernels.boxAccumulate(columns, runRows, runWeights, run, sums.data());
        kernels.boxOutput(sums.data(), dw, k, MakeOutput(job, j));
        if (job.hook && job.hook->AfterRow(j)) return true;
    }
    return false;
}

bool SincPath(const ResampleJob& job) {
    const int32_t dw = job.displayWidth, dh = job.displayHeight;
    const int p = job.bytesPerPixel;
    const ResampleKernelSet& kernels = Kernels();

    const SincTaps columnTaps = SincWindows(job.sourceWidth, dw);
    PairedTaps columns;
    columns.Build(columnTaps.start, columnTaps.first, columnTaps.weight, p, job.sourceWidth);
    const SincTaps rowTaps = SincWindows(job.sourceHeight, dh);

    // The horizontal sums of each source row are the same for every display row whose window
    // holds that row, so they are made once and kept while the window covers the row. Windows
    // only move down, and no window is longer than the ring.
    int32_t ring = 1;
    for (int32_t j = 0; j < dh; ++j) ring = std::max(ring, rowTaps.start[j + 1] - rowTaps.start[j]);
    const size_t sumsPerRow = static_cast<size_t>(columns.pairs) * 8;
    std::vector<float> sums(sumsPerRow * static_cast<size_t>(ring), 0.0f);
    std::vector<float> linear(static_cast<size_t>(columns.rowLength), 0.0f);
    std::vector<const float*> rowSums(static_cast<size_t>(ring));
    int32_t summedUpTo = -1;  // the last source row whose sums are in the ring

    for (int32_t j = 0; j < dh; ++j) {
        const int32_t begin = rowTaps.start[j], end = rowTaps.start[j + 1];
        const int32_t firstRow = rowTaps.first[j], lastRow = firstRow + (end - begin) - 1;
        ReadRowsUpTo(job, lastRow);
        for (int32_t r = std::max(firstRow, summedUpTo + 1); r <= lastRow; ++r) {
            kernels.toLinear(SourceRow(job, r), linear.data(), job.sourceWidth * p);
            columns.PadRow(linear.data(), job.sourceWidth);
            kernels.sincHorizontal(columns, linear.data(), sums.data() + (r % ring) * sumsPerRow);
        }
        summedUpTo = std::max(summedUpTo, lastRow);
        for (int32_t t = begin; t < end; ++t)
            rowSums[t - begin] = sums.data() + ((firstRow + t - begin) % ring) * sumsPerRow;
        kernels.sincVertical(rowSums.data(), rowTaps.weight.data() + begin, end - begin, dw,
                             MakeOutput(job, j));
        if (job.hook && job.hook->AfterRow(j)) return true;
    }
    return false;
}

}  // namespace

bool UseResampleKernels(ResampleKernels kernels) {
    const ResampleKernelSet* set = kernels == ResampleKernels::kAvx512 ? Avx512ResampleKernels()
                                   : kernels == ResampleKernels::kAvx2 ? Avx2ResampleKernels()
                                                                       : &PortableResampleKernels();
    if (!set) return false;
    g_kernels.store(set, std::memory_order_relaxed);
    return true;
}

ResampleKernels ActiveResampleKernels() {
    const ResampleKernelSet* set = &Kernels();
    if (set == &PortableResampleKernels()) return ResampleKernels::kPortable;
    return set == Avx2ResampleKernels() ? ResampleKernels::kAvx2 : ResampleKernels::kAvx512;
}

// Both paths end on allocation failure and say so in the job: the display holds only the rows
// written before, which the loader must not pass off as the picture.
bool RunSincPath(const ResampleJob& job) {
    job.outOfMemory = false;
    if (job.displayWidth <= 0 || job.displayHeight <= 0 || job.sourceWidth <= 0 ||
        job.sourceHeight <= 0)
        return false;
    try {
        return SincPath(job);
    } catch (const std::bad_alloc&) {
        job.outOfMemory = true;
        return false;
    }
}

bool RunDirectPath(const ResampleJob& job) {
    if (!job.source) return false;
    for (int32_t r = 0; r < job.displayHeight; ++r) {
        uint8_t* row = SourceRow(job, r);
        if (job.fromReader) {
            *job.currentLine = r;
            job.lines->NextLine(&row);
            if (job.rgbOrder) Kernels().swapRedBlue(row, job.displayWidth);
        } else {
            job.lines->NextLine(&row);
        }
        if (job.hook && job.hook->AfterRow(r)) return true;
    }
    return false;
}

bool RunBoxPath(const ResampleJob& job) {
    job.outOfMemory = false;
    if (job.displayWidth <= 0 || job.displayHeight <= 0 || job.sourceWidth <= 0 ||
        job.sourceHeight <= 0)
        return false;
    try {
        return BoxPath(job);
    } catch (const std::bad_alloc&) {
        job.outOfMemory = true;
        return false;
    }
}
