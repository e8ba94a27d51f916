#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/reader.h"

// JPEG XL files (bare code streams and the container) through libjxl. OpenFile reads the header
// on the calling thread; from the first row on, a decode thread of its own feeds the file to
// the decoder a chunk at a time and takes its pixels through the decoder's callback, and a row
// is delivered once every pixel of it has come. libjxl 0.7 renders a frame only once all of it
// has been read, so rows then come together; a library that renders finished groups early
// paints in bands. Rows come as 8-bit B, G, R, or B, G, R, A with alpha (straight, never
// blended); deeper samples are rounded to 8 bits by the library. An animation shows its first
// frame, composed. A file that ends early shows what its passes so far give.
//
// Colour: a picture stored in the codec's own colour space is asked for in sRGB; one kept in
// its original colour space that is not sRGB is converted with Little CMS from the profile the
// decoder reports.
//
// The library cannot be interrupted inside one step (its thread-pool errors abort the process),
// and one step of a small file can be its whole decode, so NextLine waits for the decode thread
// while asking decodeStopped. A decode that is left ends after its current step and frees its
// memory then; a few at most run at once, later ones wait for their place. The decoder's memory
// comes through a budget sized from the declared picture (libjxl 0.7 allocates little through
// it; the declared size is refused first, against the cap and the file's size).
struct JxlDecodeJob;

// Tests: called on the decode thread before the decode, to hold it there.
void SetJxlDecodeHook(void (*hook)());
// Decodes that have not ended yet, left ones included.
int JxlDecodesRunning();

class CJxlReader : public CImageReader {
public:
    explicit CJxlReader(std::string path);
    ~CJxlReader() override;

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

    // Read from the file per step of the decoder (more when the decoder needs a longer piece).
    static constexpr size_t kChunk = 64 * 1024;
    // Files this large are decoded on a pool of up to kMaxThreads threads (libjxl's own): their
    // pictures are large enough to gain from it; small ones would only pay for starting them.
    static constexpr int64_t kThreadedFileBytes = 128 * 1024;
    static constexpr unsigned kMaxThreads = 4;
    // Pictures up to this many pixels are taken from any file: a plain picture may well be
    // stored in a few dozen bytes.
    static constexpr int64_t kFreePixels = int64_t{1} << 24;
    // Larger ones declaring more pixels per byte of file than this are refused.
    static constexpr int64_t kMaxPixelsPerByte = 1024;
    // The decoder's memory: this much before the size is known and beside the per-pixel share.
    static constexpr size_t kBaseBudget = size_t{64} << 20;
    static constexpr size_t kBudgetPerPixel = 48;

    // What the decoder has asked of its budget at most; read before the first row.
    size_t PeakDecoderMemory() const;

private:
    // Waits until row `row` is whole, the decode has ended or the load is stopped.
    bool WaitForRow(int32_t row);
    void Leave();

    std::shared_ptr<JxlDecodeJob> job_;
    bool started_ = false;
    bool ended_ = false;
    void* transform_ = nullptr;  // Little CMS transform to sRGB, or none
    int32_t width_ = 0;
    int32_t height_ = 0;
    int bytesPerPixel_ = 3;
};
