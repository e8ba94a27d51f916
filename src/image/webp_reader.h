#pragma once

#include <webp/decode.h>

#include <cstdio>
#include <vector>

#include "image/reader.h"

// WebP files through libwebp. Still pictures are decoded incrementally as the file is read, so
// rows arrive while the rest of the file is still being read; they come as 8-bit B, G, R, or
// B, G, R, A for pictures with alpha (kept as it is, never blended). An animation shows its
// first frame, composed on its canvas, which comes whole on the first call. When the loader
// names the one buffer all rows go into (rowTarget), the library decodes straight into it, a few
// rows ahead of the row asked for; otherwise each row is copied out of the library's picture.
//
// A file that ends early keeps the rows decoded so far; damaged data ends the picture there.
class CWebpReader : public CImageReader {
public:
    explicit CWebpReader(std::string path) : CImageReader(std::move(path)) {}
    ~CWebpReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

    // Read from the file per step of the incremental decoder.
    static constexpr size_t kChunk = 16 * 1024;
    // Animated files are read whole; larger ones are refused.
    static constexpr long kMaxAnimatedFile = 256L << 20;
    // Lossy pictures, and animations larger than kFreeAnimationPixels, declaring more pixels per
    // byte of file than this are refused.
    static constexpr int64_t kMaxPixelsPerByte = 4096;
    static constexpr int64_t kFreeAnimationPixels = int64_t{1} << 24;
    // The picture's map is aligned to, and its pages are moved in, huge pages.
    static constexpr size_t kPageUnit = size_t{2} << 20;

private:
    // Makes the decoder, writing into rowTarget when the first row goes there.
    bool StartDecoder(const uint8_t* row);
    // Feeds the decoder until row `row` is decoded, the file ends or the data fails.
    bool DecodeThrough(int32_t row);
    bool OpenAnimation();
    // Maps the buffer of the whole picture the decoder writes into when rowTarget is not used.
    void MapPicture(size_t bytes);
    // Moves the pages of rows the row pipe's consumer is done with to where the decoder will
    // write next, so that the kernel need not clear fresh pages there.
    void RecyclePages();
    void Release();

    FILE* file_ = nullptr;
    WebPIDecoder* decoder_ = nullptr;
    WebPDecoderConfig config_{};
    bool configured_ = false;
    bool finished_ = false;  // the decoder has every row
    bool broken_ = false;    // no more rows will come
    bool inPlace_ = false;   // the decoder writes into rowTarget
    int decodedRows_ = 0;    // rows the decoder has finished

    uint8_t* mapped_ = nullptr;  // MapPicture's buffer, or null
    size_t mappedBytes_ = 0;
    void* mapBase_ = nullptr;  // the whole map, a little larger to align mapped_
    size_t mapLength_ = 0;
    // In units of kPageUnit from mapped_: the next unit to move away, and the next to fill.
    size_t nextGiven_ = 0;
    size_t nextFilled_ = 1;
    std::vector<uint8_t> chunk_;
    // The first frame of an animation, composed.
    std::vector<uint8_t> frame_;
    bool animated_ = false;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int bytesPerPixel_ = 3;
};
