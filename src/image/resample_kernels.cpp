#include "image/resample_kernels.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "image/resample.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMORA_HAVE_AVX2_KERNELS 1
#endif

void PairedTaps::Build(const std::vector<int32_t>& start, const std::vector<int32_t>& firstPixel,
                       const std::vector<float>& weight, int bytesPerPixel, int32_t rowPixels) {
    columns = static_cast<int32_t>(start.size()) - 1;
    pairs = (columns + 1) / 2;
    step = bytesPerPixel;
    first.assign(static_cast<size_t>(pairs) + 1, 0);
    origin.assign(static_cast<size_t>(pairs) * 2, 0);
    size_t records = 0;
    int64_t reach = static_cast<int64_t>(rowPixels) * step + 1;
    // The same count for every pair lets a kernel unroll its taps; counts that alternate
    // irregularly between two values would also mispredict the loop's end every few pairs.
    taps = 0;
    for (int32_t c = 0; c < columns; ++c) taps = std::max(taps, start[c + 1] - start[c]);
    const int32_t count = taps;
    for (int32_t p = 0; p < pairs; ++p) {
        first[static_cast<size_t>(p)] = static_cast<int32_t>(records);
        const int32_t a = 2 * p, b = std::min(2 * p + 1, columns - 1);
        records += static_cast<size_t>(count);
        for (int half = 0; half < 2; ++half) {
            const int32_t c = half ? b : a;
            origin[static_cast<size_t>(p) * 2 + half] = firstPixel[c] * step;
            // Four samples are read at each tap, the last one count - 1 pixels on.
            reach = std::max(reach, (static_cast<int64_t>(firstPixel[c]) + count) * step + 4);
        }
    }
    first[static_cast<size_t>(pairs)] = static_cast<int32_t>(records);
    rowLength = static_cast<int32_t>(reach);
    weights.assign(records * 8, 0.0f);
    for (int32_t p = 0; p < pairs; ++p) {
        const int32_t count = first[p + 1] - first[p];
        for (int half = 0; half < 2; ++half) {
            const int32_t c = 2 * p + half;
            if (c >= columns) continue;  // a missing odd column (odd width) keeps zero weights
            const int32_t n = start[c + 1] - start[c];
            for (int32_t t = 0; t < std::min(count, n); ++t)
                for (int lane = 0; lane < 4; ++lane)
                    weights[static_cast<size_t>(first[p] + t) * 8 + half * 4 + lane] =
                        weight[static_cast<size_t>(start[c] + t)];
        }
    }
}

void PairedTaps::PadRow(float* row, int32_t rowPixels) const {
    for (int32_t i = rowPixels * step; i < rowLength; ++i) row[i] = row[i - step];
}

