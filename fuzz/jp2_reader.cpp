#include <openjpeg.h>

#include <algorithm>
#include <cstring>

#include "fuzz/fuzz_load.h"
#include "image/jp2_reader.h"

namespace {

// The code stream's declared size, read by the library from memory. A tiny input may declare a
// picture of hundreds of megapixels that the reader accepts and the library then decodes in
// full, which says nothing new and only exhausts the fuzzer's time and memory.
struct Memory {
    const uint8_t* data;
    size_t size;
    size_t position;
};

OPJ_SIZE_T Read(void* into, OPJ_SIZE_T bytes, void* user) {
    auto* m = static_cast<Memory*>(user);
    if (m->position >= m->size) return static_cast<OPJ_SIZE_T>(-1);
    const size_t n = std::min(bytes, m->size - m->position);
    std::memcpy(into, m->data + m->position, n);
    m->position += n;
    return n;
}

OPJ_OFF_T Skip(OPJ_OFF_T bytes, void* user) {
    auto* m = static_cast<Memory*>(user);
    if (bytes < 0 && static_cast<size_t>(-bytes) > m->position) return -1;
    m->position += static_cast<size_t>(bytes);
    return bytes;
}

OPJ_BOOL Seek(OPJ_OFF_T offset, void* user) {
    if (offset < 0) return OPJ_FALSE;
    static_cast<Memory*>(user)->position = static_cast<size_t>(offset);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

bool SmallEnoughToFuzz(const uint8_t* data, size_t size) {
    constexpr uint64_t kMaxFuzzPixels = 1 << 20;
    Memory memory{data, size, 0};
    opj_stream_t* stream = opj_stream_create(4096, OPJ_TRUE);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_JP2);
    opj_stream_set_user_data(stream, &memory, nullptr);
    opj_stream_set_user_data_length(stream, size);
    opj_stream_set_read_function(stream, Read);
    opj_stream_set_skip_function(stream, Skip);
    opj_stream_set_seek_function(stream, Seek);
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* image = nullptr;
    bool small = true;
    if (opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &image) && image) {
        const uint64_t pixels =
            static_cast<uint64_t>(image->x1 - image->x0) * (image->y1 - image->y0);
        small = pixels <= kMaxFuzzPixels;
    }
    opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return small;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!SmallEnoughToFuzz(data, size)) return 0;
    FuzzLoadImage(data, size, ".jp2");
    FuzzLoadLeavingItsDecode(data, size, ".jp2", SetJp2DecodeHook, Jp2DecodesRunning);
    return 0;
}
