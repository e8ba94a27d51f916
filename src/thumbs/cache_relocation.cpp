#include "thumbs/cache_relocation.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "settings/settings.h"
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

bool MoveCacheFolder(const std::string& oldRoot, const std::string& newRoot) {
    const std::string source = WithoutTrailingSlash(oldRoot);
    const std::string target = WithoutTrailingSlash(newRoot);
    if (source.empty() || target.empty() || source == "/") return false;
    size_t slash = target.find_last_of('/');
    if (slash == std::string::npos) return false;
    const std::string parent = slash == 0 ? "/" : target.substr(0, slash);
    const fs::path destination = fs::path(parent) / fs::path(source).filename();
    if (destination == fs::path(source)) return true;
    // A folder cannot go inside itself.
    const std::string destinationText = destination.string();
    if (destinationText.compare(0, source.size() + 1, source + "/") == 0) return false;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(source, error))) return false;
    return MovePath(source, destination);
}

bool DeleteCacheFolder(const std::string& oldRoot) {
    const std::string root = WithoutTrailingSlash(oldRoot);
    if (root.empty() || root == "/") return false;
    std::error_code error;
    fs::remove_all(root, error);
    return !error;
}

void ApplyCacheChoice(CacheChoice choice, const std::string& oldRoot, const std::string& newRoot) {
    if (choice == CacheChoice::kLeave) return;
    // A folder another running copy is using stays where it is, as if left; holding its lock
    // keeps a copy from starting on it while it moves or goes.
    CCacheFolderLock lock(oldRoot);
    if (!lock.IsFree()) return;
    switch (choice) {
        case CacheChoice::kMove:
            MoveCacheFolder(oldRoot, newRoot);
            break;
        case CacheChoice::kDelete:
            DeleteCacheFolder(oldRoot);
            break;
        case CacheChoice::kLeave:
            break;
    }
}

std::unique_ptr<CThumbnailCache> RelocateCache(std::unique_ptr<CThumbnailCache> cache,
                                               const std::string& newRoot,
                                               const std::function<CacheChoice()>& ask,
                                               const std::string& currentFolder) {
    const std::string oldRoot = ReadSetting(settings::kCacheDir);
    cache.reset();
    WriteSetting(settings::kCacheDir, newRoot);
    if (!oldRoot.empty() && !newRoot.empty()) ApplyCacheChoice(ask(), oldRoot, newRoot);
    cache = std::make_unique<CThumbnailCache>(newRoot);
    if (cache->IsAvailable()) cache->SetDirectory(currentFolder);
    return cache;
}
