#include "thumbs/cache_relocation.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "settings/settings.h"
#include "thumbs/cache_index.h"
#include "thumbs/thumbnail_cache.h"

namespace fs = std::filesystem;

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// True when inner is outer or lies inside it; both lexically normal and absolute.
bool IsWithin(const std::string& inner, const std::string& outer) {
    if (outer == "/") return true;
    return inner == outer || inner.compare(0, outer.size() + 1, outer + "/") == 0;
}

// The path with symbolic links and dot components resolved as far as it exists.
std::string Resolved(const std::string& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path, error), error);
    if (error) resolved = fs::path(path).lexically_normal();
    return WithoutTrailingSlash(resolved.string());
}

// True when every folder and file under source is under target too, files at the same size.
bool HoldsCopyOf(const fs::path& source, const fs::path& target) {
    std::error_code error;
    fs::recursive_directory_iterator it(source, error), end;
    if (error) return false;
    for (; it != end; it.increment(error)) {
        if (error) return false;
        const fs::path counterpart = target / fs::relative(it->path(), source, error);
        if (error) return false;
        const fs::file_status status = it->symlink_status(error);
        const fs::file_status copied = fs::symlink_status(counterpart, error);
        if (error || status.type() != copied.type()) return false;
        if (fs::is_regular_file(status) &&
            fs::file_size(it->path(), error) != fs::file_size(counterpart, error))
            return false;
    }
    return !error;
}

