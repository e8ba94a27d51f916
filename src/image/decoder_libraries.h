#pragma once

// libjxl and libheif are opened only when a file of theirs is first read, so that a process
// reading other formats never maps them, nor the codecs and SIMD dispatch under them, nor runs
// their start-up code (about 8 ms of processor time at every start of a batch resize). The
// readers call the libraries' functions through these tables, which hold exactly the
// declarations of the libraries' headers. A library that cannot be opened, or lacks a function,
// fails its own formats with a reason naming it; the other formats are unaffected, and the next
// file of that format tries again.

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <libheif/heif.h>

#include <string>

// clang-format off
#define LUMORA_JXL_FUNCTIONS(X)           \
    X(JxlDecoderCreate)                   \
    X(JxlDecoderDestroy)                  \
    X(JxlDecoderSubscribeEvents)          \
    X(JxlDecoderSetUnpremultiplyAlpha)    \
    X(JxlSignatureCheck)                  \
    X(JxlDecoderProcessInput)             \
    X(JxlDecoderFlushImage)               \
    X(JxlDecoderGetBasicInfo)             \
    X(JxlDecoderSetPreferredColorProfile) \
    X(JxlDecoderGetColorAsEncodedProfile) \
    X(JxlDecoderGetICCProfileSize)        \
    X(JxlDecoderGetColorAsICCProfile)     \
    X(JxlDecoderReleaseInput)             \
    X(JxlDecoderSetInput)                 \
    X(JxlDecoderImageOutBufferSize)       \
    X(JxlDecoderSetImageOutCallback)      \
    X(JxlDecoderSetParallelRunner)

#define LUMORA_JXL_THREADS_FUNCTIONS(X)   \
    X(JxlThreadParallelRunnerCreate)      \
    X(JxlThreadParallelRunnerDestroy)     \
    X(JxlThreadParallelRunner)

#define LUMORA_HEIF_FUNCTIONS(X)                    \
    X(heif_context_alloc)                           \
    X(heif_context_free)                            \
    X(heif_context_set_maximum_image_size_limit)    \
    X(heif_context_read_from_file)                  \
    X(heif_context_get_primary_image_handle)        \
    X(heif_image_handle_release)                    \
    X(heif_image_handle_has_alpha_channel)          \
    X(heif_image_handle_get_width)                  \
    X(heif_image_handle_get_height)                 \
    X(heif_image_handle_get_ispe_width)             \
    X(heif_image_handle_get_ispe_height)            \
    X(heif_image_handle_get_luma_bits_per_pixel)    \
    X(heif_image_handle_get_color_profile_type)     \
    X(heif_image_handle_get_raw_color_profile_size) \
    X(heif_image_handle_get_raw_color_profile)      \
    X(heif_decoding_options_alloc)                  \
    X(heif_decoding_options_free)                   \
    X(heif_decode_image)                            \
    X(heif_image_release)                           \
    X(heif_image_get_width)                         \
    X(heif_image_get_height)                        \
    X(heif_image_get_plane_readonly)                \
    X(heif_image_get_bits_per_pixel_range)
// clang-format on

#define LUMORA_LIBRARY_FUNCTION(name) decltype(&::name) name = nullptr;
struct JxlFunctions {
    LUMORA_JXL_FUNCTIONS(LUMORA_LIBRARY_FUNCTION)
};
struct JxlThreadsFunctions {
    LUMORA_JXL_THREADS_FUNCTIONS(LUMORA_LIBRARY_FUNCTION)
};
struct HeifFunctions {
    LUMORA_HEIF_FUNCTIONS(LUMORA_LIBRARY_FUNCTION)
};
#undef LUMORA_LIBRARY_FUNCTION

// The library's functions, opening it on the first call that succeeds; null, with the reason in
// *why, while it cannot be opened. Safe from any thread; the tables never change once filled.
const JxlFunctions* OpenJxlLibrary(std::string* why);
const HeifFunctions* OpenHeifLibrary(std::string* why);
// libjxl's thread pool; a decoder goes without it when it cannot be opened.
const JxlThreadsFunctions* OpenJxlThreadsLibrary(std::string* why);

// The functions of a library already opened by the calls above (on this thread or on one this
// thread has heard from since).
const JxlFunctions& Jxl();
const HeifFunctions& Heif();
const JxlThreadsFunctions& JxlThreads();

// Tests: the file opened instead (empty: the usual one), for calls until the library has once
// been opened.
void SetJxlLibraryFile(const std::string& file);
void SetHeifLibraryFile(const std::string& file);
