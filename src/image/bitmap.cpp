#include "image/bitmap.h"

#include <cstring>
#include <limits>

BITMAPINFO EmptyBitmapInfo() {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biPlanes = 1;
    return info;
}

int64_t DibStride(int64_t width, int bitCount) {
    if (width <= 0 || bitCount <= 0) return 0;
    int64_t bytes = width * (bitCount / 8);
    return (bytes + 3) & ~int64_t{3};
}

bool IsAcceptableImageSize(int64_t width, int64_t height, int bitCount) {
    if (width <= 0 || height <= 0) return false;
    if (width > kMaxImagePixels || height > kMaxImagePixels) return false;
    if (width * height > kMaxImagePixels) return false;
    int64_t bytes = DibStride(width, bitCount) * height + 1;
    return bytes > 0 && static_cast<uint64_t>(bytes) < std::numeric_limits<size_t>::max() / 2;
}
