#pragma once

// "Lumora settings", which edits the settings that have no other control, and "Current cache",
// which asks what becomes of the old cache folder when the cache moves.

#include <cstdint>
#include <string>

#include "platform/qt/base_dialog.h"

// Dialog resources and their controls.
constexpr int IDD_SETTINGS = 101;
constexpr int IDD_NEW_CACHE = 136;
constexpr int IDC_CACHE_DIR = 1000;
constexpr int IDC_BROWSE = 1001;
constexpr int IDC_MAX_CACHE_SIZE = 1002;
constexpr int IDC_MAX_THUMBS = 1003;
constexpr int IDC_MEMORY_ESTIMATE = 1004;
constexpr int IDC_DISABLE_CACHE = 1006;
constexpr int IDC_MIN_PERC_LOAD = 1007;
constexpr int IDC_MAX_UPSCALE = 1008;
constexpr int IDC_MOVE_CACHE = 1001;
constexpr int IDC_DELETE_CACHE = 1002;
constexpr int IDC_LEAVE_CACHE = 1005;

constexpr const char* kBrowseTitle =
    "A new directory 'LumoraCache' will be created under the selected directory.";

// The dialog's layout, title and texts for IDD_SETTINGS or IDD_NEW_CACHE.
DialogResource LoadDialogResource(int id);

class CThumbnailDlg : public CBaseDialog {
public:
    CThumbnailDlg();
    intptr_t DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    // After OK: the cache folder (with "LumoraCache" added when it was picked anew) and the
    // numbers. The minimum percentage and the upscale limit are stored by then.
    const std::string& cacheFolder() const { return cacheFolder_; }
    int32_t maxCacheSize() const { return maxCacheSize_; }
    int32_t maxThumbnails() const { return maxThumbnails_; }
    int32_t minPercentage() const { return minPercentage_; }
    int32_t maxUpscale() const { return maxUpscale_; }

private:
    void FillFields(HWND dialog);
    void UpdateEstimate(HWND dialog);
    void Browse(HWND dialog);
    // The checks in the fields' order; a failing field shows its message and stops them.
    bool CheckOk(HWND dialog);
    bool CheckNumber(HWND dialog, int id, const char* message, int32_t* value);

    std::string cacheFolder_;
    int32_t maxCacheSize_ = 0;
    int32_t maxThumbnails_ = 0;
    int32_t minPercentage_ = 0;
    int32_t maxUpscale_ = 0;
};

// Ends with IDC_MOVE_CACHE, IDC_DELETE_CACHE or IDC_LEAVE_CACHE; Esc does nothing.
class CNewCacheDlg : public CBaseDialog {
public:
    CNewCacheDlg();
    intptr_t DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;
};
