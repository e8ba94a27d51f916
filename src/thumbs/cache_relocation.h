#pragma once

#include <functional>
#include <memory>
#include <string>

class CThumbnailCache;

// What to do with the old cache folder when the user picks a new one; the values are the ids of
// the buttons that ask.
enum class CacheChoice : int { kMove = 1001, kDelete = 1002, kLeave = 1005 };

// What became of the old cache folder. Anything but kDone and kLeft is worth telling the user.
enum class OldCacheResult {
    kDone,          // moved or deleted as asked
    kLeft,          // left where it is, as asked (or nobody was asked)
    kInUse,         // another running copy is using it: left where it is
    kNotACache,     // it holds files a cache does not make: left untouched
    kTargetTaken,   // the folder it would merge into holds files a cache does not make
    kNewInsideOld,  // refused: the new folder lies inside the old one; nothing was changed
    kOldInsideNew,  // refused: the old folder lies inside the new one; nothing was changed
    kMoveFailed,    // the move did not succeed: the old folder is whole and stays in use
    kNotRemoved,    // moved whole, but the old folder could not be removed completely
    kFailed,        // the delete did not (wholly) succeed
};

// A folder the cache may move or delete as a whole: it holds the index and nothing besides what
// a cache makes there (the index's replacement, subfolders named by folder keys), or it is
// empty. A "CacheDir" edited by hand to name the home folder must not take the home folder
// with it.
bool IsCacheFolder(const std::string& root);

// Moves oldRoot with everything in it into the folder that holds newRoot, keeping its own name
// (which is newRoot's last component when the settings dialog made it). Within one file system
// and into nothing, a rename. Otherwise (across file systems, or merging into a cache folder of
// that name, replacing files) a copy that is checked before the old folder goes; a copy that
// fails is taken away again and leaves the old folder whole. Only a cache folder is moved, and
// only into nothing or another cache folder, and never into or over itself.
OldCacheResult MoveCacheFolder(const std::string& oldRoot, const std::string& newRoot);
// Removes oldRoot with everything in it, for good, when it is a cache folder.
OldCacheResult DeleteCacheFolder(const std::string& oldRoot);
// kNewInsideOld or kOldInsideNew when choice must be refused because one folder lies inside the
// other (compared with links and dot components resolved); kDone when it may go ahead. A move
// would go into itself, a delete of the old folder would take the new one with it, and two
// caches left one inside the other share a tree whose subfolders each takes for its own. Only a
// delete of an old folder inside the new one is let through: it touches nothing of the new cache.
// The same folder spelt another way is not nested.
OldCacheResult RefuseNestedCaches(CacheChoice choice, const std::string& oldRoot,
                                  const std::string& newRoot);
// Does what choice says with oldRoot, unless RefuseNestedCaches refuses it, or another running
// copy is using that cache: then the folder is left where it is.
OldCacheResult ApplyCacheChoice(CacheChoice choice, const std::string& oldRoot,
                                const std::string& newRoot);
// One sentence for the user about a result that needs telling; empty for kDone and kLeft.
std::string DescribeOldCacheResult(OldCacheResult result, const std::string& oldRoot,
                                   const std::string& newRoot);
// True for the refusals, which the user is shown as errors: nothing was done.
bool IsRefusal(OldCacheResult result);

struct CacheRelocation {
    std::unique_ptr<CThumbnailCache> cache;
    OldCacheResult oldCache = OldCacheResult::kLeft;
};

// True when the move of oldRoot to newRoot failed or was refused, so the old folder is still
// the cache.
bool KeepsOldCache(OldCacheResult result);

// Changes the cache folder to newRoot: the current cache is closed, ask chooses what happens to
// the old folder when both folders are set, "CacheDir" is written, and the new cache is opened
// and, when available and currentFolder is set, pointed at currentFolder. A move that fails
// keeps the old folder in use: "CacheDir" is not written and the cache reopens there. A choice
// refused for nested folders changes nothing: the cache given is handed back as it was.
// The size limit is the caller's to set after.
CacheRelocation RelocateCache(std::unique_ptr<CThumbnailCache> cache, const std::string& newRoot,
                              const std::function<CacheChoice()>& ask,
                              const std::string& currentFolder);