namespace {

// The limits below are written as the vector instructions compare (a NaN takes the second
// operand), so every kernel set treats even absurd sums alike.
inline float AtLeast(float x, float low) {
    return x > low ? x : low;
}
inline float AtMost(float x, float high) {
    return x < high ? x : high;
}

inline uint8_t BoxOutput(float sum, float k) {
    // Sums stay within [0, 1.0001] for real pictures; the limits only keep absurd ones in the
    // table.
    const float x = AtMost(AtLeast(sum * k * 200000.0f, 0.0f), float(kOutputGammaSize - 1));
    return g_outputGamma[static_cast<int32_t>(x)];
}

inline uint8_t SincOutput(float sum) {
    const float a = AtLeast(AtMost(sum, 1.0f), 0.0f);
    return g_outputGamma[static_cast<int32_t>(a * 200000.0f)];
}

inline void Put(const OutputRow& o, int32_t column, uint8_t b0, uint8_t b1, uint8_t b2) {
    uint8_t* dst = o.out + static_cast<size_t>(column) * o.bytesPerPixel;
    dst[o.c0] = b0;
    dst[1] = b1;
    dst[o.c2] = b2;
}

void SwapRedBluePortable(uint8_t* row, int32_t n) {
    for (int32_t x = 0; x < n; ++x, row += 3) std::swap(row[0], row[2]);
}

void ToLinearPortable(const uint8_t* in, float* out, int32_t n) {
    for (int32_t i = 0; i < n; ++i) out[i] = g_linearLight[in[i]];
}

// The B, G, R and spare samples of one pixel as one value of four lanes: the compiler's vector
// extension, which every target maps to its own four-lane instructions (or to scalar code).
// Each lane does exactly the scalar operations; no lanes are combined.
typedef float Lanes __attribute__((vector_size(16)));

inline Lanes LoadLanes(const float* at) {
    Lanes v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

inline void StoreLanes(float* at, Lanes v) {
    std::memcpy(at, &v, sizeof v);
}

void BoxAccumulatePortable(const PairedTaps& cols, const float* const* rows,
                           const float* rowWeights, int32_t rowCount, float* sums) {
    for (int32_t i = 0; i < cols.columns; ++i) {
        const int32_t pair = i / 2, half = i % 2;
        Lanes acc = LoadLanes(sums + static_cast<size_t>(i) * 4);
        for (int32_t r = 0; r < rowCount; ++r) {
            const float wv = rowWeights[r];
            const float* s = rows[r] + cols.origin[static_cast<size_t>(pair) * 2 + half];
            for (int32_t rec = cols.first[pair]; rec < cols.first[pair + 1];
                 ++rec, s += cols.step) {
                const float w = cols.weights[static_cast<size_t>(rec) * 8 + half * 4] * wv;
                acc += LoadLanes(s) * w;
            }
        }
        StoreLanes(sums + static_cast<size_t>(i) * 4, acc);
    }
}

void BoxOutputPortable(const float* sums, int32_t columns, float k, const OutputRow& output) {
    for (int32_t i = 0; i < columns; ++i) {
        const float* a = sums + static_cast<size_t>(i) * 4;
        Put(output, i, BoxOutput(a[0], k), BoxOutput(a[1], k), BoxOutput(a[2], k));
    }
}

void SincHorizontalPortable(const PairedTaps& cols, const float* row, float* sums) {
    for (int32_t i = 0; i < cols.columns; ++i) {
        const int32_t pair = i / 2, half = i % 2;
        Lanes h = {0.0f, 0.0f, 0.0f, 0.0f};
        const float* s = row + cols.origin[static_cast<size_t>(pair) * 2 + half];
        for (int32_t rec = cols.first[pair]; rec < cols.first[pair + 1]; ++rec, s += cols.step)
            h += LoadLanes(s) * cols.weights[static_cast<size_t>(rec) * 8 + half * 4];
        StoreLanes(sums + static_cast<size_t>(i) * 4, h);
    }
}

void SincVerticalPortable(const float* const* sums, const float* weights, int32_t rowCount,
                          int32_t columns, const OutputRow& output) {
    for (int32_t i = 0; i < columns; ++i) {
        float acc[3] = {0.0f, 0.0f, 0.0f};
        for (int32_t r = 0; r < rowCount; ++r)
            for (int ch = 0; ch < 3; ++ch) acc[ch] += sums[r][i * 4 + ch] * weights[r];
        Put(output, i, SincOutput(acc[0]), SincOutput(acc[1]), SincOutput(acc[2]));
    }
}

#if defined(LUMORA_HAVE_AVX2_KERNELS)

// For 16 pixels in three 16-byte chunks: which byte of source chunk c lands in each byte of
// output chunk k (-1: none), so that output = OR over c of shuffle(chunk c, mask k c).
struct SwapMasks {
    int8_t mask[3][3][16];
    constexpr SwapMasks() : mask() {
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 16; ++i) {
                const int at = 16 * k + i;
                const int from = 3 * (at / 3) + (2 - at % 3);
                for (int c = 0; c < 3; ++c)
                    mask[k][c][i] = static_cast<int8_t>(from / 16 == c ? from % 16 : -1);
            }
    }
};
constexpr SwapMasks kSwapMasks;

__attribute__((target("avx2"))) void SwapRedBlueAvx2(uint8_t* row, int32_t n) {
    // Whole 48-byte blocks read before they are written, so no load waits on a store.
    __m128i m[3][3];
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c)
            m[k][c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSwapMasks.mask[k][c]));
    int32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i* at = reinterpret_cast<__m128i*>(row + static_cast<size_t>(x) * 3);
        const __m128i in[3] = {_mm_loadu_si128(at), _mm_loadu_si128(at + 1),
                               _mm_loadu_si128(at + 2)};
        for (int k = 0; k < 3; ++k) {
            __m128i out = _mm_shuffle_epi8(in[0], m[k][0]);
            out = _mm_or_si128(out, _mm_shuffle_epi8(in[1], m[k][1]));
            out = _mm_or_si128(out, _mm_shuffle_epi8(in[2], m[k][2]));
            _mm_storeu_si128(at + k, out);
        }
    }
    SwapRedBluePortable(row + static_cast<size_t>(x) * 3, n - x);
}

