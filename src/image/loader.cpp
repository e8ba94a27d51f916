// The loader thread of an image: pulls rows from the reader (or from the image's own source
// buffer), runs one of the resampling paths, and tells the notify window about its progress.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "image/exif.h"
#include "image/image.h"
#include "image/loader.h"
#include "image/reader.h"
#include "image/resample.h"
#include "platform/start_trace.h"

namespace {

std::mutex g_serialLock;
int32_t g_serialCounter = 0;

// Rows made beyond each edge of the window's middle in a coarse pass: one iMCU row at most.
constexpr int32_t kCoarseRowsSpare = 16;

void Post(HWND window, UINT message, CImage* image, ProgressRecord* record) {
    window->PostMessage(message, reinterpret_cast<WPARAM>(image), reinterpret_cast<LPARAM>(record));
}

void SwapRedBlue(uint8_t* row, int32_t pixels) {
    for (int32_t x = 0; x < pixels; ++x, row += 3) std::swap(row[0], row[2]);
}

}  // namespace

int32_t PeekLoadSerialCounter() {
    std::lock_guard<std::mutex> lock(g_serialLock);
    return g_serialCounter;
}

void SetLoadSerialCounter(int32_t value) {
    std::lock_guard<std::mutex> lock(g_serialLock);
    g_serialCounter = value;
}

// One run of the loader: the progress and stop rules after every display row.
class CImageLoad : public IRowHook {
public:
    explicit CImageLoad(CImage& image) : image_(image) {}

    void Run();
    bool AfterRow(int32_t row) override;

private:
    enum class Path { kBox, kSinc, kDirect };

    void PostProgress(int32_t first, int32_t last);
    bool ReopenReader();
    bool StopHonouredBeforeRows() const;
    void RunPath(const ResampleJob& job, CImageReader* reader, bool firstPass);
    void RunTurnedBoxPath(const ResampleJob& job);
    void RunDirectPath(const ResampleJob& job, CImageReader* reader, bool firstPass);
    void TakeDecodedSourceAsDisplay();

    CImage& image_;
    Path path_ = Path::kDirect;
    int32_t interval_ = 1;
    int32_t last_ = 0;
    int32_t displayHeight_ = 0;
    bool bandTraced_ = false;
    // Not 1 when the box path reduces the rows as stored and turns its result by this.
    int turn_ = kOrientationAsStored;
};

namespace {

// The stored rows' pass has no upright rows to show yet: it only ends for a stop that needs no
// share of the picture done.
class CStoredRowsHook : public IRowHook {
public:
    explicit CStoredRowsHook(std::function<bool()> stopped) : stopped_(std::move(stopped)) {}
    bool AfterRow(int32_t) override { return stopped_(); }

private:
    std::function<bool()> stopped_;
};

}  // namespace

void CImageLoad::PostProgress(int32_t first, int32_t last) {
    HWND window = image_.notifyWindow.load();
    if (window && image_.progressNotices) {
        Post(window, WM_IMAGE_PROGRESS, &image_, new ProgressRecord{first, last});
        if (!bandTraced_ && (first != 0 || last != 0)) {
            TraceStartStep("band-posted", last);
            bandTraced_ = true;
        }
    }
}

// The stop rule before the first row: no share of the rows is done yet.
bool CImageLoad::StopHonouredBeforeRows() const {
    return image_.stop.load(std::memory_order_acquire) &&
           (!image_.immediate.load() || g_minLoadPercentage.load() < 1);
}

bool CImageLoad::AfterRow(int32_t j) {
    if ((j + 1) % interval_ == 0) {
        PostProgress(last_, j);
        last_ = j;
    }
    if (!image_.stop.load(std::memory_order_acquire)) return false;
    const int32_t minimum = g_minLoadPercentage.load();
    const bool honour = !image_.immediate.load() || minimum < 1 ||
                        static_cast<double>(j) / displayHeight_ * 100.0 > minimum;
    if (!honour) return false;
    if (path_ == Path::kDirect) {
        if (HWND window = image_.notifyWindow.load()) window->UpdateWindow();
    } else {
        PostProgress(last_, j);
    }
    return true;
}

