#pragma once

#include <cstdio>

#include <png.h>

#include "image/writer.h"

// PNG files at compression level 9 without row filters: RGB for 24-bit images, RGBA for 32-bit
// ones, whose fourth bytes become the alpha channel when they carry one.
class CPngWriter : public CImageWriter {
public:
    CPngWriter(std::string path, CImage* image) : CImageWriter(std::move(path), image) {}

    void Write() override;

private:
    bool Encode(const DisplayRows& rows, bool opaque, uint8_t* opaqueRow);

    FILE* file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};
