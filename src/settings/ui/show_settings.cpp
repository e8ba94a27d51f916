#include "settings/ui/show_settings.h"

#include "platform/qt/dialogs.h"
#include "settings/settings.h"
#include "settings/ui/settings_dialog.h"
#include "thumbs/cache_relocation.h"
#include "thumbs/thumbnail_cache.h"

namespace {

CacheChoice AskAboutOldCache(HWND parent) {
    CNewCacheDlg dialog;
    switch (dialog.DoModal(parent)) {
        case IDC_MOVE_CACHE:
            return CacheChoice::kMove;
        case IDC_DELETE_CACHE:
            return CacheChoice::kDelete;
        default:
            return CacheChoice::kLeave;
    }
}

}  // namespace

bool ShowSettingsDialog(HWND parent, std::unique_ptr<CThumbnailCache>& cache,
                        const std::string& currentFolder,
                        const std::function<void()>& beforeChanges) {
    CThumbnailDlg dialog;
    const std::string stored = ReadSetting(settings::kCacheDir);
    if (dialog.DoModal(parent) != IDOK) return false;
    if (beforeChanges) beforeChanges();
    WriteSetting(settings::kMaxCacheSize, dialog.maxCacheSize());
    WriteSetting(settings::kMaxThumbsLoad, dialog.maxThumbnails());
    if (dialog.cacheFolder() != stored) {
        CacheRelocation moved = RelocateCache(
            std::move(cache), dialog.cacheFolder(), [parent] { return AskAboutOldCache(parent); },
            currentFolder);
        cache = std::move(moved.cache);
        const std::string notice =
            DescribeOldCacheResult(moved.oldCache, stored, dialog.cacheFolder());
        // A refusal is an input error, shown like the dialog's own.
        const UINT icon = IsRefusal(moved.oldCache) ? MB_ICONHAND : MB_ICONEXCLAMATION;
        if (!notice.empty()) MessageBox(parent, notice, "Lumora", MB_OK | icon);
    }
    if (cache) cache->SetMaxSize(dialog.maxCacheSize());
    return true;
}