// A fresh reader for a load that decodes again. Its header must still describe the source the
// image holds: a file replaced by another of a different size on disk is not decoded at all.
bool CImageLoad::ReopenReader() {
    CImage& im = image_;
    im.DeleteReader();
    im.failure.clear();
    im.reader_ = CreateReader(im.path);
    if (!im.reader_) return false;
    CImageReader& reader = *im.reader_;
    reader.reducible = im.reducedDecode;
    reader.OpenFile();
    if (reader.deferredHeader) return true;
    const BITMAPINFOHEADER& fresh = reader.header.bmiHeader;
    const BITMAPINFOHEADER& held = im.sourceHeader.bmiHeader;
    if (fresh.biWidth != held.biWidth || fresh.biHeight != held.biHeight ||
        fresh.biBitCount != held.biBitCount) {
        im.failure = reader.failure.empty() ? "the file changed on disk" : reader.failure;
        im.DeleteReader();
        return false;
    }
    const size_t needed =
        static_cast<size_t>(im.sourceStride) * static_cast<size_t>(std::abs(held.biHeight)) + 1;
    const bool resampling = im.downscale || im.upscale;
    // After DiscardSource the source buffer is the display's. Rows decoded into it would be
    // overwritten by the rows resampled from them, so a resampling load gets a source of its own.
    if (resampling && (im.sourceBuffer == im.displayBuffer || im.sourceBytes < needed)) {
        if (im.sourceBuffer != im.displayBuffer) im.heap_.Free(im.sourceBuffer);
        im.sourceBuffer = static_cast<uint8_t*>(im.heap_.AllocZeroed(needed));
        im.sourceBytes = im.sourceBuffer ? needed : 0;
    }
    if (im.sourceBuffer && im.sourceBytes >= needed) return true;
    im.failure = "out of memory";
    im.DeleteReader();
    return false;
}

void CImageLoad::TakeDecodedSourceAsDisplay() {
    CImage& im = image_;
    if (im.displayBuffer && im.displayBuffer != im.sourceBuffer) im.heap_.Free(im.displayBuffer);
    im.displayHeader = im.sourceHeader;
    im.displayBuffer = im.sourceBuffer;
    im.displayStride = im.sourceStride;
    im.displayBytes = im.sourceBytes;
    CImageReader* reader = im.reader();
    if (reader && reader->rgbOrder && im.sourceHeader.bmiHeader.biBitCount == 24 && im.sourceBuffer) {
        const int32_t rows = std::abs(im.sourceHeader.bmiHeader.biHeight);
        for (int32_t r = 0; r < rows; ++r)
            SwapRedBlue(im.sourceBuffer + static_cast<size_t>(r) * im.sourceStride,
                        im.sourceHeader.bmiHeader.biWidth);
        reader->rgbOrder = false;
    }
}

void CImageLoad::RunDirectPath(const ResampleJob& job, CImageReader* reader, bool firstPass) {
    CImage& im = image_;
    // A final pass writes over the coarse rows, which stay on screen until it has.
    if (firstPass && im.notifyWindow.load() && im.progressNotices) {
        std::memset(im.sourceBuffer, 0, static_cast<size_t>(im.sourceStride) * displayHeight_);
        PostProgress(0, 0);
    }
    ::RunDirectPath(job);
    if (reader) reader->rgbOrder = false;
}

