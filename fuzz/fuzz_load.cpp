#include "fuzz/fuzz_load.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "fuzz/fuzz_read.h"
#include "image/image.h"
#include "image/jpeg_reader.h"
#include "image/resample.h"

namespace {

// Every reader that decodes on threads of its own runs this many decodes at once.
constexpr int kDecodePlaces = 3;

std::atomic<bool> g_holding{false};
std::atomic<int> g_held{0};

void HoldDecode() {
    ++g_held;
    // Bounded, so that a load which is never stopped cannot stall the fuzzer.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (g_holding && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Pause() {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

}  // namespace

void FuzzLoadImage(const uint8_t* data, size_t size, const std::string& extension) {
    BuildGammaTables();
    const std::string path = FuzzWriteInput(data, size, extension);
    if (path.empty()) return;

    CImage image;
    image.coarsePass = true;  // as the viewer shows a load: a progressive JPEG comes twice
    // As the viewer's start file: a JPEG's header and scans read ahead on a thread of their own,
    // taken over by the full-size load.
    const bool jpeg = extension == ".jpg" || extension == ".jpeg";
    if (jpeg) StartEarlyJpegRead(path);
    image.LoadNow(path, 1 << 30, 1 << 30);  // full size: direct path
    if (jpeg) EndEarlyJpegRead();
    image.coarsePass = false;
    image.LoadNow(path, 37, 23);             // reduced: box path
    image.Open(path);
    image.SetSizeLimit(48, 48, false, true);  // enlarged (sinc path) when smaller than 48 x 48
    image.StartLoad(0);
    image.FinishLoad();
    CImage streamed;  // as batch resize loads: rows handed on, no source picture
    streamed.streamSource = true;
    streamed.LoadNow(path, 37, 23);
    CImage thumbnail;  // as thumbnails load: the reader may deliver the picture reduced
    thumbnail.reducedDecode = true;
    thumbnail.LoadNow(path, 128, 128);
    CImage left;  // as the pane leaves a load for the next file: stopped wherever it is
    left.Open(path);
    left.SetSizeLimit(37, 23, false, false);
    left.StartLoad(0);
    left.StopLoad();
}

void FuzzLoadLeavingItsDecode(const uint8_t* data, size_t size, const std::string& extension,
                              void (*setHook)(void (*)()), int (*decodesRunning)()) {
    const std::string path = FuzzWriteInput(data, size, extension);
    if (path.empty()) return;
    // Nothing of an earlier load may take a held place.
    while (decodesRunning() > 0) Pause();
    g_held = 0;
    g_holding = true;
    setHook(HoldDecode);
    {
        // As the viewer browsing on through slow pictures: loads whose decodes are held, until
        // every place for a decode is taken and the next load waits for one; then all are left.
        std::unique_ptr<CImage> images[kDecodePlaces + 1];
        int started = 0;
        while (started <= kDecodePlaces) {
            CImage& image = *(images[started] = std::make_unique<CImage>());
            ++started;
            image.Open(path);
            image.SetSizeLimit(37, 23, false, false);
            image.StartLoad(0);
            if (started > kDecodePlaces) {
                // Long enough to be waiting for a place.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                break;
            }
            while (g_held < started && image.IsLoading()) Pause();
            if (g_held < started) break;  // refused before its first row: no decode to hold
        }
        // The one waiting for a place is left first; then the held decodes go on, and their
        // loads are left while they run (all at once, so that each sees its stop in one poll).
        if (started > kDecodePlaces) images[--started]->StopLoad();
        g_holding = false;
        setHook(nullptr);
        Pause();
        for (int i = 0; i < started; ++i) images[i]->stop = true;
        for (int i = 0; i < started; ++i) images[i]->StopLoad();
    }
    while (decodesRunning() > 0) Pause();
}
