#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CImage;

// A TIFF-structured Exif block (as in a PNG eXIf chunk) whose IFD0 holds one Orientation entry.
std::string ExifBlock(int orientation, bool bigEndian);
// The same behind "Exif\0\0" in an APP1 segment, put right after the JPEG's SOI marker.
std::string WithExifSegment(const std::string& jpeg, const std::string& block);

// Three bytes a pixel, top row first.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;
    const uint8_t* at(int x, int y) const { return &bytes[(static_cast<size_t>(y) * width + x) * 3]; }
};
// The image's display as it is shown: the header's row order undone, 3- or 4-byte pixels.
RgbPicture ShownPixels(const CImage& image);
// What a picture stored as `stored` looks like shown by Exif orientation `orientation`.
RgbPicture Oriented(const RgbPicture& stored, int orientation);
