#include "image/heif_reader.h"

#include <lcms2.h>
#include <libheif/heif.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/file_io.h"

namespace {

// Per side. The library refuses larger pictures itself, before it allocates for them; the
// total is then bounded by IsAcceptableImageSize on the sizes the file declares.
constexpr int kMaxSide = 32768;

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};

// The transform of an embedded profile to sRGB, in place of the B, G, R(, A) bytes; none when
// the file has no ICC profile or Little CMS rejects it, and the pixels are then shown as they
// are.
cmsHTRANSFORM MakeProfileTransform(const heif_image_handle* handle, bool alpha) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return nullptr;
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0) return nullptr;
    std::vector<uint8_t> profile;
    try {
        profile.resize(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
        return nullptr;
    cmsHPROFILE input =
        cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (!input) return nullptr;
    cmsHTRANSFORM transform = nullptr;
    if (cmsGetColorSpace(input) == cmsSigRgbData) {
        if (cmsHPROFILE output = cmsCreate_sRGBProfile()) {
            const cmsUInt32Number format = alpha ? TYPE_BGRA_8 : TYPE_BGR_8;
            transform = cmsCreateTransform(input, format, output, format, INTENT_PERCEPTUAL,
                                           alpha ? cmsFLAGS_COPY_ALPHA : 0);
            cmsCloseProfile(output);
        }
    }
    cmsCloseProfile(input);
    return transform;
}

// Rounds a sample of `bits` bits (9 ... 16) to the nearest 8-bit value.
inline uint8_t RoundTo8(uint16_t sample, uint32_t max) {
    if (sample >= max) return 255;
    return static_cast<uint8_t>((sample * 255u + max / 2) / max);
}

}  // namespace

void CHeifReader::OpenFile() {
    DeclareHeader(0, 0, 24);
    heap_.reset();
    picture_ = nullptr;
    lineCounter = -1;
}

void CHeifReader::DecodeAll() {
    heap_.reset();
    picture_ = nullptr;
    // The library opens any path with a stream of its own; a directory or a pipe is refused
    // here first.
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        RefuseOpen();
        return;
    }
    close(fd);
    try {
        std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
        if (!context) {
            Refuse("out of memory");
            return;
        }
        heif_context_set_maximum_image_size_limit(context.get(), kMaxSide);
        if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code !=
            heif_error_Ok) {
            Refuse("not a HEIF or AVIF file, or damaged");
            return;
        }
        heif_image_handle* rawHandle = nullptr;
        if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code !=
                heif_error_Ok ||
            !rawHandle) {
            Refuse("no primary image");
            return;
        }
        std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
        const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
        const int bitCount = alpha ? 32 : 24;
        // The sizes after the container's transformations; refused before anything is decoded.
        const int width = heif_image_handle_get_width(handle.get());
        const int height = heif_image_handle_get_height(handle.get());
        const int ispeWidth = heif_image_handle_get_ispe_width(handle.get());
        const int ispeHeight = heif_image_handle_get_ispe_height(handle.get());
        if (!AcceptSize(width, height, bitCount) || !AcceptSize(ispeWidth, ispeHeight, bitCount))
            return;
        if (decodeStopped && decodeStopped()) return;

        // Deeper samples come as 16-bit little-endian values and are rounded below.
        const int luma = heif_image_handle_get_luma_bits_per_pixel(handle.get());
        const bool deep = luma > 8;
        const heif_chroma chroma =
            deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                 : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
        std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
            heif_decoding_options_alloc());
        if (!options) {
            Refuse("out of memory");
            return;
        }
        // HEIF's own transformations (irot, imir, clap) are the picture's orientation. An Exif
        // orientation tag in the file is not applied on top: the library ignores it by design,
        // and writers set it to match the transformations or leave it at 1.
        options->ignore_transformations = 0;
        heif_image* rawImage = nullptr;
        const heif_error decoded =
            heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, chroma, options.get());
        std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
        if (decoded.code != heif_error_Ok || !image) {
            Refuse(decoded.code == heif_error_Memory_allocation_error
                       ? "out of memory"
                       : "damaged HEIF or AVIF file");
            return;
        }
        const int outWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
        const int outHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
        if (!AcceptSize(outWidth, outHeight, bitCount)) return;
        int stride = 0;
        const uint8_t* plane =
            heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
        const int channels = alpha ? 4 : 3;
        const int bytesIn = deep ? 2 : 1;
        if (!plane || stride < outWidth * channels * bytesIn) {
            Refuse("damaged HEIF or AVIF file");
            return;
        }
        int bits = 8;
        if (deep) {
            bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
            if (bits <= 8 || bits > 16) {
                Refuse("unsupported HEIF sample depth");
                return;
            }
        }
        const uint32_t max = (1u << bits) - 1;

        const uint32_t rowSize = static_cast<uint32_t>(outWidth) * channels;
        std::unique_ptr<CPrivateHeap> heap(new (std::nothrow) CPrivateHeap);
        uint8_t* picture =
            heap ? static_cast<uint8_t*>(heap->Alloc(static_cast<size_t>(rowSize) * outHeight))
                 : nullptr;
        if (!picture) {
            Refuse("out of memory");
            return;
        }
        std::unique_ptr<void, TransformDeleter> transform(
            MakeProfileTransform(handle.get(), alpha));
        for (int y = 0; y < outHeight; ++y) {
            const uint8_t* in = plane + static_cast<size_t>(stride) * y;
            uint8_t* out = picture + static_cast<size_t>(rowSize) * y;
            if (deep) {
                for (int x = 0; x < outWidth * channels; x += channels) {
                    const uint8_t* p = in + 2 * x;
                    out[x] = RoundTo8(static_cast<uint16_t>(p[4] | (p[5] << 8)), max);
                    out[x + 1] = RoundTo8(static_cast<uint16_t>(p[2] | (p[3] << 8)), max);
                    out[x + 2] = RoundTo8(static_cast<uint16_t>(p[0] | (p[1] << 8)), max);
                    if (alpha)
                        out[x + 3] = RoundTo8(static_cast<uint16_t>(p[6] | (p[7] << 8)), max);
                }
            } else {
                for (int x = 0; x < outWidth * channels; x += channels) {
                    out[x] = in[x + 2];
                    out[x + 1] = in[x + 1];
                    out[x + 2] = in[x];
                    if (alpha) out[x + 3] = in[x + 3];
                }
            }
            if (transform)
                cmsDoTransform(transform.get(), out, out, static_cast<cmsUInt32Number>(outWidth));
        }
        heap_ = std::move(heap);
        picture_ = picture;
        rowSize_ = rowSize;
        height_ = outHeight;
        DeclareHeader(outWidth, -height_, bitCount);
    } catch (const std::bad_alloc&) {
        heap_.reset();
        picture_ = nullptr;
        Refuse("out of memory");
    }
}

int CHeifReader::NextLine(uint8_t** row) {
    if (!picture_ || lineCounter >= height_ - 1) return lineCounter;
    ++lineCounter;
    if (row && *row)
        std::memcpy(*row, picture_ + static_cast<size_t>(rowSize_) * lineCounter, rowSize_);
    return lineCounter;
}

void CHeifReader::CloseFile() {
    heap_.reset();
    picture_ = nullptr;
}
