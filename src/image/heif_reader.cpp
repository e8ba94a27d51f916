#include "image/heif_reader.h"

#include <lcms2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "image/decode_threads.h"
#include "image/decoder_libraries.h"
#include "image/heif_boxes.h"
#include "platform/file_io.h"

namespace {

// Per side. The library refuses larger pictures itself, before it allocates for them; the
// total is then bounded by IsAcceptableImageSize on the sizes the file declares.
constexpr int kMaxSide = 32768;
// A canvas of up to this many pixels is taken from any file; a larger one must have at least a
// byte of file per kMaxCanvasPixelsPerByte pixels: its tiles are coded data, and a few bytes
// claiming a huge overlay would cost gigabytes before the library finds them damaged.
constexpr int64_t kFreeCanvasPixels = int64_t{1} << 24;
constexpr int64_t kMaxCanvasPixelsPerByte = 4096;

struct ContextDeleter {
    void operator()(heif_context* context) const { Heif().heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { Heif().heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { Heif().heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const {
        Heif().heif_decoding_options_free(options);
    }
};
struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};

// The transform of an embedded profile to sRGB, from `input` to `output` bytes; none when the
// file has no ICC profile or Little CMS rejects it, and the pixels are then shown as they are.
cmsHTRANSFORM MakeProfileTransform(const heif_image_handle* handle, bool alpha,
                                   cmsUInt32Number input, cmsUInt32Number output) {
    const heif_color_profile_type type = Heif().heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return nullptr;
    const size_t size = Heif().heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0) return nullptr;
    std::vector<uint8_t> profile;
    try {
        profile.resize(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (Heif().heif_image_handle_get_raw_color_profile(handle, profile.data()).code !=
        heif_error_Ok)
        return nullptr;
    cmsHPROFILE from =
        cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (!from) return nullptr;
    cmsHTRANSFORM transform = nullptr;
    if (cmsGetColorSpace(from) == cmsSigRgbData) {
        if (cmsHPROFILE to = cmsCreate_sRGBProfile()) {
            transform = cmsCreateTransform(from, input, to, output, INTENT_PERCEPTUAL,
                                           alpha ? cmsFLAGS_COPY_ALPHA : 0);
            cmsCloseProfile(to);
        }
    }
    cmsCloseProfile(from);
    return transform;
}

// Rounds a sample of `bits` bits (9 ... 16) to the nearest 8-bit value.
inline uint8_t RoundTo8(uint32_t sample, uint32_t max) {
    if (sample >= max) return 255;
    return static_cast<uint8_t>((sample * 255u + max / 2) / max);
}

}  // namespace

// The library's picture, held until the reader closes: rows are converted from it one at a time,
// so no second full-size copy is made.
struct HeifPicture {
    std::unique_ptr<heif_image, ImageDeleter> image;
    std::unique_ptr<void, TransformDeleter> transform;
    const uint8_t* plane = nullptr;  // interleaved R, G, B(, A), 8 or 16 bits little-endian
    size_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool alpha = false;
    bool deep = false;
    // Deep samples: every 16-bit value to its rounded 8-bit one.
    std::vector<uint8_t> round;

    // 8-bit pictures without alpha come R, G, B (the loader swaps them on the way); the others
    // B, G, R(, A).
    bool RgbOrder() const { return !alpha && !deep; }

    void ConvertRow(int32_t y, uint8_t* out) const {
        const uint8_t* in = plane + stride * static_cast<size_t>(y);
        const int channels = alpha ? 4 : 3;
        const size_t samples = static_cast<size_t>(width) * channels;
        if (deep) {
            const uint8_t* table = round.data();
            for (size_t x = 0; x < samples; x += channels) {
                const uint8_t* p = in + 2 * x;
                out[x] = table[p[4] | (p[5] << 8)];
                out[x + 1] = table[p[2] | (p[3] << 8)];
                out[x + 2] = table[p[0] | (p[1] << 8)];
                if (alpha) out[x + 3] = table[p[6] | (p[7] << 8)];
            }
        } else if (alpha) {
            if (transform) {
                cmsDoTransform(transform.get(), in, out, static_cast<cmsUInt32Number>(width));
                return;
            }
            for (size_t x = 0; x < samples; x += 4) {
                out[x] = in[x + 2];
                out[x + 1] = in[x + 1];
                out[x + 2] = in[x];
                out[x + 3] = in[x + 3];
            }
            return;
        } else {
            if (transform)
                cmsDoTransform(transform.get(), in, out, static_cast<cmsUInt32Number>(width));
            else
                std::memcpy(out, in, samples);
            return;
        }
        if (transform)
            cmsDoTransform(transform.get(), out, out, static_cast<cmsUInt32Number>(width));
    }
};

namespace {

// One decode, shared by the reader that waits for it and the thread that runs it.
class HeifJob : public CDecodeJob {
public:
    explicit HeifJob(std::string file) : path_(std::move(file)) {}
    void Decode() override {
        try {
            DecodeFile();
        } catch (const std::bad_alloc&) {
            picture.reset();
            failure = "out of memory";
        }
        if (!picture && failure.empty()) failure = "damaged HEIF or AVIF file";
    }
    void Discard() override { picture.reset(); }

    // Once the decode has ended: the picture, or why there is none.
    std::unique_ptr<HeifPicture> picture;
    std::string failure;

private:
    void DecodeFile();
    const std::string path_;
};

void HeifJob::DecodeFile() {
    std::unique_ptr<heif_context, ContextDeleter> context(Heif().heif_context_alloc());
    if (!context) {
        failure = "out of memory";
        return;
    }
    Heif().heif_context_set_maximum_image_size_limit(context.get(), kMaxSide);
    if (Heif().heif_context_read_from_file(context.get(), path_.c_str(), nullptr).code !=
        heif_error_Ok) {
        failure = "not a HEIF or AVIF file, or damaged";
        return;
    }
    heif_image_handle* rawHandle = nullptr;
    if (Heif().heif_context_get_primary_image_handle(context.get(), &rawHandle).code !=
            heif_error_Ok ||
        !rawHandle) {
        failure = "no primary image";
        return;
    }
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    const bool alpha = Heif().heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const int bitCount = alpha ? 32 : 24;
    // The sizes after the container's transformations; refused before anything is decoded.
    const int width = Heif().heif_image_handle_get_width(handle.get());
    const int height = Heif().heif_image_handle_get_height(handle.get());
    const int ispeWidth = Heif().heif_image_handle_get_ispe_width(handle.get());
    const int ispeHeight = Heif().heif_image_handle_get_ispe_height(handle.get());
    auto acceptable = [this, bitCount](int64_t w, int64_t h) {
        if (IsAcceptableImageSize(w, h, bitCount)) return true;
        const std::string size = " (" + std::to_string(w) + " x " + std::to_string(h) + ")";
        failure = (w <= 0 || h <= 0 ? "no pixels" : "more than 2^28 pixels") + size;
        return false;
    };
    if (!acceptable(width, height) || !acceptable(ispeWidth, ispeHeight)) return;
    // Tiled and overlaid pictures, an alpha picture among them, get a canvas of the size their
    // own data declares, which the sizes above need not show.
    uint64_t fileSize = 0;
    std::vector<HeifCanvas> canvases;
    const int fd = OpenRegularFile(path_, &fileSize);
    const bool located = fd >= 0 && ReadHeifCanvases(fd, fileSize, &canvases);
    if (fd >= 0) close(fd);
    if (!located) {
        failure = "damaged HEIF or AVIF file";
        return;
    }
    for (const HeifCanvas& canvas : canvases) {
        if (!acceptable(canvas.width, canvas.height)) return;
        const int64_t pixels = int64_t{canvas.width} * canvas.height;
        if (pixels > kFreeCanvasPixels &&
            pixels > kMaxCanvasPixelsPerByte * static_cast<int64_t>(fileSize)) {
            failure = "HEIF picture too large for its file";
            return;
        }
    }
    if (Abandoned()) return;

    // Deeper samples come as 16-bit little-endian values and are rounded below.
    const int luma = Heif().heif_image_handle_get_luma_bits_per_pixel(handle.get());
    const bool deep = luma > 8;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
        Heif().heif_decoding_options_alloc());
    if (!options) {
        failure = "out of memory";
        return;
    }
    // HEIF's own transformations (irot, imir, clap) are the picture's orientation. An Exif
    // orientation tag in the file is not applied on top: the library ignores it by design, and
    // writers set it to match the transformations or leave it at 1.
    options->ignore_transformations = 0;
    heif_image* rawImage = nullptr;
    const heif_error decoded = Heif().heif_decode_image(handle.get(), &rawImage,
                                                        heif_colorspace_RGB, chroma, options.get());
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    if (decoded.code != heif_error_Ok || !image) {
        failure = decoded.code == heif_error_Memory_allocation_error ? "out of memory"
                                                                     : "damaged HEIF or AVIF file";
        return;
    }
    const int outWidth = Heif().heif_image_get_width(image.get(), heif_channel_interleaved);
    const int outHeight = Heif().heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!acceptable(outWidth, outHeight)) return;
    int stride = 0;
    const uint8_t* plane =
        Heif().heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    const int bytesIn = deep ? 2 : 1;
    if (!plane || stride < outWidth * channels * bytesIn) {
        failure = "damaged HEIF or AVIF file";
        return;
    }
    auto picture = std::make_unique<HeifPicture>();
    if (deep) {
        const int bits =
            Heif().heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
        if (bits <= 8 || bits > 16) {
            failure = "unsupported HEIF sample depth";
            return;
        }
        const uint32_t max = (1u << bits) - 1;
        picture->round.resize(65536);
        for (uint32_t v = 0; v < 65536; ++v) picture->round[v] = RoundTo8(v, max);
    }
    // 8-bit rows go through the transform straight from the library's picture; deeper ones are
    // rounded into the row first and converted there.
    cmsUInt32Number input = alpha ? TYPE_BGRA_8 : TYPE_BGR_8;
    cmsUInt32Number output = input;
    if (!deep) {
        input = alpha ? TYPE_RGBA_8 : TYPE_RGB_8;
        if (!alpha) output = TYPE_RGB_8;
    }
    picture->transform.reset(MakeProfileTransform(handle.get(), alpha, input, output));
    picture->image = std::move(image);
    picture->plane = plane;
    picture->stride = static_cast<size_t>(stride);
    picture->width = outWidth;
    picture->height = outHeight;
    picture->alpha = alpha;
    picture->deep = deep;
    this->picture = std::move(picture);
}

CDecodeThreads& Threads() {
    static CDecodeThreads threads(3);
    return threads;
}

}  // namespace

void SetHeifDecodeHook(void (*hook)()) { Threads().SetHook(hook); }

int HeifDecodesRunning() { return Threads().Running(); }

CHeifReader::CHeifReader(std::string path) : CImageReader(std::move(path)) {
    deferredHeader = true;
}

CHeifReader::~CHeifReader() { Close(); }

void CHeifReader::OpenFile() {
    DeclareHeader(0, 0, 24);
    picture_.reset();
    lineCounter = -1;
}

void CHeifReader::DecodeAll() {
    picture_.reset();
    std::string why;
    if (!OpenHeifLibrary(&why)) {
        Refuse(why);
        return;
    }
    // The library opens any path with a stream of its own; a directory or a pipe is refused
    // here first.
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        RefuseOpen();
        return;
    }
    close(fd);
    std::shared_ptr<HeifJob> job;
    try {
        job = std::make_shared<HeifJob>(path);
    } catch (const std::bad_alloc&) {
        Refuse("out of memory");
        return;
    }
    // A load stopped meanwhile leaves the decode to end on its own; nothing of it is declared.
    if (!Threads().Run(job, decodeStopped)) return;
    if (!job->picture) {
        Refuse(job->failure);
        return;
    }
    picture_ = std::move(job->picture);
    height_ = picture_->height;
    rgbOrder = picture_->RgbOrder();
    DeclareHeader(picture_->width, -height_, picture_->alpha ? 32 : 24);
}

int CHeifReader::NextLine(uint8_t** row) {
    if (!picture_ || lineCounter >= height_ - 1) return lineCounter;
    ++lineCounter;
    if (row && *row) picture_->ConvertRow(lineCounter, *row);
    return lineCounter;
}

void CHeifReader::CloseFile() { picture_.reset(); }
