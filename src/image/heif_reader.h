#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/reader.h"

// HEIF files (".heic", ".heif") and AVIF files, through libheif with its HEVC and AV1 decoders.
// The library decodes whole pictures only, so OpenFile learns nothing: DecodeAll has the primary
// image decoded and only then declares the header (24-bit, or 32-bit with alpha as the fourth
// byte, never blended); each NextLine call then converts one row of the library's picture, top
// row first. The container's rotation, mirror and crop are applied as the library does by
// default. Samples deeper than 8 bits are rounded to 8 bits here (the library's own reduction
// truncates). An ICC profile carried in the file is applied with Little CMS; colour given as
// nclx is what the library's RGB conversion makes of it.
//
// The library cannot be interrupted, so the decode runs on a thread of its own that DecodeAll
// waits for while asking decodeStopped; a decode that is left ends there, frees its picture
// and is forgotten. A few such decodes at most run at once.
// Tests: called on the decode thread before each decode, to hold it there.
void SetHeifDecodeHook(void (*hook)());
// Decodes that have not ended yet, left ones included.
int HeifDecodesRunning();

// The library's decoded picture and how its rows become the declared ones.
struct HeifPicture;

class CHeifReader : public CImageReader {
public:
    explicit CHeifReader(std::string path);
    ~CHeifReader() override;

    void OpenFile() override;
    void DecodeAll() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

private:
    std::unique_ptr<HeifPicture> picture_;
    int32_t height_ = 0;
};
