#pragma once

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
// Everything here runs on the GUI thread except SetMaxDim (loader thread) and the probe's body.
// Loaders post WM_IMAGE_DONE to the notify window and the probe sends WM_CACHE_STATUS and
// WM_PROBE_FINISHED to it; its owner hands those to LoadNext, OnCacheStatus and
// OnProbeFinished.
class CThumbnailLoader : public ISetMaxDim {
public:
    static constexpr int32_t kThumbnailSize = 128;

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

    // A new listing: the full paths of the files, item i showing file i. Frees every decoded
    // picture and resets the loading state (the current item is kept). The caller has cancelled
    // the decode and stopped the probe before, and fills the list after.
    void Reset(std::vector<std::string> files);
    const std::vector<std::string>& Files() const { return files_; }

    // WM_IMAGE_DONE: takes the finished picture and starts the next one.
    void LoadNext();
    // The pane wants thumbnails: runs LoadNext at once unless a picture is decoding.
    void Activate();
    // Stops and frees the picture being decoded; the pane no longer wants thumbnails.
    void CancelLoad();
    bool IsActive() const { return active_; }
    bool IsDecoding() const { return current_ != nullptr; }

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

    // The pane is the size-limit owner of every picture it decodes.
    void SetMaxDim() override;

private:
    // Implementation's own; see thumbnail_loader.cpp.
    IThumbnailList& list_;
    HWND notify_;
    CThumbnailCache* cache_ = nullptr;
    std::vector<std::string> files_;
    std::unique_ptr<CImage> current_;
    int32_t currentItem_ = -1;
    int32_t requested_ = -1;
    bool scrollForward_ = true;
    bool active_ = false;
};
