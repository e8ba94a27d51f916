#include "platform/file_io.h"
#include "thumbs/thumbnail_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "image/image.h"
#include "settings/helpers.h"
#include "settings/settings.h"

#ifndef UDF_SUPER_MAGIC
#define UDF_SUPER_MAGIC 0x15013346
#endif

namespace {

// A record's share of the total, in 8-byte units (negative sizes wrap as the total does).
uint32_t Units(int32_t size) {
    return static_cast<uint32_t>(size >> 3);
}

int32_t ClampSize(int64_t size) {
    return static_cast<int32_t>(std::clamp<int64_t>(size, 0, INT32_MAX));
}

// The size limit in 8-byte units; limits past 32 GiB are taken as 32 GiB.
uint32_t LimitUnits(int32_t megabytes) {
    return static_cast<uint32_t>(std::min<int64_t>(int64_t{megabytes} << 17, UINT32_MAX));
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWithJpg(const char* name, size_t length) {
    return length > 4 && std::memcmp(name + length - 4, ".jpg", 4) == 0;
}

// Writers put a picture under ".lumora-<pid>-<n>.tmp" beside its target until it is whole; one
// that was killed leaves that file behind.
bool IsWriterTemporary(const char* name, size_t length) {
    return length > 12 && std::memcmp(name, ".lumora-", 8) == 0 &&
           std::memcmp(name + length - 4, ".tmp", 4) == 0;
}

// Removes a writer's temporary file that nobody has written for a minute and nobody holds a lock
// on: its writer is gone. Its bytes were never counted.
void RemoveIfAbandoned(const std::string& path) {
    constexpr time_t kAbandonedSeconds = 60;
    // Not blocking: a FIFO of that name must not hold up the sweep.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        time(nullptr) - st.st_mtime >= kAbandonedSeconds && flock(fd, LOCK_EX | LOCK_NB) == 0)
        unlink(path.c_str());
    close(fd);
}

void RemoveAbandonedTemporaries(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir))
        if (IsWriterTemporary(entry->d_name, std::strlen(entry->d_name)))
            RemoveIfAbandoned(folder + "/" + entry->d_name);
    closedir(dir);
}

// Removes the subfolder of a folder that got no thumbnails; true when it is gone. What killed
// writers left there does not keep it.
bool RemoveEmptySubfolder(const std::string& folder) {
    if (rmdir(folder.c_str()) == 0 || errno == ENOENT) return true;
    if (errno != ENOTEMPTY && errno != EEXIST) return false;
    RemoveAbandonedTemporaries(folder);
    return rmdir(folder.c_str()) == 0 || errno == ENOENT;
}

// Removes the thumbnails (regular *.jpg files) a subfolder holds, leaving anything else.
void RemoveThumbnails(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        if (!EndsWithJpg(entry->d_name, std::strlen(entry->d_name))) continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
    }
    closedir(dir);
}

// Opens the index (made when missing if create is O_CREAT) and takes its lock. The lock must sit
// on the file the path names now: after another copy replaced the index, a lock on the old file
// protects nothing. On failure errno tells why; EWOULDBLOCK means another copy holds it.
int OpenLockedIndex(const std::string& path, int create = O_CREAT) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | create | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        struct stat held {
        }, named{};
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fd;
        close(fd);
    }
    // The index keeps being replaced: somebody is using it.
    errno = EWOULDBLOCK;
    return -1;
}

bool IsOpticalMedia(const std::string& folder) {
    struct statfs fs {};
    if (statfs(folder.empty() ? "/" : folder.c_str(), &fs) != 0) return false;
    return fs.f_type == ISOFS_SUPER_MAGIC || static_cast<uint64_t>(fs.f_type) == UDF_SUPER_MAGIC;
}

}  // namespace

CThumbnailCache::CThumbnailCache(const std::string& root) : root_(root) {
    if (!root_.empty()) {
        if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
        // Thumbnails are small copies of private pictures and the index lists every folder
        // browsed: the cache is its owner's only.
        if (!IsDirectory(root_)) mkdir(root_.c_str(), 0700);
        if (IsDirectory(root_)) {
            indexFd_ = OpenLockedIndex(root_ + "/" + kIndexName);
            if (indexFd_ >= 0) {
                available_ = true;
                ReadIndex();
            }
        }
    }
    sizeLimit_ = ReadSetting(settings::kMaxCacheSize);
}

