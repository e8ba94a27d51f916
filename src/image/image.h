#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "image/bitmap.h"
#include "platform/heap.h"
#include "platform/thread.h"
#include "platform/window.h"

class CImageReader;

// A source of pixel rows. A reader writes the next row into the buffer *row points at; an image
// points *row at its own next source row. The result is the row index (images) or the reader's
// line counter.
class INextLine {
public:
    virtual int NextLine(uint8_t** row) = 0;

    // Set by a row pipe reading this source on its thread: how many rows, from the first, the
    // pipe's consumer is done with. A reader that hands out rows of its own may reuse theirs.
    const std::atomic<int64_t>* rowsDone = nullptr;

protected:
    ~INextLine() = default;
};

// The object that decides how large an image is shown. Called on the loader thread once a
// deferred header is known; it calls SetSizeLimit with the in-loader flag set.
class ISetMaxDim {
public:
    virtual void SetMaxDim() = 0;

protected:
    ~ISetMaxDim() = default;
};

// The band of display rows an image-progress message announces; {0, 0} is the whole image.
// Allocated with new by the loader, deleted by whoever receives the message.
struct ProgressRecord {
    int32_t first;
    int32_t last;
};

// The minimum share of display rows (percent) a load completes before honouring a stop that
// comes with the immediate flag. Read from "MinPercLoad" at every image construction.
extern std::atomic<int32_t> g_minLoadPercentage;

// The one in-memory picture: a source bitmap as the reader delivers it and a display bitmap at
// the size the owner asked for, both in the DIB layout, plus the loader thread that fills them.
class CImage : public INextLine {
public:
    CImage();
    virtual ~CImage();
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Chooses a reader by the path's extension and reads the header. Stops a running load.
    void Open(const std::string& path);
    // Takes the reader's header as source and display header and allocates the source buffer.
    void AdoptHeader(CImageReader* fromReader);
    // Fits the display size into maxWidth x maxHeight keeping the aspect ratio (0: that side
    // follows from the other), never larger than the source unless upscale is set.
    void SetSizeLimit(int32_t maxWidth, int32_t maxHeight, bool inLoader, bool upscale);

    // The loader thread.
    void StartLoad(int priority);
    void StopLoad();
    void FinishLoad();
    bool IsLoading() const;
    // Open, fit, load at normal priority and wait: the display image is complete on return.
    void LoadNow(const std::string& path, int32_t maxWidth, int32_t maxHeight);
    // The load StartLoad runs, on the calling thread instead of a loader thread (fuzzing and
    // tools that need no thread); nothing is posted unless a notify window is set.
    void LoadHere();

    // Keeps only the display image; a later load decodes the file again.
    void DiscardSource();

    // Writes the display image as JPEG, BMP or PNG, chosen by the path's extension. True when a
    // file stands at the path afterwards; otherwise `why`, when given, says what went wrong (it
    // may be empty).
    bool Save(const std::string& path, std::string* why = nullptr);

    int32_t GetWidth() const;
    int32_t GetHeight() const;
    int32_t GetSourceWidth() const;
    int32_t GetSourceHeight() const;

    // Points *row at the next source row (the last row again once at the end) and returns its index.
    int NextLine(uint8_t** row) override;

    // Set by the owner after construction. The notify window may change while a load runs (the
    // image pane hands it from one image to the other), so the loader reads it once per use.
    std::atomic<HWND> notifyWindow{nullptr};
    ISetMaxDim* sizeLimitOwner = nullptr;
    int32_t progressStep = 0;            // percent of display rows between progress notices
    bool progressNotices = true;         // clear buffers and post image-progress
    std::atomic<bool> immediate{false};  // honour a stop only after "MinPercLoad" percent
    // Batch use: a reduced load from a reader of one row per call reads the source through a
    // few rows of working memory instead of a full-size buffer, and ends as DiscardSource
    // leaves an image (the display only; a later load decodes the file again).
    bool streamSource = false;
    // Thumbnail use, set before Open: a reduced load may have the reader deliver the picture
    // at a smaller size (at least twice the display's each way) for the box path to finish.
    // GetSourceWidth and GetSourceHeight still give the file's own size, and such a load ends as
    // DiscardSource leaves an image.
    bool reducedDecode = false;
    // Shown as it loads: a picture that can come coarse first (a progressive JPEG) is delivered
    // twice, coarse and then final, and the final rows are those of a single pass.
    bool coarsePass = false;
    // The height of the window the picture is shown in (0: not known). A picture shown at its
    // own size and taller than that first shows only its middle rows, so the coarse pass makes
    // only those; the others stay as they are until the final pass.
    int32_t windowHeight = 0;

    // State the owners read.
    std::string path;
    std::atomic<int32_t> loadSerial{0};
    std::atomic<bool> done{false};
    // The last load ran out of working memory: its display is not the whole picture, so it is
    // never saved. Cleared when a load starts.
    std::atomic<bool> outOfMemory{false};
    // Why the last open or load gave no picture, or only part of it, in a few words (empty when
    // nothing went wrong). Written before the loader says it is done; read once it is.
    std::string failure;

    // The pictures. Touched by one thread at a time: the owner while no loader runs, the loader
    // while it runs (see StopLoad).
    BITMAPINFO displayHeader;
    BITMAPINFO sourceHeader;
    uint8_t* displayBuffer = nullptr;
    uint8_t* sourceBuffer = nullptr;
    int32_t displayStride = 0;
    int32_t sourceStride = 0;
    // Bytes actually allocated behind each buffer. After DiscardSource the source buffer is the
    // small display buffer while the source header still names the file's size.
    size_t displayBytes = 0;
    size_t sourceBytes = 0;
    int32_t requestedWidth = 0;
    int32_t requestedHeight = 0;
    int32_t currentLine = -1;
    bool downscale = false;
    bool upscale = false;
    bool decodePending = false;
    std::atomic<bool> stop{false};

    CImageReader* reader() const { return reader_.get(); }

private:
    void RunLoad();
    void FreeDisplayBuffer();
    void DeleteReader();

    CPrivateHeap heap_;
    CWorkerThread thread_;
    std::unique_ptr<CImageReader> reader_;

    friend class CImageLoad;
};
