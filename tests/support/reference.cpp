#include "support/reference.h"

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "image/image.h"

bool LoadReferencePng(const std::string& path, RefImage& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.channels = alpha ? 4 : 3;
    out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

PixelDiff CompareWithReference(const CImage& image, const RefImage& ref, bool compareAlpha) {
    PixelDiff diff;
    const int w = image.GetWidth();
    const int h = image.GetHeight();
    if (w != ref.width || h != ref.height || !image.displayBuffer) return diff;
    diff.sameSize = true;
    const int bpp = image.displayHeader.bmiHeader.biBitCount / 8;
    const bool bottomUp = image.displayHeader.bmiHeader.biHeight > 0;
    int64_t total = 0, channels = 0;
    for (int y = 0; y < h; ++y) {
        const int memoryRow = bottomUp ? h - 1 - y : y;
        const uint8_t* row = image.displayBuffer + static_cast<size_t>(memoryRow) * image.displayStride;
        const uint8_t* refRow = ref.pixels.data() + static_cast<size_t>(y) * w * ref.channels;
        for (int x = 0; x < w; ++x) {
            const uint8_t* px = row + static_cast<size_t>(x) * bpp;
            const uint8_t* rp = refRow + static_cast<size_t>(x) * ref.channels;
            int d[4] = {std::abs(px[2] - rp[0]), std::abs(px[1] - rp[1]), std::abs(px[0] - rp[2]), 0};
            int n = 3;
            if (compareAlpha && bpp == 4 && ref.channels == 4) d[n++] = std::abs(px[3] - rp[3]);
            bool off = false;
            for (int c = 0; c < n; ++c) {
                total += d[c];
                ++channels;
                if (d[c] > diff.maxDiff) diff.maxDiff = d[c];
                off = off || d[c] != 0;
            }
            diff.pixelsOff += off;
        }
    }
    diff.meanDiff = channels ? static_cast<double>(total) / static_cast<double>(channels) : 0.0;
    return diff;
}

std::string ReferencePath(const std::string& relative) {
    return std::string(LUMORA_TEST_DATA_DIR) + "/references/" + relative;
}

std::vector<std::pair<std::string, std::string>> CorpusReferences(const std::string& format) {
    namespace fs = std::filesystem;
    constexpr std::string_view kSuffix = ".ref.png";
    std::vector<std::pair<std::string, std::string>> found;
    const fs::path root = ReferencePath(format);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string ref = entry.path().string();
        if (!ref.ends_with(kSuffix)) continue;
        std::string relative = format + "/" + fs::relative(ref, root).string();
        relative.resize(relative.size() - kSuffix.size());
        found.emplace_back(ref, relative);
    }
    return found;
}