CThumbnailCache::~CThumbnailCache() {
    StopSweep();
    StopEviction();
    if (available_ && !currentSubfolder_.empty() && !records_.empty()) {
        if (records_.front().size > 0)
            SaveIndex();
        else
            RemoveEmptySubfolder(currentSubfolder_);
    }
    if (indexFd_ >= 0) close(indexFd_);
}

void CThumbnailCache::ReadIndex() {
    std::string text;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        ssize_t n = pread(indexFd_, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
    std::lock_guard<std::mutex> lock(sizeLock_);
    records_ = ParseCacheIndex(text);
    totalUnits_ = 0;
    for (const CacheEntry& record : records_) totalUnits_ += Units(record.size);
}

// Writes the whole index to a new file and renames it over the old one, so a crash leaves one
// of the two whole. The new file is locked before it takes the index's name, so there is no
// moment at which another copy could lock the index.
void CThumbnailCache::SaveIndex() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(sizeLock_);
        text = FormatCacheIndex(records_);
    }
    const std::string path = root_ + "/" + kIndexName;
    const std::string newPath = root_ + "/" + kNewIndexName;
    unlink(newPath.c_str());
    int fd = open(newPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return;
    bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && WriteAll(fd, text) && fsync(fd) == 0 &&
              rename(newPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        close(fd);
        unlink(newPath.c_str());
        return;
    }
    close(indexFd_);
    indexFd_ = fd;
    int dir = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
}

void CThumbnailCache::SetDirectory(std::string folder) {
    if (!available_) return;
    StopSweep();
    StopEviction();
    if (!currentSubfolder_.empty() && !records_.empty()) {
        if (records_.front().size == 0) {
            // A subfolder that still holds files keeps its record, so the eviction can reach it.
            if (RemoveEmptySubfolder(currentSubfolder_)) records_.erase(records_.begin());
        } else {
            SaveIndex();
        }
    }
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    currentFolder_ = folder;
    // Names differ by case on this platform, so identity is exact.
    auto found = std::find_if(records_.begin(), records_.end(),
                              [&](const CacheEntry& r) { return r.folder == folder; });
    if (found != records_.end()) {
        std::rotate(records_.begin(), found, found + 1);
        CacheEntry& record = records_.front();
        if (!record.upright) {
            // Made before photos were turned upright: any of them may lie on its side, and
            // nothing in a thumbnail tells, so all are made again as the folder is shown.
            RemoveThumbnails(root_ + "/" + record.key);
            std::lock_guard<std::mutex> lock(sizeLock_);
            totalUnits_ -= Units(record.size);
            record.size = 0;
            record.upright = true;
        }
    } else {
        std::string key = DrawFolderKey(root_, records_, RandomGuid);
        records_.insert(records_.begin(), CacheEntry{key, 0, folder});
    }
    currentSubfolder_ = root_ + "/" + records_.front().key;
    sweepDone_ = false;
}

