#pragma once

#include <png.h>

#include <cstdio>

#include "image/reader.h"

// PNG files through libpng, which is asked for 8-bit B, G, R rows (B, G, R, A for files with an
// alpha channel, kept as it is, never blended), so the loader has nothing left to convert.
// Palettes and grey are expanded to 24 bits, 16-bit samples keep their high byte.
// Non-interlaced files are read one row per call; interlaced files whole on the first call.
// An eXIf orientation before the image data is applied (unless "ApplyOrientation" is 0): the
// header declares the upright picture, and transposed pictures come whole on the first call.
//
// Damage is treated as kMaxDecoderWarnings describes.
class CPngReader : public CImageReader {
public:
    explicit CPngReader(std::string path) : CImageReader(std::move(path)) {}
    ~CPngReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;
    // Not for interlaced pictures: their rows only come whole.
    int DeliverStoredRows() override;

    // Per side; the total is bounded by IsAcceptableImageSize.
    static constexpr uint32_t kMaxSide = 1u << 20;
    int warnings = 0;  // counted by the warning handler
    char message[96]{};  // the fatal error, as the library words it

private:
    bool ReadHeader();
    // For a transposing orientation: the whole upright picture into rows from `upright` on.
    void DecodeTransposed(uint8_t* upright);
    void DestroyStructures();
    bool Healthy(bool callSucceeded);
    // Records the library's fatal error (or too many warnings) and what the reader was doing.
    bool RefuseDamage(const std::string& where);

    FILE* file_ = nullptr;
    int32_t rowStride_ = 0;  // of the declared (upright) rows
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    int32_t width_ = 0;  // as stored
    int32_t height_ = 0;
    int bytesPerPixel_ = 3;
    bool interlaced_ = false;
    int orientation_ = 1;  // Exif numbering; 1 also when the setting turns it off
    bool storedRows_ = false;  // transposed, yet its rows go out as stored: the caller turns
    static constexpr int32_t kTransposeStrip = 16;
};
