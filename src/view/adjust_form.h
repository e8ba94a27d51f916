#pragma once

// The floating bar that carries the resampling trackbar in fullscreen, a small tool window
// titled "Adjust resampling". Closing it (close box or Esc) asks the main window to hide it;
// it is never destroyed before the main window.

#include "platform/qt/form_window.h"

class CAdjustForm : public CBaseForm {
public:
    CAdjustForm(HWND mainWindow, HWND trackbar);
    CAdjustForm(const CAdjustForm&) = delete;
    CAdjustForm& operator=(const CAdjustForm&) = delete;

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    HWND window() const { return AsHandle(window_); }
    HWND trackbar() const { return trackbar_; }

private:
    UniqueWindow window_;
    HWND main_;
    HWND trackbar_;
};
