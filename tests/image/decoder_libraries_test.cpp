#include "image/decoder_libraries.h"

#include <gtest/gtest.h>

#include <string>

#include "app/core/resize_mode.h"
#include "image/image.h"
#include "image/resample.h"
#include "support/temp_dir.h"

namespace {

std::string Data(const std::string& name) {
    return std::string(LUMORA_TEST_DATA_DIR) + "/" + name;
}

// libjxl and libheif are opened only when their files are read. One that cannot be opened
// fails its own formats with a reason naming it, batch resize says so, the other formats still
// load, and once the library can be opened its files load again. Runs first in its own program:
// a library once opened stays open.
TEST(DecoderLibrariesTest, AMissingLibraryFailsOnlyItsOwnFormats) {
    BuildGammaTables();
    TempDir dir;
    SetJxlLibraryFile("libjxl-not-installed.so.0");
    SetHeifLibraryFile("libheif-not-installed.so.1");
    const struct {
        const char* file;
        const char* reason;
    } missing[] = {
        {"jxl/lossless.jxl", "cannot load the JPEG XL library: libjxl-not-installed.so.0: "},
        {"heif/photo.heic", "cannot load the HEIF library: libheif-not-installed.so.1: "},
        {"heif/photo-lossless.avif", "cannot load the HEIF library: libheif-not-installed.so.1: "},
    };
    for (const auto& c : missing) {
        CImage image;
        image.LoadNow(Data(c.file), 1 << 30, 1 << 30);
        EXPECT_EQ(image.GetWidth(), 0) << c.file;
        EXPECT_EQ(image.failure.rfind(c.reason, 0), 0u) << c.file << ": " << image.failure;
        const std::string out = (dir.path() / "out.bmp").string();
        std::string error;
        EXPECT_FALSE(RunResize({Data(c.file), 64, 64, out}, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }

    CImage webp;
    webp.LoadNow(Data("webp/lossy.webp"), 1 << 30, 1 << 30);
    EXPECT_GT(webp.GetWidth(), 0);
    EXPECT_EQ(webp.failure, "");

    SetJxlLibraryFile("");
    SetHeifLibraryFile("");
    for (const auto& c : missing) {
        CImage image;
        image.LoadNow(Data(c.file), 1 << 30, 1 << 30);
        EXPECT_GT(image.GetWidth(), 0) << c.file;
        EXPECT_EQ(image.failure, "") << c.file;
    }
}

}  // namespace
