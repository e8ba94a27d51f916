#pragma once

// Message boxes, the colour dialog and the folder picker.

#include <string>

#include "platform/qt/form_window.h"

// MB_OK, MB_OKCANCEL, MB_YESNO or MB_YESNOCANCEL with an MB_ICON* flag; returns IDOK, IDCANCEL,
// IDYES or IDNO.
int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

struct CHOOSECOLOR {
    HWND hwndOwner = nullptr;
    COLORREF rgbResult = 0;
    COLORREF* lpCustColors = nullptr;  // 16 entries, read before and written back after
    UINT Flags = 0;
};

// True when the user confirmed a colour (then in rgbResult). Without CC_RGBINIT the dialog
// starts on black.
bool ChooseColor(CHOOSECOLOR* choose);

// A folder the user picks, starting at start; "" when the picker was cancelled.
std::string BrowseForFolder(HWND owner, const std::string& title, const std::string& start);
