#include "settings/ui/settings_dialog.h"

#include <filesystem>

#include "image/image.h"
#include "platform/qt/dialogs.h"
#include "settings/field_check.h"
#include "settings/helpers.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "view/core/target_box.h"

namespace {

using Kind = DialogItemKind;

DialogItem Label(const char* text, int id = 0) {
    return {Kind::kLabel, id, text};
}
DialogItem Edit(int id) {
    return {Kind::kEdit, id, ""};
}

}  // namespace

DialogResource LoadDialogResource(int id) {
    DialogResource resource;
    if (id == IDD_SETTINGS) {
        resource.title = "Lumora settings";
        resource.width = 231;
        resource.height = 225;
        resource.groups = {
            {"Viewer settings",
             {{Label("Min. perc. of image to load:"), Edit(IDC_MIN_PERC_LOAD), Label("%")}}},
            {"Thumbnail settings",
             {{Label("Max. thumbnails to load:"), Edit(IDC_MAX_THUMBS),
               Label("", IDC_MEMORY_ESTIMATE)}}},
            {"Cache settings",
             {{Label("Cache directory.:"),
               {Kind::kReadOnlyEdit, IDC_CACHE_DIR, ""},
               {Kind::kButton, IDC_BROWSE, "Browse..."}},
              {Label("Max. cache size:"),
               Edit(IDC_MAX_CACHE_SIZE),
               Label("MB"),
               {Kind::kButton, IDC_DISABLE_CACHE, "Disable cache"}}}},
            {"Upscaling settings", {{Label("Max. upscaling:"), Edit(IDC_MAX_UPSCALE), Label("%")}}},
        };
        resource.buttons = {{Kind::kDefaultButton, IDOK, "Ok"},
                            {Kind::kButton, IDCANCEL, "Cancel"}};
    } else if (id == IDD_NEW_CACHE) {
        resource.title = "Current cache";
        resource.width = 174;
        resource.height = 85;
        resource.closeBox = false;
        resource.groups = {{"",
                            {{{Kind::kText, 0,
                               "What do you wan't to do with the current cache directory?\n\n"
                               "- Move it do the new location.\n"
                               "- Delete it and start with an empty cache.\n"
                               "- Leave the current cache untouched."}}}}};
        resource.buttons = {{Kind::kDefaultButton, IDC_MOVE_CACHE, "Move cache"},
                            {Kind::kButton, IDC_DELETE_CACHE, "Delete cache"},
                            {Kind::kButton, IDC_LEAVE_CACHE, "Leave cache"}};
    }
    return resource;
}

// --- Lumora settings ------------------------------------------------------------------------

CThumbnailDlg::CThumbnailDlg() : CBaseDialog(LoadDialogResource(IDD_SETTINGS)) {}

intptr_t CThumbnailDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam == 1) FillFields(dialog);
            return 1;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_MAX_THUMBS:
                    if (HIWORD(wParam) == EN_CHANGE) UpdateEstimate(dialog);
                    return 1;
                case IDC_BROWSE:
                    if (HIWORD(wParam) == BN_CLICKED) Browse(dialog);
                    return 1;
                case IDC_DISABLE_CACHE:
                    if (HIWORD(wParam) == BN_CLICKED) SetDlgItemText(dialog, IDC_CACHE_DIR, "");
                    return 1;
                case IDOK:
                    if (CheckOk(dialog)) EndDialog(dialog, IDOK);
                    return 1;
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return 1;
                default:
                    return 0;
            }
        default:
            return 0;
    }
}

