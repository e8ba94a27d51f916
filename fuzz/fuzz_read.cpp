#include "fuzz/fuzz_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "fuzz/fail_alloc.h"
#include "image/decode_threads.h"
#include "image/image.h"
#include "image/reader.h"

namespace {

std::string ScratchBase() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/lumora-fuzz-" + std::to_string(getpid());
}

// Where the harness leaves what it read, so that the reads are made.
volatile uint32_t g_rowSum;

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

// FNV-1a over the input's first bytes and its size.
uint32_t InputHash(const uint8_t* data, size_t size) {
    uint32_t hash = 2166136261u ^ static_cast<uint32_t>(size);
    for (size_t i = 0; i < std::min<size_t>(size, 4096); ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

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

    // The loader's own routine, on this thread. Counted the first time; the second time one of
    // those allocations fails, chosen by the input, so that over many inputs each one does.
    const auto load = [&](uint32_t failAt) {
        CImage image;
        FullSize owner(image);
        image.sizeLimitOwner = &owner;
        FuzzArmAllocationFailure(failAt);
        image.Open(path);
        if (image.reader()) {
            if (!image.reader()->deferredHeader) owner.SetMaxDim();
            image.LoadHere();
        }
        return FuzzDisarmAllocationFailure();
    };
    const uint32_t allocations = load(0);
    if (allocations > 0) load(1 + InputHash(data, size) % allocations);
}

void FuzzReadRowsHandedOn(const uint8_t* data, size_t size, const std::string& extension) {
    SetDecodesOnCallingThread(true);
    const std::string path = FuzzWriteInput(data, size, extension);
    if (path.empty()) return;

    std::unique_ptr<CImageReader> reader = CreateReader(path);
    if (!reader) return;
    std::atomic<int64_t> done{0};
    reader->ownRows = true;
    reader->rowsDone = &done;
    reader->OpenFile();
    if (reader->deferredHeader) reader->DecodeAll();
    const BITMAPINFOHEADER& header = reader->header.bmiHeader;
    const int32_t height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    // What a row pipe's consumer reads of a row: its pixels, not the padding of the layout.
    const size_t rowBytes = static_cast<size_t>(header.biWidth) * (header.biBitCount / 8);
    if (header.biWidth > 0 && height > 0 && rowBytes > 0) {
        std::vector<uint8_t> own(static_cast<size_t>(DibStride(header.biWidth, header.biBitCount)) +
                                 1);
        // Every byte of every row is read, so that a row given back too early, or moved away
        // under the consumer, shows as a fault.
        uint32_t sum = 0;
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = own.data();
            if (reader->NextLine(&row) != y) break;
            for (size_t i = 0; i < rowBytes; ++i) sum += row[i];
            done.store(y + 1, std::memory_order_release);
            // A reader that has failed and hands out no row of its own has no more to give.
            if (!reader->failure.empty() && row == own.data()) break;
        }
        g_rowSum = sum;
    }
    reader->rowsDone = nullptr;
    reader->Close();
}