// Copies source's entries into target (made when missing), checks the copy, and only then
// removes source. The index goes last and through a temporary name, so a copy cut short never
// leaves target with an index that names folders it lacks; what the copy made is taken away
// again when it fails.
OldCacheResult CopyThenRemove(const fs::path& source, const fs::path& target) {
    std::error_code error;
    bool madeTarget = false;
    if (!fs::exists(fs::symlink_status(target, error))) {
        if (mkdir(target.c_str(), 0700) != 0) return OldCacheResult::kMoveFailed;
        madeTarget = true;
    }
    std::vector<fs::path> made;
    bool ok = true;
    bool hasIndex = false;
    const auto copyOptions = fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                             fs::copy_options::overwrite_existing;
    std::error_code listing;
    fs::directory_iterator it(source, listing);
    for (; !listing && it != fs::directory_iterator(); it.increment(listing)) {
        const fs::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        if (name == CThumbnailCache::kNewIndexName) continue;  // a write that never finished
        if (name == CThumbnailCache::kIndexName) {
            hasIndex = true;
            continue;
        }
        const fs::path copy = target / name;
        if (!fs::exists(fs::symlink_status(copy, error))) made.push_back(copy);
        fs::copy(entry.path(), copy, copyOptions, error);
        if (error || !HoldsCopyOf(entry.path(), copy)) {
            ok = false;
            break;
        }
    }
    if (listing) ok = false;
    if (ok && hasIndex) {
        const fs::path staged = target / CThumbnailCache::kNewIndexName;
        fs::copy_file(source / CThumbnailCache::kIndexName, staged,
                      fs::copy_options::overwrite_existing, error);
        ok = !error &&
             fs::file_size(staged, error) ==
                 fs::file_size(source / CThumbnailCache::kIndexName, error) &&
             !error &&
             std::rename(staged.c_str(), (target / CThumbnailCache::kIndexName).c_str()) == 0;
        if (!ok) fs::remove(staged, error);
    }
    if (!ok) {
        for (const fs::path& path : made) fs::remove_all(path, error);
        if (madeTarget) fs::remove_all(target, error);
        return OldCacheResult::kMoveFailed;
    }
    fs::remove_all(source, error);
    return error ? OldCacheResult::kNotRemoved : OldCacheResult::kDone;
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
    if (source.empty() || target.empty() || source == "/") return OldCacheResult::kMoveFailed;
    size_t slash = target.find_last_of('/');
    if (slash == std::string::npos) return OldCacheResult::kMoveFailed;
    const std::string parent = slash == 0 ? "/" : target.substr(0, slash);
    const fs::path destination = fs::path(parent) / fs::path(source).filename();
    std::error_code error;
    // Nothing left to move: nothing can be lost either.
    if (!fs::exists(fs::symlink_status(source, error))) return OldCacheResult::kDone;
    const std::string from = Resolved(source);
    const std::string to = Resolved(destination.string());
    const std::string newPlace = Resolved(target);
    if (to == from) return OldCacheResult::kDone;
    // A folder cannot go inside itself, nor swallow the folder it is going into.
    if (IsWithin(to, from) || IsWithin(newPlace, from)) return OldCacheResult::kNewInsideOld;
    if (IsWithin(from, to) || IsWithin(from, newPlace)) return OldCacheResult::kOldInsideNew;
    if (!IsCacheFolder(source)) return OldCacheResult::kNotACache;
    const bool merge = fs::exists(fs::symlink_status(destination, error));
    // A merge replaces files of the same name: only another cache may be merged into.
    if (merge && !IsCacheFolder(destination)) return OldCacheResult::kTargetTaken;
    if (!merge) {
        if (std::rename(source.c_str(), destination.c_str()) == 0) return OldCacheResult::kDone;
        if (errno != EXDEV) return OldCacheResult::kMoveFailed;
    }
    return CopyThenRemove(source, destination);
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

OldCacheResult RefuseNestedCaches(CacheChoice choice, const std::string& oldRoot,
                                  const std::string& newRoot) {
    const std::string oldPlace = Resolved(WithoutTrailingSlash(oldRoot));
    const std::string newPlace = Resolved(WithoutTrailingSlash(newRoot));
    if (oldPlace == newPlace) return OldCacheResult::kDone;
    if (IsWithin(newPlace, oldPlace)) return OldCacheResult::kNewInsideOld;
    if (IsWithin(oldPlace, newPlace) && choice != CacheChoice::kDelete)
        return OldCacheResult::kOldInsideNew;
    return OldCacheResult::kDone;
}

OldCacheResult ApplyCacheChoice(CacheChoice choice, const std::string& oldRoot,
                                const std::string& newRoot) {
    const OldCacheResult refused = RefuseNestedCaches(choice, oldRoot, newRoot);
    if (refused != OldCacheResult::kDone) return refused;
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

std::string DescribeOldCacheResult(OldCacheResult result, const std::string& oldRoot,
                                   const std::string& newRoot) {
    const std::string folder = "The old cache folder " + WithoutTrailingSlash(oldRoot);
    const std::string unchanged = "The cache folder was not changed: ";
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
        case OldCacheResult::kNewInsideOld:
            return unchanged + "the new folder " + WithoutTrailingSlash(newRoot) +
                   " lies inside the current cache folder " + WithoutTrailingSlash(oldRoot) +
                   ". Choose a folder outside it.";
        case OldCacheResult::kOldInsideNew:
            return unchanged + "the current cache folder " + WithoutTrailingSlash(oldRoot) +
                   " lies inside the new folder " + WithoutTrailingSlash(newRoot) +
                   ". Choose another folder, or delete the current cache.";
        case OldCacheResult::kMoveFailed:
            return folder + " could not be moved. It is whole and stays the cache.";
        case OldCacheResult::kNotRemoved:
            return folder + " was copied to its new place but could not be removed completely.";
        case OldCacheResult::kFailed:
            return folder + " could not be deleted completely.";
    }
    return {};
}

bool IsRefusal(OldCacheResult result) {
    return result == OldCacheResult::kNewInsideOld || result == OldCacheResult::kOldInsideNew;
}

bool KeepsOldCache(OldCacheResult result) {
    return IsRefusal(result) || result == OldCacheResult::kMoveFailed;
}

CacheRelocation RelocateCache(std::unique_ptr<CThumbnailCache> cache, const std::string& newRoot,
                              const std::function<CacheChoice()>& ask,
                              const std::string& currentFolder) {
    const std::string oldRoot = ReadSetting(settings::kCacheDir);
    CacheRelocation result;
    if (!oldRoot.empty() && !newRoot.empty()) {
        const CacheChoice choice = ask();
        // Refused before the cache closes, so it goes on exactly as it was.
        result.oldCache = RefuseNestedCaches(choice, oldRoot, newRoot);
        if (IsRefusal(result.oldCache) && cache) {
            result.cache = std::move(cache);
            return result;
        }
        cache.reset();
        if (!IsRefusal(result.oldCache))
            result.oldCache = ApplyCacheChoice(choice, oldRoot, newRoot);
    }
    cache.reset();
    const bool keepOld = KeepsOldCache(result.oldCache);
    if (!keepOld) WriteSetting(settings::kCacheDir, newRoot);
    result.cache = std::make_unique<CThumbnailCache>(keepOld ? oldRoot : newRoot);
    if (result.cache->IsAvailable() && !currentFolder.empty())
        result.cache->SetDirectory(currentFolder);
    return result;
}