// The job describes the stored rows and a display turned like them: their box is reduced into a
// buffer of that shape, which is then turned into the display, and the upright rows are
// reported as the box path reports them.
void CImageLoad::RunTurnedBoxPath(const ResampleJob& job) {
    path_ = Path::kBox;
    const int32_t storedWidth = job.displayWidth, storedHeight = job.displayHeight;
    const int p = job.bytesPerPixel;
    const size_t stride = static_cast<size_t>(DibStride(storedWidth, p * 8));
    const size_t bytes = stride * static_cast<size_t>(storedHeight);
    // A fourth byte is copied too: it is 0, as in a cleared display.
    std::unique_ptr<uint8_t[]> stored(p == 4 ? new (std::nothrow) uint8_t[bytes]()
                                             : new (std::nothrow) uint8_t[bytes]);
    if (!stored) {
        job.outOfMemory = true;
        return;
    }
    CStoredRowsHook hook([this] { return StopHonouredBeforeRows(); });
    ResampleJob storedJob = job;
    storedJob.display = stored.get();
    storedJob.displayStride = static_cast<int32_t>(stride);
    storedJob.hook = &hook;
    const bool stopped = RunBoxPath(storedJob);
    job.outOfMemory = storedJob.outOfMemory;
    if (stopped || job.outOfMemory) return;
    PlaceTransposedRows(stored.get(), stride, 0, storedHeight, storedWidth, storedHeight, p, turn_,
                        job.display, static_cast<size_t>(job.displayStride));
    for (int32_t j = 0; j < displayHeight_; ++j)
        if (AfterRow(j)) break;
}

void CImageLoad::RunPath(const ResampleJob& job, CImageReader* reader, bool firstPass) {
    CImage& im = image_;
    if (im.downscale && turn_ != kOrientationAsStored) {
        RunTurnedBoxPath(job);
    } else if (im.downscale) {
        path_ = Path::kBox;
        RunBoxPath(job);
    } else if (im.upscale) {
        path_ = Path::kSinc;
        RunSincPath(job);
    } else {
        path_ = Path::kDirect;
        // The display is the source here: its rows are cleared and filled in the source
        // buffer, which must hold every one of them.
        const int32_t dw = im.displayBuffer ? im.displayHeader.bmiHeader.biWidth : 0;
        const bool fits = im.sourceBuffer && im.displayStride == im.sourceStride &&
                          dw <= job.sourceWidth &&
                          static_cast<size_t>(im.sourceStride) * displayHeight_ <= im.sourceBytes;
        if (fits) RunDirectPath(job, reader, firstPass);
    }
}