__attribute__((target("avx2"))) void ToLinearAvx2(const uint8_t* in, float* out, int32_t n) {
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m256i lo = _mm256_cvtepu8_epi32(bytes);
        const __m256i hi = _mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8));
        _mm256_storeu_ps(out + i, _mm256_i32gather_ps(g_linearLight, lo, 4));
        _mm256_storeu_ps(out + i + 8, _mm256_i32gather_ps(g_linearLight, hi, 4));
    }
    for (; i < n; ++i) out[i] = g_linearLight[in[i]];
}

// The linear-light table split into its four byte planes, for ToLinearAvx512: plane k holds
// byte k of every entry.
struct LinearPlanes {
    alignas(64) uint8_t plane[4][256];
    // The in-lane unpacks give output vector r, lane l, the samples at l x 16 + r x 4 + 0..3;
    // the input is first permuted so those are samples r x 16 + l x 4 + 0..3.
    alignas(64) uint8_t order[64];
};

LinearPlanes MakeLinearPlanes() {
    LinearPlanes p;
    for (int v = 0; v < 256; ++v) {
        uint32_t bits;
        std::memcpy(&bits, &g_linearLight[v], sizeof bits);
        for (int k = 0; k < 4; ++k) p.plane[k][v] = static_cast<uint8_t>(bits >> (8 * k));
    }
    for (int r = 0; r < 4; ++r)
        for (int l = 0; l < 4; ++l)
            for (int q = 0; q < 4; ++q)
                p.order[l * 16 + r * 4 + q] = static_cast<uint8_t>(r * 16 + l * 4 + q);
    return p;
}

// Gathers are slow on some processors (on Zen 4 this conversion took a tenth of a batch resize).
// Byte permutes look up 64 samples at once instead: each of the four bytes of the entries comes
// from a 256-byte plane (two 128-byte permutes, chosen by the sample's top bit), and unpacking
// puts the bytes together into floats: exactly the table's entries.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ToLinearAvx512(const uint8_t* in,
                                                                           float* out, int32_t n) {
    static const LinearPlanes planes = MakeLinearPlanes();
    __m512i quarter[4][4];
    for (int k = 0; k < 4; ++k)
        for (int q = 0; q < 4; ++q) quarter[k][q] = _mm512_load_si512(planes.plane[k] + 64 * q);
    const __m512i permute = _mm512_load_si512(planes.order);
    int32_t i = 0;
    for (; i + 64 <= n; i += 64) {
        // (The zero-masked form: the plain one trips GCC 12's uninitialized warning.)
        const __m512i x =
            _mm512_maskz_permutexvar_epi8(~__mmask64{0}, permute, _mm512_loadu_si512(in + i));
        const __mmask64 top = _mm512_movepi8_mask(x);
        __m512i b[4];
        for (int k = 0; k < 4; ++k)
            b[k] = _mm512_mask_blend_epi8(
                top, _mm512_permutex2var_epi8(quarter[k][0], x, quarter[k][1]),
                _mm512_permutex2var_epi8(quarter[k][2], x, quarter[k][3]));
        const __m512i low01 = _mm512_unpacklo_epi8(b[0], b[1]),
                      high01 = _mm512_unpackhi_epi8(b[0], b[1]);
        const __m512i low23 = _mm512_unpacklo_epi8(b[2], b[3]),
                      high23 = _mm512_unpackhi_epi8(b[2], b[3]);
        _mm512_storeu_si512(out + i, _mm512_unpacklo_epi16(low01, low23));
        _mm512_storeu_si512(out + i + 16, _mm512_unpackhi_epi16(low01, low23));
        _mm512_storeu_si512(out + i + 32, _mm512_unpacklo_epi16(high01, high23));
        _mm512_storeu_si512(out + i + 48, _mm512_unpackhi_epi16(high01, high23));
    }
    for (; i < n; ++i) out[i] = g_linearLight[in[i]];
}

