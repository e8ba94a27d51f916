#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "thumbs/thumbnail_list.h"

class CThumbnailCache;

// Decides which thumbnail of the folder is decoded next, decodes it at 128 x 128 at most on the
// image loader, stores it in the cache and keeps it in memory for the pane; and runs the probe
// thread that asks the cache which files already have a valid thumbnail.
//
// Up to kMaxDecodes pictures decode at once, one loader thread each (one per core): every free
// decode takes the next item the scan chooses, so the items start in the order a single decode
// would take them.
//
// Everything here runs on the GUI thread except SetMaxDim (loader threads) and the probe's body.
// Loaders post WM_IMAGE_DONE to the notify window and the probe sends WM_CACHE_STATUS and
// WM_PROBE_FINISHED to it; its owner hands those to LoadNext, OnCacheStatus and
// OnProbeFinished.
class CThumbnailLoader {
public:
    static constexpr int32_t kThumbnailSize = 128;
    static constexpr int kMaxDecodes = 2;
    // kMaxDecodes, or fewer on a machine with fewer hardware threads.
    static int DefaultDecodes();

    // notify: the list's window, which receives the loaders' and the probe's messages.
    CThumbnailLoader(IThumbnailList& list, HWND notify);
    // Stops the probe and the decode, then frees every decoded picture.
    ~CThumbnailLoader();
    CThumbnailLoader(const CThumbnailLoader&) = delete;
    CThumbnailLoader& operator=(const CThumbnailLoader&) = delete;

    // The cache (not owned); null or unavailable: thumbnails come from decoding alone.
    void SetCache(CThumbnailCache* cache);
    // "MaxThumbsLoad"; 0 or less is taken as 1000. Takes effect at the next Reset.
    void SetMemoryLimit(int32_t limit);
    // How many pictures may decode at once (1 to kMaxDecodes); takes effect at the next start.
    void SetParallelDecodes(int count);

    // A new listing: the full paths of the files, item i showing file i. Frees every decoded
    // picture and resets the loading state (the current item is kept). The caller has cancelled
    // the decode and stopped the probe before, and fills the list after.
    void Reset(std::vector<std::string> files);
    const std::vector<std::string>& Files() const { return files_; }

    // WM_IMAGE_DONE: takes the finished pictures and starts the next ones.
    void LoadNext();
    // The pane wants thumbnails: runs LoadNext at once unless a picture is decoding.
    void Activate();
    // Stops and frees the pictures being decoded; the pane no longer wants thumbnails.
    void CancelLoad();
    bool IsActive() const { return active_; }
    bool IsDecoding() const;
    // A decode is free to start a picture (LoadNext would start one if an item is left).
    bool CanStartDecode() const;
    // Pictures started since construction, the stopped ones included.
    uint64_t DecodesStarted() const { return starts_; }

    // The item painting asks for first (-1: none).
    void SetRequestedItem(int32_t item) { requested_ = item; }
    int32_t RequestedItem() const { return requested_; }
    // Scrolling sets the direction the scan prefers.
    void SetScrollForward(bool forward) { scrollForward_ = forward; }
    bool ScrollForward() const { return scrollForward_; }
    // The decoded picture of an item, or null.
    const CImage* DecodedImage(int32_t item) const;

    // The probe thread: started after the list is filled when the cache is available; stopped
    // before every reset, before the settings and Make thumbnails dialogs and at destruction.
    void StartProbe();
    void StopProbe();
    void SetProbePriority(int priority);
    // WM_CACHE_STATUS and WM_PROBE_FINISHED.
    void OnCacheStatus(WPARAM item, LPARAM status);
    void OnProbeFinished();

private:
    // One picture under way. It is the size-limit owner of its picture: SetMaxDim runs on that
    // picture's loader thread.
    struct Decode : ISetMaxDim {
        void SetMaxDim() override;
        // Stops the loader thread and frees the picture.
        void Stop();

        std::unique_ptr<CImage> image;
        std::atomic<CImage*> sizing{nullptr};
        int32_t item = -1;
        bool fromCache = false;
        uint64_t started = 0;  // start order, so finished pictures are taken oldest first
    };

    bool CacheOn() const;
    bool InFlight(int32_t item) const;
    // Step A of a run: keeps the finished picture and stores it.
    void TakeFinished(Decode& decode);
    int32_t ChooseNext(std::string* thumbnailPath);
    void StartDecode(Decode& decode, int32_t item, const std::string& thumbnailPath);
    void StopDecodes();
    void KeepPicture(int32_t item, std::unique_ptr<CImage> image, IThumbnailList::Span span,
                     bool stored);
    void RunProbe(std::vector<std::string> files);

    IThumbnailList& list_;
    HWND notify_;
    CThumbnailCache* cache_ = nullptr;
    std::vector<std::string> files_;
    std::array<Decode, kMaxDecodes> decodes_;
    int parallel_ = 1;
    uint64_t starts_ = 0;
    // Where the scan stands: the item chosen last; -1 when it found nothing.
    int32_t currentItem_ = -1;
    int32_t requested_ = -1;
    bool scrollForward_ = true;
    bool active_ = false;
    bool abort_ = false;
    bool firstTime_ = true;

    int32_t memoryLimit_ = 1000;
    bool memoryLimitMode_ = false;
    // Without memory limit mode one picture per file; in it the ring of (item, picture) and a
    // per-file pointer into it.
    std::vector<std::unique_ptr<CImage>> slots_;
    std::vector<std::pair<int32_t, std::unique_ptr<CImage>>> ring_;
    std::vector<CImage*> perItem_;
    int32_t ringFill_ = 0;
    int32_t ringPosition_ = 0;
    // Items decoded and dropped far from the view because the cache did not take them: not
    // chosen again while they stay far, or they would be decoded over and over.
    std::vector<bool> finished_;

    CWorkerThread probe_;
    bool probeStarted_ = false;
    std::atomic<bool> probeStop_{false};
    int probePriority_ = THREAD_PRIORITY_IDLE;
};