void CImageLoad::Run() {
    CImage& im = image_;
    if (im.path.empty()) return;

    if (!im.downscale && !im.decodePending && !im.upscale) {
        TakeDecodedSourceAsDisplay();
        im.done = true;
        if (HWND window = im.notifyWindow.load()) Post(window, WM_IMAGE_DONE, &im, nullptr);
        PostProgress(0, 0);
        return;
    }
    im.done = false;
    if (im.notifyWindow.load()) TraceStartStep("decode-start");

    bool readable = true;
    bool streamed = false;
    bool reduced = false;
    bool outOfMemory = false;
    if (im.decodePending) {
        if (!im.reader_ || im.reader_->lineCounter != -1) readable = ReopenReader();
        if (readable && im.reader_->deferredHeader) {
            if (im.stop.load()) {
                im.DeleteReader();
                return;
            }
            // Leaving an image must not wait for its whole decode: asked to stop, the reader
            // leaves it, and the load ends as one stopped before its decode.
            im.reader_->decodeStopped = [this] { return StopHonouredBeforeRows(); };
            im.reader_->DecodeAll();
            im.reader_->decodeStopped = nullptr;
            if (StopHonouredBeforeRows()) {
                im.DeleteReader();
                return;
            }
            im.AdoptHeader(im.reader_.get());
            if (im.sizeLimitOwner)
                im.sizeLimitOwner->SetMaxDim();
            else
                im.SetSizeLimit(im.requestedWidth, im.requestedHeight, true, false);
        }
    }

    if (readable) {
        const int32_t dw = im.displayBuffer ? im.displayHeader.bmiHeader.biWidth : 0;
        displayHeight_ = im.displayBuffer ? std::abs(im.displayHeader.bmiHeader.biHeight) : 0;
        if (im.progressStep != 0)
            interval_ = static_cast<int32_t>(displayHeight_ / 100.0 * im.progressStep);
        if (im.progressStep == 0 || interval_ <= 0) interval_ = 1;

        CImageReader* reader = im.decodePending ? im.reader() : nullptr;
        // A reader that decodes much of the file for one row asks it too.
        if (reader) reader->decodeStopped = [this] { return StopHonouredBeforeRows(); };
        ResampleJob job;
        job.lines = reader ? static_cast<INextLine*>(reader) : static_cast<INextLine*>(&im);
        job.fromReader = reader != nullptr;
        job.source = im.sourceBuffer;
        job.sourceStride = im.sourceStride;
        job.sourceWidth = im.sourceBuffer ? im.sourceHeader.bmiHeader.biWidth : 0;
        job.sourceHeight = im.sourceBuffer ? std::abs(im.sourceHeader.bmiHeader.biHeight) : 0;
        job.currentLine = &im.currentLine;
        job.display = im.displayBuffer;
        job.displayStride = im.displayStride;
        job.displayWidth = dw;
        job.displayHeight = displayHeight_;
        job.bytesPerPixel = im.displayHeader.bmiHeader.biBitCount / 8;
        job.rgbOrder = im.reader() && im.reader()->rgbOrder;
        job.hook = this;
        im.currentLine = -1;

        // Loads that allow it take the rows at a reduced size, still at least twice the display
        // each way, so that the box path still averages every display pixel over an area.
        int32_t reducedWidth = 0, reducedHeight = 0;
        reduced = reader && reader->reducible && im.downscale && im.sourceBuffer && dw > 0 &&
                  displayHeight_ > 0 &&
                  reader->Reduce(2 * dw, 2 * displayHeight_, &reducedWidth, &reducedHeight);
        if (reduced) {
            job.sourceWidth = reducedWidth;
            job.sourceHeight = reducedHeight;
            job.sourceStride =
                static_cast<int32_t>(DibStride(reducedWidth, im.sourceHeader.bmiHeader.biBitCount));
        }

        // Turned a quarter, a picture's first upright row needs every stored row. When the
        // source is not kept (streamed or reduced), the rows are reduced as stored instead, to
        // the display's size turned, and only that small result is turned.
        if (reader && im.downscale && (im.streamSource || reduced) && dw > 0 &&
            displayHeight_ > 0) {
            const int32_t storedWidth = job.sourceHeight, storedHeight = job.sourceWidth;
            const size_t storedStride =
                static_cast<size_t>(DibStride(storedWidth, im.sourceHeader.bmiHeader.biBitCount));
            // Unstreamed, the stored rows go into the source buffer, which must hold them.
            const bool fits = im.streamSource ||
                              storedStride * static_cast<size_t>(storedHeight) <= im.sourceBytes;
            if (fits) turn_ = reader->DeliverStoredRows();
            if (!OrientationTransposes(turn_)) {
                turn_ = kOrientationAsStored;
            } else {
                job.sourceWidth = storedWidth;
                job.sourceHeight = storedHeight;
                job.sourceStride = static_cast<int32_t>(storedStride);
                job.displayWidth = displayHeight_;
                job.displayHeight = dw;
                job.rgbOrder = reader->rgbOrder;
            }
        }

        streamed = im.streamSource && reader && im.downscale && !reader->allRowsAtOnce;
        if (streamed) {
            // The source buffer was never touched, so it has cost no memory yet; it goes now.
            im.heap_.Free(im.sourceBuffer);
            im.sourceBuffer = nullptr;
            im.sourceBytes = 0;
            job.source = nullptr;
            job.streaming = true;
        }

        // Unless streamed or reduced, the paths read row r into the source buffer's row r.
        if (reader) {
            const bool inPlace = !streamed && !reduced && job.source;
            reader->rowTarget = inPlace ? job.source : nullptr;
            reader->rowTargetStride = inPlace ? static_cast<size_t>(job.sourceStride) : 0;
            reader->rowTargetBytes = inPlace ? im.sourceBytes : 0;
            // Streamed rows are only read, by the row pipe, before the reader is closed.
            reader->ownRows = streamed;
        }

        // A coarse pass costs a pass of its own, worth it only when rows reach a screen.
        if (reader) reader->coarsePass = im.coarsePass && !streamed && !reduced;
        if (reader && reader->coarsePass && !im.downscale && !im.upscale &&
            im.windowHeight > 0 && displayHeight_ > im.windowHeight) {
            // Shown at its own size, the picture first shows its middle: the coarse pass makes
            // those rows, with an iMCU row to spare for the rounding of a bottom-up layout.
            const int32_t first = (displayHeight_ - im.windowHeight) / 2 - kCoarseRowsSpare;
            reader->coarseFirstRow = std::max(first, 0);
            reader->coarseEndRow = first + im.windowHeight + 2 * kCoarseRowsSpare;
        }
        RunPath(job, reader, true);
        while (reader && !im.stop.load() && !job.outOfMemory && reader->NextPass()) {
            // The coarse picture is all there: shown whole before the final rows replace it.
            PostProgress(0, 0);
            last_ = 0;
            im.currentLine = -1;
            RunPath(job, reader, false);
        }
        if (reader) reader->decodeStopped = nullptr;
        outOfMemory = job.outOfMemory;
        // Damage the reader met on the way (a file cut short).
        if (im.reader_ && !im.reader_->failure.empty()) im.failure = im.reader_->failure;
    }

    im.immediate = false;
    const bool stopped = im.stop.load();
    if (outOfMemory) {
        // The rows not resampled are still zeros: saved, they would pass for the picture, so the
        // image says so. Its buffers stay (a pane may be painting from them); a source the
        // reader had only begun to fill is decoded afresh by any later load.
        im.outOfMemory = true;
        im.failure = "out of memory";
        im.DeleteReader();
    } else if (im.decodePending && im.reader_) {
        // A whole-picture decode stopped part-way has put only some of its rows into the
        // source: shown from memory, the missing rows would show as black. It is decoded
        // again, and its decoded picture goes at once.
        const bool wholeSource = im.currentLine >= std::abs(im.sourceHeader.bmiHeader.biHeight) - 1;
        if (!stopped || (im.reader_->deferredHeader && wholeSource)) {
            im.decodePending = false;
            im.reader_->Close();
        } else if (im.reader_->deferredHeader) {
            im.DeleteReader();
        }
    }
    if (streamed || reduced) {
        // What DiscardSource leaves: the display stands in for the source, and the file is
        // decoded again by any later load. Reduced rows no longer match the source header.
        if (im.sourceBuffer != im.displayBuffer) im.heap_.Free(im.sourceBuffer);
        im.sourceBuffer = im.displayBuffer;
        im.sourceBytes = im.displayBytes;
        im.DeleteReader();
        im.decodePending = true;
    }
    if (!stopped) {
        PostProgress(0, 0);
        im.done = true;
        if (HWND window = im.notifyWindow.load()) Post(window, WM_IMAGE_DONE, &im, nullptr);
    }
}

