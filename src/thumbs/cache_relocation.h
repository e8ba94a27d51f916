#pragma once

#include <functional>
#include <memory>
#include <string>

class CThumbnailCache;

// What to do with the old cache folder when the user picks a new one; the values are the ids of
// the buttons that ask.
enum class CacheChoice : int { kMove = 1001, kDelete = 1002, kLeave = 1005 };

// Moves oldRoot with everything in it into the folder that holds newRoot, keeping its own name
// (which is newRoot's last component when the settings dialog made it). Merges into a folder of
// that name that exists already, replacing files; copies and removes across file systems.
bool MoveCacheFolder(const std::string& oldRoot, const std::string& newRoot);
// Removes oldRoot with everything in it, for good.
bool DeleteCacheFolder(const std::string& oldRoot);
// Does what choice says with oldRoot, unless another running copy is using that cache: then the
// folder is left where it is.
void ApplyCacheChoice(CacheChoice choice, const std::string& oldRoot, const std::string& newRoot);

// Changes the cache folder to newRoot: the current cache is closed, "CacheDir" is written, ask
// chooses what happens to the old folder when both folders are set, and the new cache is opened
// and, when available, pointed at currentFolder. The size limit is the caller's to set after.
std::unique_ptr<CThumbnailCache> RelocateCache(std::unique_ptr<CThumbnailCache> cache,
                                               const std::string& newRoot,
                                               const std::function<CacheChoice()>& ask,
                                               const std::string& currentFolder);
