#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "image/reader.h"

struct tiff;

// TIFF files through libtiff's RGBA interface, which turns every photometric interpretation,
// sample layout and bit depth the library knows into 8-bit pixels. Only the first directory (the
// first page) is read. The whole picture is decoded on the first NextLine call, bottom row first,
// as 32-bit pixels B, G, R and an opaque fourth byte; the file's alpha is not used. The file's
// orientation is applied (unless "ApplyOrientation" is 0): a transposed picture is declared
// top row first at its upright size.
class CTiffReader : public CImageReader {
public:
    explicit CTiffReader(std::string path) : CImageReader(std::move(path)) { allRowsAtOnce = true; }
    ~CTiffReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

private:
    void DecodeInto(uint8_t* firstRow);
    // Records the library's first error, or `otherwise` when it gave none.
    bool RefuseWithLibraryMessage(const char* otherwise);
    static int KeepError(tiff*, void* reader, const char* module, const char* format, va_list args);

    tiff* file_ = nullptr;
    // The library's first error message for this file; its handler has nobody else to tell.
    char message_[160]{};
    uint32_t width_ = 0;  // of the first directory
    uint32_t height_ = 0;
    uint16_t fileOrientation_ = 1;  // the file's tag, 1 to 8
    uint16_t orientation_ = 1;      // applied: the file's, or 1 when the setting turns it off
};
