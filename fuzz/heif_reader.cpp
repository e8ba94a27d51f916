#include <libheif/heif.h>

#include "fuzz/fuzz_load.h"
#include "image/heif_reader.h"

namespace {

// The primary image's declared size, read by the library from memory. A tiny input may declare
// a picture of hundreds of megapixels that the reader accepts and the library then decodes in
// full, which says nothing new and only exhausts the fuzzer's time and memory.
bool SmallEnoughToFuzz(const uint8_t* data, size_t size) {
    constexpr int64_t kMaxFuzzPixels = 1 << 20;
    heif_context* context = heif_context_alloc();
    if (!context) return false;
    bool small = true;
    heif_image_handle* handle = nullptr;
    if (heif_context_read_from_memory_without_copy(context, data, size, nullptr).code ==
            heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok && handle) {
        const int64_t pixels = static_cast<int64_t>(heif_image_handle_get_ispe_width(handle)) *
                               heif_image_handle_get_ispe_height(handle);
        small = pixels <= kMaxFuzzPixels;
    }
    if (handle) heif_image_handle_release(handle);
    heif_context_free(context);
    return small;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!SmallEnoughToFuzz(data, size)) return 0;
    FuzzLoadImage(data, size, ".heic");
    FuzzLoadLeavingItsDecode(data, size, ".heic", SetHeifDecodeHook, HeifDecodesRunning);
    return 0;
}
