#include "fuzz/fuzz_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "image/decode_threads.h"
#include "image/image.h"
#include "image/reader.h"

namespace {

std::string ScratchBase() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/lumora-fuzz-" + std::to_string(getpid());
}

// An input file kept open for writing, reused by every input with its extension.
struct ScratchFile {
    std::string path;
    int fd;
};

// Never destroyed: the exit handler that removes the files runs after static destructors.
std::vector<ScratchFile>& ScratchFiles() {
    static auto* files = new std::vector<ScratchFile>;
    return *files;
}

void RemoveScratch() {
    for (const ScratchFile& file : ScratchFiles()) unlink(file.path.c_str());
    std::error_code error;
    std::filesystem::remove_all(ScratchBase() + "-config", error);
}

// The size every load is fitted to, known only once the header is: the source's own, so the
// rows go straight from the reader into the picture with nothing resampled (the whole-load
// targets cover the resampling paths).
class FullSize : public ISetMaxDim {
public:
    explicit FullSize(CImage& image) : image_(image) {}
    void SetMaxDim() override {
        image_.SetSizeLimit(image_.GetSourceWidth(), image_.GetSourceHeight(), true, false);
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
    auto it = std::find_if(ScratchFiles().begin(), ScratchFiles().end(),
                           [&](const ScratchFile& file) { return file.path == path; });
    if (it == ScratchFiles().end()) {
        // Opened once: a new file per input costs more than many a small input's decode.
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return std::string();
        ScratchFiles().push_back({path, fd});
        it = ScratchFiles().end() - 1;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(it->fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return std::string();
        done += static_cast<size_t>(n);
    }
    // Cut what a longer earlier input left past the end.
    if (ftruncate(it->fd, static_cast<off_t>(size)) != 0) return std::string();
    return path;
}

void FuzzReadImage(const uint8_t* data, size_t size, const std::string& extension) {
    SetDecodesOnCallingThread(true);
    const std::string path = FuzzWriteInput(data, size, extension);
    if (path.empty()) return;

    // The loader's own routine, on this thread.
    CImage image;
    FullSize owner(image);
    image.sizeLimitOwner = &owner;
    image.Open(path);
    if (!image.reader()) return;
    if (!image.reader()->deferredHeader) owner.SetMaxDim();
    image.LoadHere();
}
