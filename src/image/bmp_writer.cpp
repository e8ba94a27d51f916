#include "image/bmp_writer.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "image/bitmap.h"
#include "image/image.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kPixelOffset = kFileHeaderBytes + sizeof(BITMAPINFO);  // 58

void Put16(uint8_t*& out, uint16_t v) {
    *out++ = static_cast<uint8_t>(v);
    *out++ = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t*& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) *out++ = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void CBmpWriter::Write() {
    DisplayRows rows;
    if (!GetDisplayRows(rows)) {
        Fail("no picture to write");
        FinishOutput(nullptr, false);
        return;
    }
    const size_t rowBytes = rows.RowBytes();
    const uint64_t fileStride = (rowBytes + 3) & ~uint64_t{3};
    const uint64_t imageBytes = fileStride * static_cast<uint64_t>(rows.height);
    if (imageBytes + kPixelOffset > std::numeric_limits<uint32_t>::max()) {
        Fail("too large for a BMP file");
        FinishOutput(nullptr, false);
        return;
    }

    BITMAPINFOHEADER info = image->displayHeader.bmiHeader;
    info.biHeight = rows.height;
    info.biSizeImage = static_cast<uint32_t>(imageBytes);
    // The file holds plain true-colour rows and nothing else, whatever the header said before.
    info.biSize = sizeof(BITMAPINFOHEADER);
    info.biPlanes = 1;
    info.biCompression = BI_RGB;
    info.biClrUsed = 0;
    info.biClrImportant = 0;
    const RGBQUAD colour = image->displayHeader.bmiColors[0];

    uint8_t head[kPixelOffset];
    uint8_t* out = head;
    *out++ = 'B';
    *out++ = 'M';
    Put32(out, info.biSizeImage + kPixelOffset);
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, kPixelOffset);
    Put32(out, info.biSize);
    Put32(out, static_cast<uint32_t>(info.biWidth));
    Put32(out, static_cast<uint32_t>(info.biHeight));
    Put16(out, info.biPlanes);
    Put16(out, info.biBitCount);
    Put32(out, info.biCompression);
    Put32(out, info.biSizeImage);
    Put32(out, static_cast<uint32_t>(info.biXPelsPerMeter));
    Put32(out, static_cast<uint32_t>(info.biYPelsPerMeter));
    Put32(out, info.biClrUsed);
    Put32(out, info.biClrImportant);
    *out++ = colour.rgbBlue;
    *out++ = colour.rgbGreen;
    *out++ = colour.rgbRed;
    *out++ = colour.rgbReserved;

    FILE* file = CreateOutput();
    if (!file) {
        FinishOutput(nullptr, false);
        return;
    }
    bool complete = std::fwrite(head, 1, sizeof(head), file) == sizeof(head);
    const uint8_t padding[3] = {0, 0, 0};
    const size_t padBytes = static_cast<size_t>(fileStride - rowBytes);
    // File row 0 is the bottom row of the picture.
    for (int32_t k = 0; complete && k < rows.height; ++k) {
        const uint8_t* row = rows.TopDown(rows.height - 1 - k);
        complete = std::fwrite(row, 1, rowBytes, file) == rowBytes &&
                   std::fwrite(padding, 1, padBytes, file) == padBytes;
    }
    FinishOutput(file, complete);
}
