#include "image/ico_png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The directory cannot describe an icon wider than 256 pixels; a PNG inside one that claims
// much more is not trusted with an allocation.
constexpr uint32_t kMaxPngSide = 1024;

// Plain data only: it lives across the setjmp in DecodeContained.
struct PngJob {
    const uint8_t* data;
    size_t size;
    size_t position;
    int32_t width;  // the entry's size
    int32_t height;
    uint8_t* picture;
    size_t stride;
    uint8_t* pixels;  // RGBA rows from libpng: one row, or the whole picture when interlaced
    bool headerRead;
    bool interlaced;
    uint32_t pngWidth;
    uint32_t pngHeight;
    char message[96];  // why libpng gave up
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (length > job->size - job->position) png_error(png, "icon entry data end early");
    std::memcpy(out, job->data + job->position, length);
    job->position += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp text) {
    auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
    if (job->message[0] == '\0' && text)
        std::snprintf(job->message, sizeof job->message, "%s", text);
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

uint8_t OnWhite(uint8_t colour, uint8_t alpha) {
    return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Blends PNG row y (RGBA, pngWidth pixels) onto white into the picture's row for it.
void PutRow(const PngJob& job, const uint8_t* rgba, uint32_t pngWidth, uint32_t y) {
    if (y >= static_cast<uint32_t>(job.height)) return;
    uint8_t* out =
        job.picture + static_cast<size_t>(job.height - 1 - static_cast<int32_t>(y)) * job.stride;
    const uint32_t columns =
        pngWidth < static_cast<uint32_t>(job.width) ? pngWidth : static_cast<uint32_t>(job.width);
    for (uint32_t x = 0; x < columns; ++x, rgba += 4, out += 3) {
        out[0] = OnWhite(rgba[2], rgba[3]);
        out[1] = OnWhite(rgba[1], rgba[3]);
        out[2] = OnWhite(rgba[0], rgba[3]);
    }
}

// The only function that calls setjmp: no locals with destructors, and the codec objects are
// destroyed on both paths. What must survive a longjmp lives in the job.
void DecodeContained(PngJob* job) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, OnError, OnWarning);
    if (!png) return;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    png_set_read_fn(png, job, ReadFromMemory);
    png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    png_read_info(png, info);

    // Everything becomes 8-bit RGBA.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const uint32_t w = png_get_image_width(png, info);
    const uint32_t h = png_get_image_height(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 4)
        png_error(png, "unexpected layout");
    job->headerRead = true;
    job->interlaced = passes > 1;
    job->pngWidth = w;
    job->pngHeight = h;

    const size_t rowBytes = static_cast<size_t>(w) * 4;
    if (passes > 1) {
        // Interlaced rows are only complete after the last pass. Pixels a truncated file never
        // reached stay opaque black, like the missing rows of any other picture.
        job->pixels = static_cast<uint8_t*>(std::malloc(rowBytes * h));
        if (!job->pixels) png_error(png, "out of memory");
        for (size_t i = 0; i < rowBytes * h; i += 4) {
            job->pixels[i] = job->pixels[i + 1] = job->pixels[i + 2] = 0;
            job->pixels[i + 3] = 255;
        }
        for (int pass = 0; pass < passes; ++pass)
            for (uint32_t y = 0; y < h; ++y) png_read_row(png, job->pixels + rowBytes * y, nullptr);
    } else {
        job->pixels = static_cast<uint8_t*>(std::malloc(rowBytes));
        if (!job->pixels) png_error(png, "out of memory");
        const uint32_t rows =
            h < static_cast<uint32_t>(job->height) ? h : static_cast<uint32_t>(job->height);
        for (uint32_t y = 0; y < rows; ++y) {
            png_read_row(png, job->pixels, nullptr);
            PutRow(*job, job->pixels, w, y);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
}

}  // namespace

bool IsPngIconData(const uint8_t* data, size_t size) {
    return size >= sizeof kPngSignature &&
           std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0;
}

bool DecodePngIcon(const uint8_t* data, size_t size, int32_t width, int32_t height,
                   uint8_t* picture, size_t stride, std::string* failure) {
    PngJob job{data, size, 0, width, height, picture, stride, nullptr, false, false, 0, 0, {}};
    DecodeContained(&job);
    if (job.pixels && job.interlaced) {
        // Interlaced pictures are put once the passes end, finished or not; the others were put
        // row by row as they arrived.
        for (uint32_t y = 0; y < job.pngHeight; ++y)
            PutRow(job, job.pixels + static_cast<size_t>(job.pngWidth) * 4 * y, job.pngWidth, y);
    }
    std::free(job.pixels);
    if (failure && job.message[0]) *failure = std::string("PNG icon: ") + job.message;
    return job.headerRead;
}