// The B, G, R, spare samples of a pixel of each column.
__attribute__((target("avx2"))) inline __m256 LoadPair(const float* even, const float* odd) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(even)), _mm_loadu_ps(odd), 1);
}

// The same sums with the tap count and pixel step fixed: the taps unrolled, their offsets
// constants, and no loop bookkeeping between a pair's taps.
template <int kTaps, int kStep>
__attribute__((target("avx2"))) void BoxAccumulateFixedAvx2(const PairedTaps& cols,
                                                            const float* const* rows,
                                                            const float* rowWeights,
                                                            int32_t rowCount, float* sums) {
    const float* w = cols.weights.data();
    for (int32_t p = 0; p < cols.pairs; ++p, w += kTaps * 8) {
        float* at = sums + static_cast<size_t>(p) * 8;
        const int32_t even = cols.origin[p * 2], odd = cols.origin[p * 2 + 1];
        __m256 acc = _mm256_loadu_ps(at);
        for (int32_t r = 0; r < rowCount; ++r) {
            const float* a = rows[r] + even;
            const float* b = rows[r] + odd;
            const __m256 wv = _mm256_set1_ps(rowWeights[r]);
#pragma GCC unroll 16
            for (int t = 0; t < kTaps; ++t)
                acc = _mm256_add_ps(acc,
                                    _mm256_mul_ps(LoadPair(a + t * kStep, b + t * kStep),
                                                  _mm256_mul_ps(_mm256_loadu_ps(w + t * 8), wv)));
        }
        _mm256_storeu_ps(at, acc);
    }
}

using BoxAccumulateFunction = void (*)(const PairedTaps&, const float* const*, const float*,
                                       int32_t, float*);

template <int... kTaps>
constexpr std::array<BoxAccumulateFunction, 2 * sizeof...(kTaps)> FixedBoxKernels(
    std::integer_sequence<int, kTaps...>) {
    return {BoxAccumulateFixedAvx2<kTaps + 1, 3>..., BoxAccumulateFixedAvx2<kTaps + 1, 4>...};
}

// Tap counts up to this get a kernel of their own: reductions up to about 7 : 1 each way.
constexpr int kFixedTaps = 8;
constexpr auto kFixedBoxKernels = FixedBoxKernels(std::make_integer_sequence<int, kFixedTaps>());

__attribute__((target("avx2"))) void BoxAccumulateAvx2(const PairedTaps& cols,
                                                       const float* const* rows,
                                                       const float* rowWeights, int32_t rowCount,
                                                       float* sums) {
    if (cols.taps >= 1 && cols.taps <= kFixedTaps && (cols.step == 3 || cols.step == 4)) {
        kFixedBoxKernels[static_cast<size_t>((cols.step - 3) * kFixedTaps + cols.taps - 1)](
            cols, rows, rowWeights, rowCount, sums);
        return;
    }
    const float* weights = cols.weights.data();
    const int32_t step = cols.step;
    for (int32_t p = 0; p < cols.pairs; ++p) {
        float* at = sums + static_cast<size_t>(p) * 8;
        const int32_t begin = cols.first[p], count = cols.first[p + 1] - begin;
        const int32_t even = cols.origin[p * 2], odd = cols.origin[p * 2 + 1];
        __m256 acc = _mm256_loadu_ps(at);
        for (int32_t r = 0; r < rowCount; ++r) {
            const float* a = rows[r] + even;
            const float* b = rows[r] + odd;
            const float* w = weights + static_cast<size_t>(begin) * 8;
            const __m256 wv = _mm256_set1_ps(rowWeights[r]);
            for (int32_t t = 0; t < count; ++t, a += step, b += step, w += 8)
                acc = _mm256_add_ps(
                    acc, _mm256_mul_ps(LoadPair(a, b), _mm256_mul_ps(_mm256_loadu_ps(w), wv)));
        }
        _mm256_storeu_ps(at, acc);
    }
}

