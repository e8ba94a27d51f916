#include "image/jp2_reader.h"

#include <lcms2.h>
#include <openjpeg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "image/decode_threads.h"
#include "platform/file_io.h"

namespace {

enum class Family { kNone, kGrey, kRgb, kYCbCr };

void IgnoreMessage(const char*, void*) {}

// The library reads through these three calls; the file is read with pread, so a stream is
// nothing but a descriptor, its size and a position. Once the decode is abandoned every read
// fails, which ends a tiled decode after its current tile.
struct FileSource {
    int fd = -1;
    uint64_t size = 0;
    uint64_t position = 0;
    const std::atomic<bool>* abandoned = nullptr;
};

OPJ_SIZE_T ReadSource(void* into, OPJ_SIZE_T bytes, void* user) {
    auto* source = static_cast<FileSource*>(user);
    if (source->position >= source->size || source->abandoned->load(std::memory_order_relaxed))
        return static_cast<OPJ_SIZE_T>(-1);
    const size_t wanted =
        static_cast<size_t>(std::min<uint64_t>(bytes, source->size - source->position));
    size_t done = 0;
    while (done < wanted) {
        const ssize_t n = pread(source->fd, static_cast<uint8_t*>(into) + done, wanted - done,
                                static_cast<off_t>(source->position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    source->position += done;
    return done ? done : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T SkipSource(OPJ_OFF_T bytes, void* user) {
    auto* source = static_cast<FileSource*>(user);
    if (bytes < 0 && static_cast<uint64_t>(-bytes) > source->position) return -1;
    source->position += static_cast<uint64_t>(bytes);
    return bytes;
}

OPJ_BOOL SeekSource(OPJ_OFF_T offset, void* user) {
    if (offset < 0) return OPJ_FALSE;
    static_cast<FileSource*>(user)->position = static_cast<uint64_t>(offset);
    return OPJ_TRUE;
}

uint32_t BigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

constexpr uint32_t kProfileHeaderSize = 128;
constexpr uint32_t kIccGrey = 0x47524159;   // 'GRAY'
constexpr uint32_t kIccRgb = 0x52474220;    // 'RGB '
constexpr uint32_t kIccYCbCr = 0x59436272;  // 'YCbr'

bool HasFileProfile(const opj_image_t& image) {
    // The library also puts the parameters of an enumerated CIELab space into the profile
    // buffer, with a length of 0; only a non-empty buffer is a profile from the file.
    return image.icc_profile_buf && image.icc_profile_len > 0;
}

Family FamilyOf(const opj_image_t& image) {
    switch (image.color_space) {
        case OPJ_CLRSPC_GRAY:
            return Family::kGrey;
        case OPJ_CLRSPC_SRGB:
            return Family::kRgb;
        // Both carry Y, Cb and Cr with the chroma centred on half the range.
        case OPJ_CLRSPC_SYCC:
        case OPJ_CLRSPC_EYCC:
            return Family::kYCbCr;
        case OPJ_CLRSPC_UNKNOWN:
            break;  // an ICC profile, or a space the library has no name for
        default:
            return Family::kNone;
    }
    if (!HasFileProfile(image)) return Family::kNone;
    if (image.icc_profile_len < kProfileHeaderSize) {
        // Too short to name its colour space (and to be accepted later): the components decide.
        return image.numcomps >= 3 ? Family::kRgb : Family::kGrey;
    }
    switch (BigEndian32(image.icc_profile_buf + 16)) {
        case kIccGrey:
            return Family::kGrey;
        case kIccRgb:
            return Family::kRgb;
        case kIccYCbCr:
            return Family::kYCbCr;
        default:
            return Family::kNone;
    }
}

// Refuses a header before the library allocates for it: a picture the program would not hold,
// or components adding up to more than four full-size planes. (The library itself refuses more
// tiles than the format allows.)
bool IsAcceptableHeader(const opj_image_t& image) {
    if (image.x1 <= image.x0 || image.y1 <= image.y0 || image.numcomps == 0 || !image.comps)
        return false;
    const int64_t width = static_cast<int64_t>(image.x1) - image.x0;
    const int64_t height = static_cast<int64_t>(image.y1) - image.y0;
    if (!IsAcceptableImageSize(width, height, 24)) return false;
    uint64_t samples = 0;
    for (OPJ_UINT32 c = 0; c < image.numcomps; ++c) {
        samples += static_cast<uint64_t>(image.comps[c].w) * image.comps[c].h;
        if (samples > 4 * static_cast<uint64_t>(width * height)) return false;
    }
    return true;
}

struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};

// Decodes the file as the JP2 file format, or returns none.
opj_image_t* DecodeFile(const std::string& path, const std::atomic<bool>& abandoned) {
    FileSource source;
    source.abandoned = &abandoned;
    source.fd = OpenRegularFile(path, &source.size);
    if (source.fd < 0) return nullptr;

    opj_image_t* image = nullptr;
    {
        std::unique_ptr<opj_stream_t, StreamDeleter> stream(
            opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
        std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(OPJ_CODEC_JP2));
        bool ok = stream && codec;
        if (ok) {
            opj_stream_set_user_data(stream.get(), &source, nullptr);
            opj_stream_set_user_data_length(stream.get(), source.size);
            opj_stream_set_read_function(stream.get(), ReadSource);
            opj_stream_set_skip_function(stream.get(), SkipSource);
            opj_stream_set_seek_function(stream.get(), SeekSource);
            opj_set_info_handler(codec.get(), IgnoreMessage, nullptr);
            opj_set_warning_handler(codec.get(), IgnoreMessage, nullptr);
            opj_set_error_handler(codec.get(), IgnoreMessage, nullptr);
            opj_dparameters_t parameters;
            opj_set_default_decoder_parameters(&parameters);
            // Strict decoding (the library's default) refuses a file cut short. The lenient
            // mode would show it, but then allocates whatever a tile-part header claims, up to
            // 4 GB, before finding out that the bytes are not there.
            ok = opj_setup_decoder(codec.get(), &parameters) &&
                 opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE);
        }
        if (ok && opj_has_thread_support() && !DecodesOnCallingThread()) {
            const unsigned cores = std::thread::hardware_concurrency();
            opj_codec_set_threads(codec.get(), static_cast<int>(std::clamp(cores, 1u, 4u)));
        }
        ok = ok && opj_read_header(stream.get(), codec.get(), &image) && image &&
             IsAcceptableHeader(*image) && opj_decode(codec.get(), stream.get(), image);
        // What follows the picture (the end of the code stream, later boxes) changes nothing.
        if (ok) opj_end_decompress(codec.get(), stream.get());
        if (!ok && image) {
            opj_image_destroy(image);
            image = nullptr;
        }
    }
    close(source.fd);
    return image;
}

// Clamps to 0 ... 255 and rounds to the nearest integer, halves away from zero.
uint8_t RoundToByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    int i = static_cast<int>(v);
    if (v - static_cast<float>(i) >= 0.5f) ++i;
    return static_cast<uint8_t>(i);
}

// The transform of an embedded profile to sRGB; none when Little CMS rejects the profile, and
// the pixels are then shown unconverted.
cmsHTRANSFORM MakeProfileTransform(const opj_image_t& image, Family family) {
    cmsHPROFILE input = cmsOpenProfileFromMem(image.icc_profile_buf, image.icc_profile_len);
    if (!input) return nullptr;
    cmsHPROFILE output = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = nullptr;
    if (output) {
        const cmsUInt32Number inputFormat = family == Family::kGrey ? TYPE_GRAY_8 : TYPE_BGR_8;
        transform =
            cmsCreateTransform(input, inputFormat, output, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
        cmsCloseProfile(output);
    }
    cmsCloseProfile(input);
    return transform;
}

// The picture a decode made: rows of width x 3 bytes B, G, R, top row first, on its own heap.
struct DecodedPicture {
    std::unique_ptr<CPrivateHeap> heap;
    uint8_t* pixels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    std::string failure;  // why there are no pixels
};

// Turns the decoded components into the picture, or leaves it empty.
void BuildPicture(const opj_image_t& image, DecodedPicture& result) {
    const Family family = FamilyOf(image);
    if (family == Family::kNone) {
        result.failure = "unsupported JPEG 2000 colour space";
        return;
    }
    const OPJ_UINT32 wanted = family == Family::kGrey ? 1 : 3;
    if (image.numcomps < wanted) {
        result.failure = "too few colour components";
        return;
    }
    const uint32_t width = image.x1 - image.x0;
    const uint32_t height = image.y1 - image.y0;

    // Every chosen component covers the whole picture at full resolution with unsigned samples;
    // subsampled chroma and signed samples are not shown.
    const OPJ_INT32* planes[3] = {nullptr, nullptr, nullptr};
    int shifts[3] = {0, 0, 0};
    for (OPJ_UINT32 c = 0; c < wanted; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        if (!comp.data || comp.w != width || comp.h != height || comp.x0 != 0 || comp.y0 != 0 ||
            comp.dx != 1 || comp.dy != 1 || comp.sgnd != 0 || comp.factor != 0 || comp.prec < 1 ||
            comp.prec > 31) {
            result.failure = "subsampled or signed colour components";
            return;
        }
        planes[c] = comp.data;
        // Samples of fewer than 8 bits are not stretched.
        shifts[c] = comp.prec > 8 ? static_cast<int>(comp.prec) - 8 : 0;
    }

    const size_t rowSize = static_cast<size_t>(width) * 3;
    std::unique_ptr<CPrivateHeap> heap(new (std::nothrow) CPrivateHeap);
    uint8_t* picture = heap ? static_cast<uint8_t*>(heap->Alloc(rowSize * height)) : nullptr;
    if (!picture) {
        result.failure = "out of memory";
        return;
    }
    cmsHTRANSFORM transform = nullptr;
    uint8_t* scratch = nullptr;
    if (family != Family::kYCbCr && HasFileProfile(image)) {
        transform = MakeProfileTransform(image, family);
        scratch = transform ? static_cast<uint8_t*>(heap->Alloc(rowSize)) : nullptr;
        if (transform && !scratch) {
            result.failure = "out of memory";
            cmsDeleteTransform(transform);
            return;
        }
    }

    auto sample = [&](int c, size_t i) {
        return static_cast<uint8_t>(std::clamp(planes[c][i] >> shifts[c], 0, 255));
    };
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* out = picture + rowSize * y;
        const size_t first = static_cast<size_t>(width) * y;
        // With a profile the samples are gathered first and converted into the row.
        uint8_t* gather = transform ? scratch : out;
        switch (family) {
            case Family::kGrey:
                if (transform) {
                    for (uint32_t x = 0; x < width; ++x) gather[x] = sample(0, first + x);
                } else {
                    for (uint32_t x = 0; x < width; ++x)
                        out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = sample(0, first + x);
                }
                break;
            case Family::kRgb:
                for (uint32_t x = 0; x < width; ++x) {
                    gather[3 * x] = sample(2, first + x);
                    gather[3 * x + 1] = sample(1, first + x);
                    gather[3 * x + 2] = sample(0, first + x);
                }
                break;
            case Family::kYCbCr:
                for (uint32_t x = 0; x < width; ++x) {
                    const float luma = sample(0, first + x);
                    const float cb = static_cast<float>(sample(1, first + x)) - 127.5f;
                    const float cr = static_cast<float>(sample(2, first + x)) - 127.5f;
                    const float red = luma + 1.4022f * cr;
                    const float green = luma - 0.3456f * cb - 0.7145f * cr;
                    const float blue = luma + 1.771f * cb;
                    out[3 * x] = RoundToByte(blue);
                    out[3 * x + 1] = RoundToByte(green);
                    out[3 * x + 2] = RoundToByte(red);
                }
                break;
            case Family::kNone:
                break;
        }
        if (transform) cmsDoTransform(transform, scratch, out, width);
    }
    if (transform) cmsDeleteTransform(transform);
    if (scratch) heap->Free(scratch);

    result.heap = std::move(heap);
    result.pixels = picture;
    result.width = width;
    result.height = height;
}

// One decode, shared by the reader that waits for it and the thread that runs it.
class Jp2Job : public CDecodeJob {
public:
    explicit Jp2Job(std::string file) : path_(std::move(file)) {}
    void Decode() override {
        if (opj_image_t* image = DecodeFile(path_, AbandonedFlag())) {
            if (!Abandoned()) BuildPicture(*image, picture);
            opj_image_destroy(image);
        } else {
            picture.failure = "not a JP2 file, or damaged";
        }
    }
    void Discard() override { picture = DecodedPicture(); }

    DecodedPicture picture;  // the reader's once the decode has ended

private:
    const std::string path_;
};

CDecodeThreads& Threads() {
    static CDecodeThreads threads(3);
    return threads;
}

}  // namespace

void SetJp2DecodeHook(void (*hook)()) { Threads().SetHook(hook); }

int Jp2DecodesRunning() { return Threads().Running(); }

void CJp2Reader::OpenFile() {
    DeclareHeader(0, 0, 24);
    heap_.reset();
    picture_ = nullptr;
    lineCounter = -1;
}

void CJp2Reader::DecodeAll() {
    heap_.reset();
    picture_ = nullptr;
    auto job = std::make_shared<Jp2Job>(path);
    // A load stopped meanwhile leaves the decode to end on its own; nothing of it is declared.
    if (!Threads().Run(job, decodeStopped)) return;
    DecodedPicture& picture = job->picture;
    if (!picture.pixels) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) RefuseOpen();
        Refuse(picture.failure.empty() ? "not a JP2 file, or damaged" : picture.failure);
        return;
    }
    heap_ = std::move(picture.heap);
    picture_ = picture.pixels;
    rowSize_ = picture.width * 3;
    height_ = static_cast<int32_t>(picture.height);
    DeclareHeader(static_cast<int32_t>(picture.width), -height_, 24);
}

int CJp2Reader::NextLine(uint8_t** row) {
    if (!picture_ || lineCounter >= height_ - 1) return lineCounter;
    ++lineCounter;
    if (row && *row)
        std::memcpy(*row, picture_ + static_cast<size_t>(rowSize_) * lineCounter, rowSize_);
    return lineCounter;
}

void CJp2Reader::CloseFile() {
    // The picture goes with its heap.
    heap_.reset();
    picture_ = nullptr;
}
