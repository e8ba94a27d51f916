#pragma once

#include <cstdint>
#include <vector>

#include "image/reader.h"
#include "image/rgb16.h"

// Windows bitmap files, read without a library. True-colour rows go straight from the file into
// the image; palette rows are expanded through the colour table to 32-bit pixels; 16-bit rows
// become 24-bit; 32-bit bit fields in any other layout than blue, green, red bytes are converted
// through their masks; run-length compressed files are decoded row by row.
class CBmpReader : public CImageReader {
public:
    explicit CBmpReader(std::string path) : CImageReader(std::move(path)) {}
    ~CBmpReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

    uint32_t fileRowStride() const { return fileRowStride_; }

private:
    bool ReadHeaders();
    bool ReadFully(uint64_t offset, void* into, size_t bytes) const;
    size_t ReadSome(uint64_t offset, void* into, size_t bytes) const;
    void ExpandPalette(const uint8_t* indices, size_t bytesRead, uint8_t* row) const;
    void Expand16(const uint8_t* words, size_t bytesRead, uint8_t* row) const;
    void Expand32(const uint8_t* words, size_t bytesRead, uint8_t* row) const;
    void DecodeRleRow(uint8_t* row);
    const uint8_t* PaletteEntry(uint32_t index) const;

    int fd_ = -1;
    uint64_t fileSize_ = 0;
    uint32_t fileRowStride_ = 0;
    int fileBitCount_ = 0;
    uint32_t compression_ = 0;
    uint32_t pixelDataOffset_ = 0;
    int32_t width_ = 0;
    int32_t rows_ = 0;  // rows delivered: the declared height, limited to what the file holds
    uint32_t naturalRowBytes_ = 0;

    Rgb16Layout layout16_ = Rgb16Layout::Rgb555();  // 16-bit files; bit fields replace it
    std::vector<uint8_t> palette_;            // 4-byte entries, blue green red reserved
    std::vector<uint8_t> rowBuffer_;

    // One channel of a 32-bit bit-field pixel, brought to 8 bits; an empty mask gives 0.
    struct MaskChannel {
        uint32_t mask = 0;
        int shift = 0;
        int width = 0;
        explicit MaskChannel(uint32_t m = 0);
        uint8_t From(uint32_t word) const { return ScaleTo8((word & mask) >> shift, width); }
    };
    bool masked32_ = false;      // 32-bit masks other than blue, green, red bytes
    MaskChannel channels32_[3];  // red, green, blue

    // Run-length state: where the stream is, and rows a delta escape skipped over. The stream
    // (rleDataBytes_ from the pixel data offset) is read a piece at a time into the window.
    bool RleHave(size_t count);
    const uint8_t* RleAt() const { return rleWindow_.data() + (rlePos_ - rleWindowStart_); }
    std::vector<uint8_t> rleWindow_;
    uint64_t rleWindowStart_ = 0;
    size_t rleWindowFill_ = 0;
    uint64_t rleDataBytes_ = 0;
    uint64_t rlePos_ = 0;
    int32_t rleSkipRows_ = 0;
    int32_t rleStartX_ = 0;
    bool rleEnded_ = false;
};
