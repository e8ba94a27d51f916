#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CImage;

// A reference picture decoded by an independent decoder and stored as a PNG beside the tests.
struct RefImage {
    int width = 0;
    int height = 0;
    int channels = 0;            // 3: R, G, B; 4: R, G, B, A
    std::vector<uint8_t> pixels;  // top row first, no padding
};

// Reads an 8-bit RGB or RGBA PNG with libpng's simplified interface (not through the reader
// under test). False when the file cannot be read.
bool LoadReferencePng(const std::string& path, RefImage& out);

// How far a decoded display image is from a reference: compares B, G, R of every pixel (and
// the fourth byte with the alpha when compareAlpha), whatever the display's row order.
struct PixelDiff {
    bool sameSize = false;
    int maxDiff = 0;
    int64_t pixelsOff = 0;   // pixels with any channel different
    double meanDiff = 0.0;   // mean absolute difference per compared channel
};
PixelDiff CompareWithReference(const CImage& image, const RefImage& ref, bool compareAlpha = false);

// Path of a committed reference: tests/data/references/<relative>.
std::string ReferencePath(const std::string& relative);

// The references named after their corpus files in references/<format>/, as pairs of the
// reference's path and the corpus file's relative name ("<format>/<folder>/<file>").
std::vector<std::pair<std::string, std::string>> CorpusReferences(const std::string& format);
