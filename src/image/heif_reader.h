#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/reader.h"
#include "platform/heap.h"

// HEIF files (".heic", ".heif") and AVIF files, through libheif with its HEVC and AV1 decoders.
// The library decodes whole pictures only, so OpenFile learns nothing: DecodeAll decodes the
// primary image into a picture of its own (24-bit B, G, R, or 32-bit with alpha as the fourth
// byte, never blended) and only then declares the header; rows are then copied out one per
// NextLine call, top row first. The container's rotation, mirror and crop are applied as the
// library does by default. Samples deeper than 8 bits are rounded to 8 bits here (the library's
// own reduction truncates). An ICC profile carried in the file is applied with Little CMS;
// colour given as nclx is what the library's RGB conversion makes of it.
class CHeifReader : public CImageReader {
public:
    explicit CHeifReader(std::string path) : CImageReader(std::move(path)) {
        deferredHeader = true;
    }
    ~CHeifReader() override { Close(); }

    void OpenFile() override;
    void DecodeAll() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

private:
    std::unique_ptr<CPrivateHeap> heap_;
    uint8_t* picture_ = nullptr;  // rows of rowSize_ bytes, no padding, top row first
    uint32_t rowSize_ = 0;
    int32_t height_ = 0;
};
