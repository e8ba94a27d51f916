#include "image/png_writer.h"

#include <cstring>
#include <memory>
#include <new>

#include "image/image.h"

namespace {

[[noreturn]] void ReturnToRecoveryPoint(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

void WriteToFile(png_structp png, png_bytep data, size_t length) {
    FILE* file = static_cast<FILE*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, file) != length) png_error(png, "write failed");
}

// Whether the fourth bytes say nothing: a reader or resampler that leaves them 0 would
// otherwise give a picture that is wholly transparent.
bool FourthBytesAllZero(const DisplayRows& rows) {
    for (int32_t y = 0; y < rows.height; ++y) {
        const uint8_t* px = rows.TopDown(y);
        for (int32_t x = 0; x < rows.width; ++x)
            if (px[static_cast<size_t>(x) * 4 + 3] != 0) return false;
    }
    return true;
}

}  // namespace

void CPngWriter::Write() {
    DisplayRows rows;
    if (!GetDisplayRows(rows)) {
        Fail("no picture to write");
        FinishOutput(nullptr, false);
        return;
    }
    // The box resampler leaves the fourth byte without meaning.
    const bool opaque = rows.bytesPerPixel == 4 && (image->downscale || FourthBytesAllZero(rows));
    std::unique_ptr<uint8_t[]> opaqueRow;
    if (opaque) {
        opaqueRow.reset(new (std::nothrow) uint8_t[rows.RowBytes()]);
        if (!opaqueRow) {
            Fail("out of memory");
            FinishOutput(nullptr, false);
            return;
        }
    }
    file_ = CreateOutput();
    if (!file_) {
        FinishOutput(nullptr, false);
        return;
    }
    const bool complete = Encode(rows, opaque, opaqueRow.get());
    FinishOutput(file_, complete);
    file_ = nullptr;
}

// Calls setjmp: nothing on this frame has a destructor, and every error path destroys the
// library's structures before returning.
bool CPngWriter::Encode(const DisplayRows& rows, bool opaque, uint8_t* opaqueRow) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ReturnToRecoveryPoint,
                                   IgnoreWarning);
    if (!png_) return false;
    info_ = png_create_info_struct(png_);
    if (!info_) {
        png_destroy_write_struct(&png_, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png_))) {
        png_destroy_write_struct(&png_, &info_);
        return false;
    }
    // No flush function of our own: the library's default flushes the FILE it is given.
    png_set_write_fn(png_, file_, WriteToFile, nullptr);
    png_set_compression_level(png_, 9);
    png_set_filter(png_, 0, PNG_FILTER_NONE);
    png_set_IHDR(png_, info_, static_cast<png_uint_32>(rows.width),
                 static_cast<png_uint_32>(rows.height), 8,
                 rows.bytesPerPixel == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_, info_);
    png_set_bgr(png_);
    for (int32_t y = 0; y < rows.height; ++y) {
        const uint8_t* row = rows.TopDown(y);
        if (opaque) {
            std::memcpy(opaqueRow, row, rows.RowBytes());
            for (int32_t x = 0; x < rows.width; ++x)
                opaqueRow[static_cast<size_t>(x) * 4 + 3] = 255;
            row = opaqueRow;
        }
        png_write_row(png_, row);
    }
    png_write_end(png_, info_);
    png_destroy_write_struct(&png_, &info_);
    return true;
}
