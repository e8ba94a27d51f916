// One full-size decode of a HEIF, AVIF or WebP file, timed from outside by bench/heif.sh and
// bench/webp_resize.sh:
//   whole_decode_bench lib FILE    the library alone, to interleaved 8-bit RGB (libheif) or
//                                  B, G, R (libwebp's one-call decode, as dwebp without -mt),
//                                  nothing written: the library's own full decode
//   whole_decode_bench load FILE   the viewer's load at full size, to the whole picture
// Prints the picture's size so that a failed decode shows.

#include <webp/decode.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/decoder_libraries.h"
#include "image/image.h"
#include "image/resample.h"

namespace {

int WebpDecode(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    int width = 0, height = 0;
    uint8_t* pixels = WebPDecodeBGR(bytes.data(), bytes.size(), &width, &height);
    WebPFree(pixels);
    std::printf("%d x %d\n", width, height);
    return pixels ? 0 : 1;
}

int LibraryDecode(const char* path) {
    const std::string name = path;
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".webp") == 0) return WebpDecode(path);
    // Through the table the reader uses, so that a WebP decode here never loads libheif.
    std::string why;
    if (!OpenHeifLibrary(&why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const HeifFunctions& heif = Heif();
    heif_context* context = heif.heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    int width = 0, height = 0;
    if (heif.heif_context_read_from_file(context, path, nullptr).code == heif_error_Ok &&
        heif.heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
        heif.heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                               nullptr)
                .code == heif_error_Ok) {
        width = heif.heif_image_get_width(image, heif_channel_interleaved);
        height = heif.heif_image_get_height(image, heif_channel_interleaved);
    }
    if (image) heif.heif_image_release(image);
    if (handle) heif.heif_image_handle_release(handle);
    heif.heif_context_free(context);
    std::printf("%d x %d\n", width, height);
    return width > 0 ? 0 : 1;
}

int ViewerLoad(const char* path) {
    BuildGammaTables();
    CImage image;
    image.LoadNow(path, 1 << 30, 1 << 30);
    std::printf("%d x %d\n", image.GetWidth(), image.GetHeight());
    return image.GetWidth() > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s lib|load FILE\n", argv[0]);
        return 2;
    }
    return std::strcmp(argv[1], "lib") == 0 ? LibraryDecode(argv[2]) : ViewerLoad(argv[2]);
}
