#pragma once

#include <jxl/decode.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "image/reader.h"
#include "platform/heap.h"

// JPEG XL files (bare code streams and the container) through libjxl. The file is fed to the
// decoder a chunk at a time as rows are asked for, and the decoder hands its pixels over through
// a callback; a row is delivered once every pixel of it has come. libjxl 0.7 renders a frame only
// once all of it has been read, so rows then come together; a newer library that renders
// finished groups early paints in bands. Rows come as 8-bit B, G, R, or B, G, R, A with alpha
// (straight, never blended); deeper samples are rounded to 8 bits by the library. An animation
// shows its first frame, composed. A file that ends early shows what its passes so far give.
//
// Colour: a picture stored in the codec's own colour space is asked for in sRGB; one kept in
// its original colour space that is not sRGB is converted with Little CMS from the profile the
// decoder reports.
//
// The decoder runs on the calling thread, and decodeStopped is asked before each chunk: the
// library cannot be interrupted inside one (its thread-pool errors abort the process). Its
// memory comes through a budget sized from the picture's declared size (libjxl 0.7 allocates
// little through it; the declared size is refused first, against the cap and the file's size).
class CJxlReader : public CImageReader {
public:
    explicit CJxlReader(std::string path);
    ~CJxlReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

    // Read from the file per step of the decoder (more when the decoder needs a longer piece).
    static constexpr size_t kChunk = 64 * 1024;
    // Pictures up to this many pixels are taken from any file: a plain picture may well be
    // stored in a few dozen bytes.
    static constexpr int64_t kFreePixels = int64_t{1} << 24;
    // Larger ones declaring more pixels per byte of file than this are refused.
    static constexpr int64_t kMaxPixelsPerByte = 1024;
    // The decoder's memory: this much before the size is known and beside the per-pixel share.
    static constexpr size_t kBaseBudget = size_t{64} << 20;
    static constexpr size_t kBudgetPerPixel = 48;

    // What the decoder has asked for, at most; for tests and the benchmark.
    size_t PeakDecoderMemory() const;

    // The decoder's allocations, counted against a cap.
    struct Budget {
        size_t cap = kBaseBudget;
        size_t used = 0;
        size_t peak = 0;
        bool refused = false;
    };

private:
    // One step of the decoder: more input, an output callback, or an event.
    bool Step();
    // Reads more of the file behind what the decoder has not consumed yet.
    bool Feed();
    // Runs the decoder until row `row` is complete, the file ends or the data fails.
    bool DecodeThrough(int32_t row);
    void AdvanceComplete();
    bool ReadHeader();
    // Asks for sRGB, or makes the transform to it from the profile of the decoded pixels.
    void ChooseColour(const JxlBasicInfo& info);
    bool SetOutput();
    void Fail(const std::string& reason);
    void Release();

    static void TakePixels(void* opaque, size_t x, size_t y, size_t count, const void* pixels);

    std::unique_ptr<Budget> budget_;
    FILE* file_ = nullptr;
    bool fileEnded_ = false;
    int64_t fileSize_ = 0;
    JxlDecoder* decoder_ = nullptr;
    std::vector<uint8_t> input_;  // the bytes given to the decoder, from the start of the vector
    size_t inputBytes_ = 0;
    bool inputSet_ = false;
    void* transform_ = nullptr;  // Little CMS transform to sRGB, or none
    std::unique_ptr<CPrivateHeap> heap_;
    uint8_t* picture_ = nullptr;    // rows of width x bytesPerPixel_, no padding, top row first
    std::vector<uint32_t> filled_;  // pixels delivered so far per row
    int32_t complete_ = 0;          // rows before this one have all their pixels
    bool finished_ = false;         // the first frame is whole
    bool broken_ = false;           // no more rows will come
    int32_t width_ = 0;
    int32_t height_ = 0;
    int bytesPerPixel_ = 3;
};
