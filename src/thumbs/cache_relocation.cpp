#include "thumbs/cache_relocation.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "settings/settings.h"
#include "thumbs/cache_index.h"
#include "thumbs/thumbnail_cache.h"

namespace fs = std::filesystem;

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Moves one item to target, merging folders into existing folders and replacing files.
bool MovePath(const fs::path& source, const fs::path& target) {
    std::error_code error;
    auto targetStatus = fs::symlink_status(target, error);
    if (fs::is_directory(targetStatus) && fs::is_directory(fs::symlink_status(source, error))) {
        bool ok = true;
        for (const auto& entry : fs::directory_iterator(source, error))
            ok = MovePath(entry.path(), target / entry.path().filename()) && ok;
        if (error) return false;
        fs::remove(source, error);
        return ok && !error;
    }
    if (fs::exists(targetStatus) && fs::is_directory(targetStatus)) fs::remove_all(target, error);
    if (std::rename(source.c_str(), target.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    // Another file system: copy, and remove the original only when the copy is whole.
    fs::copy(source, target,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                 fs::copy_options::overwrite_existing,
             error);
    if (error) return false;
    fs::remove_all(source, error);
    return !error;
}

}  // namespace

bool IsCacheFolder(const std::string& root) {
    std::error_code error;
    if (!fs::is_directory(root, error)) return false;
    fs::directory_iterator it(root, error);
    if (error) return false;
    bool holdsIndex = false;
    bool empty = true;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        empty = false;
        const std::string name = it->path().filename().string();
        const fs::file_status status = it->symlink_status(error);
        if (error) return false;
        const bool indexFile =
            fs::is_regular_file(status) &&
            (name == CThumbnailCache::kIndexName || name == CThumbnailCache::kNewIndexName);
        if (!indexFile && !(fs::is_directory(status) && IsFolderKey(name))) return false;
        if (indexFile && name == CThumbnailCache::kIndexName) holdsIndex = true;
    }
    if (error) return false;
    // Without an index, only an empty folder: the index is made with the cache and never goes.
    return holdsIndex || empty;
}

OldCacheResult MoveCacheFolder(const std::string& oldRoot, const std::string& newRoot) {
    const std::string source = WithoutTrailingSlash(oldRoot);
    const std::string target = WithoutTrailingSlash(newRoot);
    if (source.empty() || target.empty() || source == "/") return OldCacheResult::kFailed;
    size_t slash = target.find_last_of('/');
    if (slash == std::string::npos) return OldCacheResult::kFailed;
    const std::string parent = slash == 0 ? "/" : target.substr(0, slash);
    const fs::path destination = fs::path(parent) / fs::path(source).filename();
    if (destination == fs::path(source)) return OldCacheResult::kDone;
    // A folder cannot go inside itself.
    const std::string destinationText = destination.string();
    if (destinationText.compare(0, source.size() + 1, source + "/") == 0)
        return OldCacheResult::kFailed;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(source, error))) return OldCacheResult::kFailed;
    if (!IsCacheFolder(source)) return OldCacheResult::kNotACache;
    // A merge replaces files of the same name: only another cache may be merged into.
    if (fs::exists(fs::symlink_status(destination, error)) && !IsCacheFolder(destination))
        return OldCacheResult::kTargetTaken;
    return MovePath(source, destination) ? OldCacheResult::kDone : OldCacheResult::kFailed;
}

OldCacheResult DeleteCacheFolder(const std::string& oldRoot) {
    const std::string root = WithoutTrailingSlash(oldRoot);
    if (root.empty()) return OldCacheResult::kFailed;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(root, error))) return OldCacheResult::kDone;
    if (!IsCacheFolder(root)) return OldCacheResult::kNotACache;
    fs::remove_all(root, error);
    return error ? OldCacheResult::kFailed : OldCacheResult::kDone;
}

OldCacheResult ApplyCacheChoice(CacheChoice choice, const std::string& oldRoot,
                                const std::string& newRoot) {
    if (choice == CacheChoice::kLeave) return OldCacheResult::kLeft;
    // A folder another running copy is using stays where it is, as if left; holding its lock
    // keeps a copy from starting on it while it moves or goes.
    CCacheFolderLock lock(oldRoot);
    if (!lock.IsFree()) return OldCacheResult::kInUse;
    switch (choice) {
        case CacheChoice::kMove:
            return MoveCacheFolder(oldRoot, newRoot);
        case CacheChoice::kDelete:
            return DeleteCacheFolder(oldRoot);
        case CacheChoice::kLeave:
            break;
    }
    return OldCacheResult::kLeft;
}

std::string DescribeOldCacheResult(OldCacheResult result, const std::string& oldRoot) {
    const std::string folder = "The old cache folder " + WithoutTrailingSlash(oldRoot);
    switch (result) {
        case OldCacheResult::kDone:
        case OldCacheResult::kLeft:
            break;
        case OldCacheResult::kInUse:
            return folder + " was left where it is: another running Lumora is using it.";
        case OldCacheResult::kNotACache:
            return folder +
                   " was left untouched: it holds files that are not part of a thumbnail cache.";
        case OldCacheResult::kTargetTaken:
            return folder +
                   " was not moved: the folder it would go into holds files that are not part of "
                   "a thumbnail cache.";
        case OldCacheResult::kFailed:
            return folder + " could not be moved or deleted completely.";
    }
    return {};
}

CacheRelocation RelocateCache(std::unique_ptr<CThumbnailCache> cache, const std::string& newRoot,
                              const std::function<CacheChoice()>& ask,
                              const std::string& currentFolder) {
    const std::string oldRoot = ReadSetting(settings::kCacheDir);
    cache.reset();
    WriteSetting(settings::kCacheDir, newRoot);
    CacheRelocation result;
    if (!oldRoot.empty() && !newRoot.empty())
        result.oldCache = ApplyCacheChoice(ask(), oldRoot, newRoot);
    result.cache = std::make_unique<CThumbnailCache>(newRoot);
    if (result.cache->IsAvailable()) result.cache->SetDirectory(currentFolder);
    return result;
}
