#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "thumbs/cache_index.h"

class CImage;

// The on-disk thumbnail cache. Under its root folder every image folder ever shown has a
// subfolder named by a random key; the thumbnail of folder/name is subfolder/name.jpg, and it is
// valid while its modification time equals the image's to the nanosecond. The index file
// "CacheList.txt" in the root lists the subfolders, their sizes and their image folders, most
// recently used first.
//
// The index stays locked from construction to destruction, so a second running copy of the
// program finds the cache unavailable instead of sharing it. Two background threads tidy up: the
// orphan sweep removes thumbnails of images that are gone from the current folder, and the
// eviction removes least recently used subfolders once the cache outgrows "MaxCacheSize".
//
// All calls come from one thread, except Lookup, which the thumbnail pane's probe thread also
// makes. Sizes are counted in 8-byte units so that one 32-bit total covers 32 GiB.
class CThumbnailCache {
public:
    static constexpr const char* kIndexName = "CacheList.txt";
    // The index being written, until it takes the index's name.
    static constexpr const char* kNewIndexName = "CacheList.txt.new";

    // Opens the cache at root (created when missing, one level). An empty root, a root that
    // cannot be made or an index that cannot be opened and locked leave the cache unavailable.
    explicit CThumbnailCache(const std::string& root);
    // Stops the workers, then writes the index when the current folder got thumbnails, or
    // removes its empty subfolder when it got none.
    ~CThumbnailCache();
    CThumbnailCache(const CThumbnailCache&) = delete;
    CThumbnailCache& operator=(const CThumbnailCache&) = delete;

    bool IsAvailable() const { return available_; }

    // Makes folder current: its record moves to the front, or a new one with a fresh subfolder
    // is put there. The folder left behind is written to the index, or forgotten when it got no
    // thumbnails.
    void SetDirectory(std::string folder);
    // The path of a valid thumbnail of the image (which lies in the current folder), or "".
    std::string Lookup(const std::string& imagePath) const;
    // Writes the image's display picture as the thumbnail of imagePath and counts its size. A
    // thumbnail that replaces an older one adds its full size. False when nothing was written.
    bool Store(const std::string& imagePath, CImage& image);
    // Sets the size limit in MB (0 or less: none); may start the eviction.
    void SetMaxSize(int32_t megabytes);
    // Starts or resumes the orphan sweep of the current folder, unless it has finished or the
    // folder is on optical media.
    void StartSweep();
    // Holds the sweep at its next entry until StartSweep.
    void PauseSweep();

    // For owners and tests.
    const std::string& Root() const { return root_; }
    const std::string& CurrentSubfolder() const { return currentSubfolder_; }
    std::vector<CacheEntry> Records() const;
    uint32_t TotalUnits() const;
    bool IsSweepDone() const { return sweepDone_.load(std::memory_order_acquire); }
    // Waits until the sweep and the eviction have ended; false when they still run at the
    // timeout (a paused sweep never ends by itself).
    bool WaitForWorkers(std::chrono::milliseconds timeout);
    // Waits until the sweep is held by PauseSweep (true), or has ended or was never started
    // (false).
    bool WaitForSweepHeld(std::chrono::milliseconds timeout);

private:
    void ReadIndex();
    void SaveIndex();
    void MaybeStartEviction();
    void StopSweep();
    void StopEviction();
    void RunSweep();
    void RunEviction(int64_t bytesToFree);
    // Waits while the sweep is paused; false when it should stop.
    bool SweepMayGoOn();

    std::string root_;
    std::string currentSubfolder_;
    std::string currentFolder_;
    std::atomic<int32_t> sizeLimit_{0};
    int indexFd_ = -1;
    bool available_ = false;

    // Guards the records' sizes, the total and dropping the last record while workers run.
    mutable std::mutex sizeLock_;
    std::vector<CacheEntry> records_;
    uint32_t totalUnits_ = 0;

    CWorkerThread sweepThread_;
    bool sweepStarted_ = false;
    std::atomic<bool> sweepStop_{false};
    std::atomic<bool> sweepDone_{false};
    std::mutex pauseLock_;
    std::condition_variable pauseChanged_;
    bool sweepPaused_ = false;
    bool sweepHeld_ = false;   // the sweep waits for StartSweep
    bool sweepEnded_ = false;  // the sweep's body has returned

    CWorkerThread evictionThread_;
    bool evictionStarted_ = false;
    std::atomic<bool> evictionStop_{false};
};

// Holds the index lock of the cache at root, as a running copy does, while the caller moves or
// deletes that folder: no copy is using it then, and none can start to meanwhile. Nothing is
// made; a folder without an index is free.
class CCacheFolderLock {
public:
    explicit CCacheFolderLock(const std::string& root);
    ~CCacheFolderLock();
    CCacheFolderLock(const CCacheFolderLock&) = delete;
    CCacheFolderLock& operator=(const CCacheFolderLock&) = delete;

    // False when another copy holds the index, or when that cannot be told.
    bool IsFree() const { return free_; }

private:
    int fd_ = -1;
    bool free_ = false;
};