void CImage::RunLoad() {
    CImageLoad load(*this);
    load.Run();
}

void CImage::StartLoad(int priority) {
    StopLoad();
    stop = false;
    // Not done from the moment a load is asked for: a caller looking before the thread has
    // run would otherwise take the previous load's picture for this one's.
    done = false;
    outOfMemory = false;
    {
        std::lock_guard<std::mutex> lock(g_serialLock);
        ++g_serialCounter;
        loadSerial = g_serialCounter;
        if (g_serialCounter > 100000) g_serialCounter = 0;
    }
    thread_.Start([this] { RunLoad(); }, priority);
}

void CImage::LoadHere() {
    StopLoad();
    stop = false;
    done = false;
    outOfMemory = false;
    RunLoad();
}

void CImage::StopLoad() {
    stop = true;
    thread_.WaitUntilStopped();
}

void CImage::FinishLoad() {
    if (!thread_.IsRunning()) return;
    thread_.SetPriority(THREAD_PRIORITY_NORMAL);
    thread_.WaitUntilStopped();
}

bool CImage::IsLoading() const { return thread_.IsRunning(); }

void CImage::LoadNow(const std::string& file, int32_t maxWidth, int32_t maxHeight) {
    Open(file);
    SetSizeLimit(maxWidth, maxHeight, false, false);
    StartLoad(THREAD_PRIORITY_NORMAL);
    FinishLoad();
}
