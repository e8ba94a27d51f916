#pragma once

// The inner loops of the resampler, in a portable version and, where the processor has them,
// AVX2 versions chosen at run time. Every version performs the same single-precision
// operations in the same order on each sample, so all of them give identical bytes.

#include <cstdint>
#include <vector>

// Each display column's taps as weights of consecutive pixels from its first one, laid out two
// columns at a time so that one 8-lane vector holds the B, G, R (and spare) lanes of both.
// Tap t of a column reads the pixel t places after its first; a tap past a row's last pixel
// reads that last pixel again, which the rows provide by repeating it in their padding.
// Every pair has as many records as the longest column has taps; a column with fewer is padded
// with zero weights. The samples are finite and never negative, so a padded tap adds +0, which
// leaves a running sum unchanged: padding alters no result.
struct PairedTaps {
    int32_t columns = 0;
    int32_t pairs = 0;
    int32_t step = 3;            // samples from one pixel to the next
    int32_t rowLength = 0;       // samples a linear-light row must hold for the kernels to read
    int32_t taps = 0;            // records per pair, the same for every pair
    std::vector<int32_t> first;  // per pair: its first record; first[pairs] = record count
    std::vector<int32_t>
        origin;  // per pair: sample index of the even column's first pixel, the odd one's
    std::vector<float>
        weights;  // per record: the even column's weight 4 times, the odd one's 4 times

    // Builds the records from per-column lists given as flat arrays: column c owns entries
    // start[c] .. start[c + 1] - 1 of weight, its taps starting at pixel firstPixel[c].
    void Build(const std::vector<int32_t>& start, const std::vector<int32_t>& firstPixel,
               const std::vector<float>& weight, int bytesPerPixel, int32_t rowPixels);

    // Fills a linear-light row of rowPixels pixels out to rowLength by repeating its last pixel.
    void PadRow(float* row, int32_t rowPixels) const;
};

// Where the output bytes go: pixel i of the display row at out + i * bytesPerPixel, its first
// and third filtered channels at byte c0 and c2 (swapped for R, G, B sources).
struct OutputRow {
    uint8_t* out;
    int bytesPerPixel;
    int c0;
    int c2;
};

struct ResampleKernelSet {
    // Exchanges bytes 0 and 2 of each of the first n three-byte pixels.
    void (*swapRedBlue)(uint8_t* row, int32_t n);
    // out[i] = linear light of in[i], for n bytes.
    void (*toLinear)(const uint8_t* in, float* out, int32_t n);
    // The box path's sums hold 4 floats per column (B, G, R, spare), 8 per column pair.
    // Adds source row taps to them, row by row and within a row column tap by column tap:
    // sample x (column weight x row weight). Called for successive groups of a display row's
    // taps, this is the order in which each display pixel is summed.
    void (*boxAccumulate)(const PairedTaps& columns, const float* const* rows,
                          const float* rowWeights, int32_t rowCount, float* sums);
    // The output table at trunc(sum x k x 200000) for every sample of a display row.
    void (*boxOutput)(const float* sums, int32_t columns, float k, const OutputRow& output);
    // The sinc path's horizontal sums of one linear-light source row, laid out as above.
    void (*sincHorizontal)(const PairedTaps& columns, const float* row, float* sums);
    // One display row of the sinc path from the horizontal sums of its source rows.
    void (*sincVertical)(const float* const* sums, const float* weights, int32_t rowCount,
                         int32_t columns, const OutputRow& output);
};

const ResampleKernelSet& PortableResampleKernels();
// Null when the processor lacks AVX2.
const ResampleKernelSet* Avx2ResampleKernels();
// The AVX2 set with the conversion to linear light in AVX-512 byte permutes; null when the
// processor lacks AVX-512 VBMI.
const ResampleKernelSet* Avx512ResampleKernels();