void CThumbnailDlg::FillFields(HWND dialog) {
    // From the store each time, not from what an earlier run of the dialog took.
    SetDlgItemText(dialog, IDC_CACHE_DIR, ReadSetting(settings::kCacheDir));
    SetDlgItemText(dialog, IDC_MAX_CACHE_SIZE,
                   std::to_string(ReadSetting(settings::kMaxCacheSize)));
    SetDlgItemText(dialog, IDC_MAX_THUMBS,
                   std::to_string(ReadRegDword(std::string(settings::kMaxThumbsLoad.name),
                                               settings::kMaxThumbsLoadDialogDefault)));
    UpdateEstimate(dialog);
    SetDlgItemText(dialog, IDC_MIN_PERC_LOAD, std::to_string(ReadSetting(settings::kMinPercLoad)));
    SetDlgItemText(dialog, IDC_MAX_UPSCALE, std::to_string(ReadSetting(settings::kMaxUpscale)));
    SetDlgItemToolTip(
        dialog, IDC_MIN_PERC_LOAD,
        "Minimum percentage of the image to load before scrolling to the next image.");
    SetDlgItemToolTip(dialog, IDC_MAX_THUMBS, "Maximum amount of thumbsnails to load in memory.");
    SetDlgItemToolTip(dialog, IDC_CACHE_DIR, "Location of the cache directory.");
    SetDlgItemToolTip(dialog, IDC_MAX_CACHE_SIZE, "Maximum cache size in megabytes.");
}

void CThumbnailDlg::UpdateEstimate(HWND dialog) {
    const std::optional<int32_t> count = ParseNumberField(GetDlgItemText(dialog, IDC_MAX_THUMBS));
    if (count) SetDlgItemText(dialog, IDC_MEMORY_ESTIMATE, ThumbnailMemoryEstimate(*count));
}

void CThumbnailDlg::Browse(HWND dialog) {
    // Start where the cache is now, so a small move is a short walk.
    const std::string current = GetDlgItemText(dialog, IDC_CACHE_DIR);
    std::string start = std::filesystem::path(current).parent_path().string();
    if (current.empty() || !IsDirectory(start)) start = HomeFolder();
    const std::string folder = BrowseForFolder(dialog, kBrowseTitle, start);
    if (!folder.empty()) SetDlgItemText(dialog, IDC_CACHE_DIR, folder);
}

bool CThumbnailDlg::CheckNumber(HWND dialog, int id, const char* message, int32_t* value) {
    const std::optional<int32_t> number = ParseNumberField(GetDlgItemText(dialog, id));
    if (!number) {
        MessageBox(dialog, message, "Lumora", MB_OK | MB_ICONHAND);
        return false;
    }
    *value = *number;
    return true;
}

bool CThumbnailDlg::CheckOk(HWND dialog) {
    cacheFolder_ = CacheFolderFromField(GetDlgItemText(dialog, IDC_CACHE_DIR),
                                        ReadSetting(settings::kCacheDir));
    if (!CheckNumber(dialog, IDC_MAX_CACHE_SIZE,
                     "The max. cache size field must contain a valid number.", &maxCacheSize_))
        return false;
    if (!CheckNumber(dialog, IDC_MAX_THUMBS,
                     "The max. thumbnails to load field must contain a valid number.",
                     &maxThumbnails_))
        return false;
    if (!CheckNumber(dialog, IDC_MIN_PERC_LOAD,
                     "The min. perc. load field must contain a valid number.", &minPercentage_))
        return false;
    WriteSetting(settings::kMinPercLoad, minPercentage_);
    g_minLoadPercentage = minPercentage_;
    if (!CheckNumber(dialog, IDC_MAX_UPSCALE,
                     "The max. upscaling field must contain a valid number.", &maxUpscale_))
        return false;
    WriteSetting(settings::kMaxUpscale, maxUpscale_);
    g_maxUpscale = maxUpscale_;
    return true;
}

// --- Current cache --------------------------------------------------------------------------

CNewCacheDlg::CNewCacheDlg() : CBaseDialog(LoadDialogResource(IDD_NEW_CACHE)) {}

intptr_t CNewCacheDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND) return 0;
    const int id = LOWORD(wParam);
    if (id != IDC_MOVE_CACHE && id != IDC_DELETE_CACHE && id != IDC_LEAVE_CACHE) return 0;
    EndDialog(dialog, id);
    return 1;
}
