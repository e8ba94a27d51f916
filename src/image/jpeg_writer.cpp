#include "image/jpeg_writer.h"

#include <cstring>

#ifndef JCS_EXTENSIONS
#error "the JPEG writer needs libjpeg-turbo's B, G, R input colour spaces"
#endif

namespace {

[[noreturn]] void ReturnToRecoveryPoint(j_common_ptr common) {
    // The library's error manager is the first member of the writer's.
    std::longjmp(reinterpret_cast<JpegWriterErrors*>(common->err)->recovery, 1);
}

void IgnoreMessage(j_common_ptr) {}

}  // namespace

CJpegWriter::CJpegWriter(std::string filePath, CImage* writtenImage)
    : CImageWriter(std::move(filePath), writtenImage) {
    std::memset(&compressor_, 0, sizeof(compressor_));
    std::memset(&errors_, 0, sizeof(errors_));
}

void CJpegWriter::Write() {
    DisplayRows rows;
    if (!GetDisplayRows(rows)) {
        Fail("no picture to write");
        // A picture without pixels would only give an empty, unreadable file.
        FinishOutput(nullptr, false);
        return;
    }
    FILE* file = CreateOutput();
    if (!file) {
        FinishOutput(nullptr, false);
        return;
    }
    const bool complete = Compress(file, rows);
    FinishOutput(file, complete);
}

// Calls setjmp: nothing on this frame has a destructor, and every error path destroys the
// compressor before returning.
bool CJpegWriter::Compress(FILE* file, const DisplayRows& rows) {
    compressor_.err = jpeg_std_error(&errors_.library);
    errors_.library.error_exit = ReturnToRecoveryPoint;
    errors_.library.output_message = IgnoreMessage;
    if (setjmp(errors_.recovery)) {
        jpeg_destroy_compress(&compressor_);
        return false;
    }
    jpeg_create_compress(&compressor_);
    jpeg_stdio_dest(&compressor_, file);
    compressor_.image_width = static_cast<JDIMENSION>(rows.width);
    compressor_.image_height = static_cast<JDIMENSION>(rows.height);
    // The library reads the pixels as they lie in memory, skipping a fourth byte.
    compressor_.input_components = rows.bytesPerPixel;
    compressor_.in_color_space = rows.bytesPerPixel == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&compressor_);
    jpeg_set_quality(&compressor_, 90, TRUE);
    jpeg_start_compress(&compressor_, TRUE);
    while (compressor_.next_scanline < compressor_.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(rows.TopDown(static_cast<int32_t>(compressor_.next_scanline)));
        jpeg_write_scanlines(&compressor_, &row, 1);
    }
    jpeg_finish_compress(&compressor_);
    jpeg_destroy_compress(&compressor_);
    return true;
}