std::string CThumbnailCache::Lookup(const std::string& imagePath) const {
    if (!available_ || currentSubfolder_.empty()) return {};
    size_t slash = imagePath.find_last_of('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string candidate;
    candidate.reserve(currentSubfolder_.size() + imagePath.size() - start + 5);
    candidate.append(currentSubfolder_).append(1, '/');
    candidate.append(imagePath, start, std::string::npos).append(".jpg");
    struct stat thumb {
    }, image{};
    if (stat(candidate.c_str(), &thumb) != 0 || !S_ISREG(thumb.st_mode)) return {};
    if (stat(imagePath.c_str(), &image) != 0) return {};
    if (thumb.st_mtim.tv_sec != image.st_mtim.tv_sec ||
        thumb.st_mtim.tv_nsec != image.st_mtim.tv_nsec)
        return {};
    return candidate;
}

bool CThumbnailCache::Store(const std::string& imagePath, CImage& image) {
    if (!available_ || currentSubfolder_.empty()) return false;
    const std::string name = FileNameOf(imagePath);
    if (name.empty()) return false;
    const std::string candidate = currentSubfolder_ + "/" + name + ".jpg";
    // The subfolder may have been removed by hand since its record was written.
    if (!IsDirectory(currentSubfolder_)) mkdir(currentSubfolder_.c_str(), 0700);
    const bool written = image.Save(candidate);
    if (written) {
        chmod(candidate.c_str(), 0600);
        struct stat source {};
        if (stat(imagePath.c_str(), &source) == 0) {
            const timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
            utimensat(AT_FDCWD, candidate.c_str(), times, 0);
        }
        struct stat written {};
        if (stat(candidate.c_str(), &written) == 0) {
            std::lock_guard<std::mutex> lock(sizeLock_);
            CacheEntry& current = records_.front();
            totalUnits_ -= Units(current.size);
            current.size = ClampSize(int64_t{current.size} + written.st_size);
            totalUnits_ += Units(current.size);
        }
    }
    MaybeStartEviction();
    return written;
}

void CThumbnailCache::SetMaxSize(int32_t megabytes) {
    sizeLimit_ = megabytes;
    MaybeStartEviction();
}

void CThumbnailCache::MaybeStartEviction() {
    if (!available_ || evictionStarted_) return;
    int32_t limit = sizeLimit_.load();
    if (limit <= 0) return;
    const uint32_t limitUnits = LimitUnits(limit);
    int64_t bytesToFree;
    {
        std::lock_guard<std::mutex> lock(sizeLock_);
        if (totalUnits_ <= limitUnits) return;
        // The goal is 80 % of the limit.
        bytesToFree = (int64_t{totalUnits_} - static_cast<int64_t>(0.8 * limitUnits)) * 8;
    }
    evictionStop_ = false;
    evictionStarted_ = evictionThread_.Start([this, bytesToFree] { RunEviction(bytesToFree); },
                                             THREAD_PRIORITY_LOWEST);
}

void CThumbnailCache::StartSweep() {
    if (!available_ || currentSubfolder_.empty() || sweepDone_) return;
    if (IsOpticalMedia(currentFolder_)) {
        sweepDone_ = true;
        return;
    }
    sweepStop_ = false;
    if (!sweepStarted_) {
        {
            std::lock_guard<std::mutex> lock(pauseLock_);
            sweepPaused_ = false;
            sweepEnded_ = false;
        }
        sweepStarted_ = sweepThread_.Start([this] { RunSweep(); }, THREAD_PRIORITY_LOWEST);
    } else {
        {
            std::lock_guard<std::mutex> lock(pauseLock_);
            sweepPaused_ = false;
        }
        pauseChanged_.notify_all();
    }
}

void CThumbnailCache::PauseSweep() {
    if (!sweepStarted_) return;
    std::lock_guard<std::mutex> lock(pauseLock_);
    sweepPaused_ = true;
}

bool CThumbnailCache::SweepMayGoOn() {
    std::unique_lock<std::mutex> lock(pauseLock_);
    if (sweepPaused_ && !sweepStop_) {
        sweepHeld_ = true;
        pauseChanged_.notify_all();
        pauseChanged_.wait(lock, [this] { return !sweepPaused_ || sweepStop_.load(); });
        sweepHeld_ = false;
    }
    return !sweepStop_.load();
}

bool CThumbnailCache::WaitForSweepHeld(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(pauseLock_);
    pauseChanged_.wait_for(lock, timeout,
                           [this] { return sweepHeld_ || sweepEnded_ || !sweepStarted_; });
    return sweepHeld_;
}

void CThumbnailCache::StopSweep() {
    if (!sweepStarted_) return;
    sweepThread_.SetPriority(THREAD_PRIORITY_NORMAL);
    {
        std::lock_guard<std::mutex> lock(pauseLock_);
        sweepStop_ = true;
        sweepPaused_ = false;
    }
    pauseChanged_.notify_all();
    sweepThread_.WaitUntilStopped();
    sweepStarted_ = false;
}

void CThumbnailCache::StopEviction() {
    if (!evictionStarted_) return;
    evictionThread_.SetPriority(THREAD_PRIORITY_NORMAL);
    evictionStop_ = true;
    evictionThread_.WaitUntilStopped();
    evictionStarted_ = false;
}

bool CThumbnailCache::WaitForWorkers(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (sweepThread_.IsRunning() || evictionThread_.IsRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<CacheEntry> CThumbnailCache::Records() const {
    std::lock_guard<std::mutex> lock(sizeLock_);
    return records_;
}

uint32_t CThumbnailCache::TotalUnits() const {
    std::lock_guard<std::mutex> lock(sizeLock_);
    return totalUnits_;
}

void CThumbnailCache::RunSweep() {
    DIR* dir = opendir(currentSubfolder_.c_str());
    bool folderGone = false;
    if (dir) {
        while (SweepMayGoOn()) {
            const dirent* entry = readdir(dir);
            if (!entry) break;
            size_t length = std::strlen(entry->d_name);
            if (IsWriterTemporary(entry->d_name, length)) {
                RemoveIfAbandoned(currentSubfolder_ + "/" + entry->d_name);
                continue;
            }
            if (!EndsWithJpg(entry->d_name, length)) continue;
            std::string image = currentFolder_ + "/";
            image.append(entry->d_name, length - 4);
            // Only an image that is certainly gone loses its thumbnail: a failing share, a folder
            // that may not be searched or a looping link says nothing about the image.
            struct stat imageStat {};
            if (stat(image.c_str(), &imageStat) == 0 || (errno != ENOENT && errno != ENOTDIR))
                continue;
            // An unmounted or removed folder is not a folder whose images were all deleted.
            if (!IsDirectory(currentFolder_.empty() ? "/" : currentFolder_)) {
                folderGone = true;
                break;
            }
            const std::string thumbnail = currentSubfolder_ + "/" + entry->d_name;
            struct stat st {};
            if (lstat(thumbnail.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            if (unlink(thumbnail.c_str()) != 0) continue;
            std::lock_guard<std::mutex> lock(sizeLock_);
            CacheEntry& current = records_.front();
            totalUnits_ -= Units(current.size);
            current.size = ClampSize(int64_t{current.size} - st.st_size);
            totalUnits_ += Units(current.size);
        }
        closedir(dir);
    }
    if (!sweepStop_ && !folderGone) sweepDone_ = true;
    {
        std::lock_guard<std::mutex> lock(pauseLock_);
        sweepEnded_ = true;
    }
    pauseChanged_.notify_all();
}

// Removes least recently used subfolders until bytesToFree is reached; the first record, the
// current folder's, is never touched. Every round either drops a record or reaches the goal, so
// the pass ends even when records claim more than their folders hold.
void CThumbnailCache::RunEviction(int64_t bytesToFree) {
    while (!evictionStop_ && bytesToFree > 0) {
        CacheEntry victim;
        {
            std::lock_guard<std::mutex> lock(sizeLock_);
            if (records_.size() <= 1) break;
            victim = records_.back();
        }
        const std::string folder = root_ + "/" + victim.key;
        bool dropWhole = victim.size < bytesToFree;
        std::vector<std::string> doomed;
        int64_t remaining = victim.size;
        if (!dropWhole) {
            // Single thumbnails of the victim, until enough is freed.
            DIR* dir = opendir(folder.c_str());
            bool enough = false;
            if (dir) {
                while (!(enough = victim.size - remaining >= bytesToFree)) {
                    const dirent* entry = readdir(dir);
                    if (!entry) break;
                    if (!EndsWithJpg(entry->d_name, std::strlen(entry->d_name))) continue;
                    std::string path = folder + "/" + entry->d_name;
                    struct stat st {};
                    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
                    remaining -= st.st_size;
                    doomed.push_back(std::move(path));
                }
                closedir(dir);
            }
            // The folder ran out before its record did: it is gone or was emptied by hand.
            dropWhole = !enough;
        }
        {
            std::lock_guard<std::mutex> lock(sizeLock_);
            totalUnits_ -= Units(victim.size);
            if (dropWhole) {
                bytesToFree -= std::max<int64_t>(victim.size, 0);
                records_.pop_back();
            } else {
                int32_t lowered = ClampSize(remaining);
                records_.back().size = lowered;
                totalUnits_ += Units(lowered);
                bytesToFree -= victim.size - lowered;
            }
        }
        if (dropWhole) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        } else {
            for (const std::string& path : doomed) unlink(path.c_str());
        }
    }
}

CCacheFolderLock::CCacheFolderLock(const std::string& root) {
    fd_ = OpenLockedIndex(root + "/" + CThumbnailCache::kIndexName, 0);
    free_ = fd_ >= 0 || errno == ENOENT;
}

CCacheFolderLock::~CCacheFolderLock() {
    if (fd_ >= 0) close(fd_);
}
