#pragma once

#include <cstddef>
#include <cstdint>

// Device-independent bitmap headers, laid out byte for byte as in the BMP file format, so the
// same 44 bytes describe an image in memory, in a BMP file and to the drawing code. Every field
// falls on its natural alignment, so no packing is needed (the asserts below keep it so).
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: bottom row first in memory; negative: top row first
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPINFO) == 44);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

// The largest picture any reader accepts; beyond it the file is refused rather than trusted.
constexpr int64_t kMaxImagePixels = int64_t{1} << 28;

// A zeroed header with biSize 40 and one plane: what a reader declares before it knows better.
BITMAPINFO EmptyBitmapInfo();

// Bytes per row: bytes per pixel (bitCount / 8) times width, rounded up to a multiple of 4.
// Negative widths count as 0.
int64_t DibStride(int64_t width, int bitCount);

// Whether a picture of this size and depth is one the program is willing to hold: positive
// sides, at most kMaxImagePixels pixels, and a buffer size that fits the address space.
bool IsAcceptableImageSize(int64_t width, int64_t height, int bitCount);
