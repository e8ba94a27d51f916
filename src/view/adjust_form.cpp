#include "view/adjust_form.h"

#include "app/ui/resources.h"

CAdjustForm::CAdjustForm(HWND mainWindow, HWND trackbar) : main_(mainWindow), trackbar_(trackbar) {
    WindowStyle style;
    style.topLevel = true;
    style.tool = true;
    window_ = CreateFormWindow(this, mainWindow, "Adjust resampling", style);
    SetWindowForm(window(), this);
    // The client area holds the trackbar exactly; the window manager adds the small caption.
    MoveWindow(window(), 100, 100, 150, 20);
    // Its trackbar takes no focus: the bar's own area does, so Esc reaches the bar once the
    // user has clicked it.
    SetFocus(window());
}

LRESULT CAdjustForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            // The main window hides the bar and clears its visibility.
            main_->SendMessage(WM_COMMAND, ID_ADJUST_BAR, lParam);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) {
                window->SendMessage(WM_CLOSE, 0, 0);
                return 0;
            }
            break;
        case WM_CONTEXTMENU:
            return main_->SendMessage(message, wParam, lParam);
        default:
            break;
    }
    return DefWindowProc(window, message, wParam, lParam);
}
