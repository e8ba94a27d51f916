#include "fuzz/fuzz_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "image/image.h"
#include "image/reader.h"
#include "image/resample.h"

namespace {

std::string ScratchBase() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/lumora-fuzz-" + std::to_string(getpid());
}

// Never destroyed: the exit handler that removes the files runs after static destructors.
std::vector<std::string>& ScratchFiles() {
    static auto* files = new std::vector<std::string>;
    return *files;
}

void RemoveScratch() {
    for (const std::string& file : ScratchFiles()) unlink(file.c_str());
    std::error_code error;
    std::filesystem::remove_all(ScratchBase() + "-config", error);
}

// The size every load is fitted to, known only once the header is: half the source, at most
// 64 x 64, so anything of 2 x 2 or more takes the box path.
class HalfSize : public ISetMaxDim {
public:
    explicit HalfSize(CImage& image) : image_(image) {}
    void SetMaxDim() override {
        const int32_t sw = image_.GetSourceWidth();
        const int32_t sh = image_.GetSourceHeight();
        image_.SetSizeLimit(std::clamp(sw / 2, 1, 64), std::clamp(sh / 2, 1, 64), true, false);
    }

private:
    CImage& image_;
};

}  // namespace

void FuzzUseScratchSettings() {
    static const bool done = [] {
        const std::string config = ScratchBase() + "-config";
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        std::atexit(RemoveScratch);
        return true;
    }();
    (void)done;
}

std::string FuzzWriteInput(const uint8_t* data, size_t size, const std::string& extension) {
    FuzzUseScratchSettings();
    const std::string path = ScratchBase() + extension;
    if (std::find(ScratchFiles().begin(), ScratchFiles().end(), path) == ScratchFiles().end())
        ScratchFiles().push_back(path);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return std::string();
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == size ? path : std::string();
}

void FuzzReadImage(const uint8_t* data, size_t size, const std::string& extension) {
    BuildGammaTables();
    const std::string path = FuzzWriteInput(data, size, extension);
    if (path.empty()) return;

    // The loader's own routine, on this thread.
    CImage image;
    HalfSize owner(image);
    image.sizeLimitOwner = &owner;
    image.Open(path);
    if (!image.reader()) return;
    if (!image.reader()->deferredHeader) owner.SetMaxDim();
    image.LoadHere();
}
