#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "fuzz/fuzz_load.h"
#include "image/tiff_reader.h"

namespace {

// A TIFF of a few hundred bytes may declare a picture of a few hundred megapixels, which the
// reader accepts and then converts and resamples in full: seconds per input that teach nothing
// new. Such inputs are skipped, as the JPEG 2000 target skips its large ones.
bool SmallEnoughToFuzz(const uint8_t* data, size_t size) {
    constexpr int64_t kMaxFuzzPixels = 1 << 20;
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/lumora-fuzz-probe-" + std::to_string(getpid()) + ".tif";
    }();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (!written) return false;
    CTiffReader reader(path);
    reader.OpenFile();
    const int64_t pixels =
        static_cast<int64_t>(reader.header.bmiHeader.biWidth) * reader.header.bmiHeader.biHeight;
    reader.Close();
    unlink(path.c_str());
    return pixels <= kMaxFuzzPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!SmallEnoughToFuzz(data, size)) return 0;
    FuzzLoadImage(data, size, ".tif");
    return 0;
}