// Writes display pixels column .. column + 7 from the output table indices of their samples,
// given as four vectors of two columns each (B, G, R and an ignored fourth lane). Only the
// three filtered bytes of each pixel change. The caller leaves room for the 32 bytes written at
// four bytes per pixel, or the 28 written at three.
__attribute__((target("avx2"))) inline void PutEight(const OutputRow& o, int32_t column,
                                                     const __m256i index[4]) {
    const int* table = reinterpret_cast<const int*>(g_outputGamma);
    const __m256i low = _mm256_set1_epi32(0xFF);
    __m256i g[4];
    for (int k = 0; k < 4; ++k)
        g[k] = _mm256_and_si256(_mm256_i32gather_epi32(table, index[k], 1), low);
    // Packed, columns 0 2 4 6 sit in the low lane and 1 3 5 7 in the high one; then in order.
    const __m256i bytes = _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(_mm256_packus_epi32(g[0], g[1]), _mm256_packus_epi32(g[2], g[3])),
        _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    // Sample 0 of a pixel goes to byte c0, sample 2 to byte c2.
    const char b0 = static_cast<char>(o.c0), b2 = static_cast<char>(o.c2);
    uint8_t* dst = o.out + static_cast<size_t>(column) * o.bytesPerPixel;
    if (o.bytesPerPixel == 4) {
        const __m256i order = _mm256_setr_epi8(
            b0, 1, b2, -1, b0 + 4, 5, b2 + 4, -1, b0 + 8, 9, b2 + 8, -1, b0 + 12, 13, b2 + 12, -1,
            b0, 1, b2, -1, b0 + 4, 5, b2 + 4, -1, b0 + 8, 9, b2 + 8, -1, b0 + 12, 13, b2 + 12, -1);
        const __m256i fourth = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                            _mm256_blendv_epi8(_mm256_shuffle_epi8(bytes, order), old, fourth));
    } else {
        const __m256i order = _mm256_setr_epi8(
            b0, 1, b2, b0 + 4, 5, b2 + 4, b0 + 8, 9, b2 + 8, b0 + 12, 13, b2 + 12, -1, -1, -1, -1,
            b0, 1, b2, b0 + 4, 5, b2 + 4, b0 + 8, 9, b2 + 8, b0 + 12, 13, b2 + 12, -1, -1, -1, -1);
        const __m256i packed = _mm256_shuffle_epi8(bytes, order);
        // The first store's last four bytes are garbage until the second one covers them.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(packed));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 12), _mm256_extracti128_si256(packed, 1));
    }
}

// The columns from the left that PutEight may write, a multiple of eight.
inline int32_t VectorColumns(int32_t columns, int bytesPerPixel) {
    const int32_t room = bytesPerPixel == 4 ? columns : columns - 2;
    return room >= 8 ? room - room % 8 : 0;
}

__attribute__((target("avx2"))) void BoxOutputAvx2(const float* sums, int32_t columns, float k,
                                                   const OutputRow& output) {
    const __m256 scale = _mm256_set1_ps(k);
    const __m256 table = _mm256_set1_ps(200000.0f);
    // Entries from 200001 on are all 255, so a top of four below the end reads the same byte
    // and keeps the four-byte reads inside the table.
    const __m256 top = _mm256_set1_ps(float(kOutputGammaSize - 4));
    const int32_t vectorColumns = VectorColumns(columns, output.bytesPerPixel);
    for (int32_t i = 0; i < vectorColumns; i += 8) {
        __m256i index[4];
        for (int q = 0; q < 4; ++q) {
            const __m256 sum = _mm256_loadu_ps(sums + static_cast<size_t>(i + 2 * q) * 4);
            const __m256 x = _mm256_mul_ps(_mm256_mul_ps(sum, scale), table);
            index[q] =
                _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(x, _mm256_setzero_ps()), top));
        }
        PutEight(output, i, index);
    }
    for (int32_t i = vectorColumns; i < columns; ++i) {
        const float* a = sums + static_cast<size_t>(i) * 4;
        Put(output, i, BoxOutput(a[0], k), BoxOutput(a[1], k), BoxOutput(a[2], k));
    }
}

