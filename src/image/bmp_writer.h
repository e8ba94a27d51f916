#pragma once

#include "image/writer.h"

// Windows bitmap files, written without a library: always bottom-up, with the display header's
// colour entry between the info header and the pixels, so the pixels start at byte 58.
class CBmpWriter : public CImageWriter {
public:
    CBmpWriter(std::string path, CImage* image) : CImageWriter(std::move(path), image) {}

    void Write() override;
};