__attribute__((target("avx2"))) void SincHorizontalAvx2(const PairedTaps& cols, const float* row,
                                                        float* sums) {
    const int32_t step = cols.step;
    for (int32_t p = 0; p < cols.pairs; ++p) {
        const int32_t begin = cols.first[p], count = cols.first[p + 1] - begin;
        const float* a = row + cols.origin[p * 2];
        const float* b = row + cols.origin[p * 2 + 1];
        const float* w = cols.weights.data() + static_cast<size_t>(begin) * 8;
        __m256 h = _mm256_setzero_ps();
        for (int32_t t = 0; t < count; ++t, a += step, b += step, w += 8)
            h = _mm256_add_ps(h, _mm256_mul_ps(LoadPair(a, b), _mm256_loadu_ps(w)));
        _mm256_storeu_ps(sums + static_cast<size_t>(p) * 8, h);
    }
}

// The clamped vertical sums of two columns of a sinc display row.
__attribute__((target("avx2"))) inline __m256 SincSum(const float* const* sums,
                                                      const float* weights, int32_t rowCount,
                                                      int32_t column) {
    __m256 acc = _mm256_setzero_ps();
    for (int32_t r = 0; r < rowCount; ++r)
        acc = _mm256_add_ps(
            acc, _mm256_mul_ps(_mm256_loadu_ps(sums[r] + column * 4), _mm256_set1_ps(weights[r])));
    return _mm256_max_ps(_mm256_min_ps(acc, _mm256_set1_ps(1.0f)), _mm256_setzero_ps());
}

__attribute__((target("avx2"))) void SincVerticalAvx2(const float* const* sums,
                                                      const float* weights, int32_t rowCount,
                                                      int32_t columns, const OutputRow& output) {
    const __m256 table = _mm256_set1_ps(200000.0f);
    const int32_t vectorColumns = VectorColumns(columns, output.bytesPerPixel);
    for (int32_t i = 0; i < vectorColumns; i += 8) {
        __m256i index[4];
        for (int q = 0; q < 4; ++q)
            index[q] = _mm256_cvttps_epi32(
                _mm256_mul_ps(SincSum(sums, weights, rowCount, i + 2 * q), table));
        PutEight(output, i, index);
    }
    alignas(32) float tail[8];
    for (int32_t i = vectorColumns; i < columns; i += 2) {
        _mm256_store_ps(tail, SincSum(sums, weights, rowCount, i));
        Put(output, i, SincOutput(tail[0]), SincOutput(tail[1]), SincOutput(tail[2]));
        if (i + 1 < columns)
            Put(output, i + 1, SincOutput(tail[4]), SincOutput(tail[5]), SincOutput(tail[6]));
    }
}

#endif

}  // namespace

const ResampleKernelSet& PortableResampleKernels() {
    static const ResampleKernelSet set{SwapRedBluePortable,    ToLinearPortable,
                                       BoxAccumulatePortable,  BoxOutputPortable,
                                       SincHorizontalPortable, SincVerticalPortable};
    return set;
}

const ResampleKernelSet* Avx2ResampleKernels() {
#if defined(LUMORA_HAVE_AVX2_KERNELS)
    static const ResampleKernelSet set{SwapRedBlueAvx2, ToLinearAvx2,       BoxAccumulateAvx2,
                                       BoxOutputAvx2,   SincHorizontalAvx2, SincVerticalAvx2};
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported ? &set : nullptr;
#else
    return nullptr;
#endif
}

const ResampleKernelSet* Avx512ResampleKernels() {
#if defined(LUMORA_HAVE_AVX2_KERNELS)
    // The AVX2 set with the byte-permute conversion; the tables must exist before the planes
    // are made from them.
    static const bool supported = Avx2ResampleKernels() && __builtin_cpu_supports("avx512f") &&
                                  __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    if (!supported) return nullptr;
    BuildGammaTables();
    static const ResampleKernelSet set{SwapRedBlueAvx2, ToLinearAvx512,     BoxAccumulateAvx2,
                                       BoxOutputAvx2,   SincHorizontalAvx2, SincVerticalAvx2};
    return &set;
#else
    return nullptr;
#endif
}
