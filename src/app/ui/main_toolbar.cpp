// The main window's toolbar: its buttons, tooltips and trackbar, the keyboard table, and the
// history menu that a long press on "Previous" or "Next" opens.

#include "app/ui/main_form.h"
#include "app/ui/resources.h"
#include "platform/qt/toolbar.h"
#include "settings/settings.h"

void CMainForm::CreateToolbar() {
    toolbar_ = ::CreateToolbar(window());
    for (int image = 0; image < 12; ++image)
        toolbarImages_.AddResource(":/res/toolbar-" + std::to_string(image) + ".png");
    Toolbar_SetImageList(toolbar(), &toolbarImages_);
    // Read while the toolbar is made: the upscale button shows it.
    upscale_ = ReadSetting(settings::kUpscale) != 0;
    const uint8_t on = TBSTATE_ENABLED;
    const TBBUTTON separator{2, 0, 0, BTNS_SEP};
    Toolbar_AddButtons(
        toolbar(),
        {{0, ID_HISTORY_BACK, on, BTNS_BUTTON},
         {1, ID_HISTORY_FORWARD, on, BTNS_BUTTON},
         separator,
         {2, ID_FULLSCREEN, on, BTNS_BUTTON},
         separator,
         {3, ID_THUMBNAILS, on, BTNS_BUTTON},
         {10, ID_SETTINGS, on, BTNS_BUTTON},
         separator,
         {4, ID_RESAMPLE_NONE, static_cast<uint8_t>(on | TBSTATE_PRESSED), BTNS_BUTTON},
         {5, ID_RESAMPLE_BOTH, on, BTNS_BUTTON},
         {6, ID_RESAMPLE_HORIZONTAL, on, BTNS_BUTTON},
         {7, ID_RESAMPLE_VERTICAL, on, BTNS_BUTTON},
         {8, ID_RESAMPLE_AUTO, on, BTNS_BUTTON},
         separator,
         {11, ID_UPSCALE, static_cast<uint8_t>(on | (upscale_ ? TBSTATE_PRESSED : 0)), BTNS_BUTTON},
         separator,
         {9, ID_ABOUT, on, BTNS_BUTTON},
         separator});
    SetWindowForm(toolbar(), this);
    Toolbar_SetTooltipOwner(toolbar(), window());

    trackbar_ = CreateTrackbar(toolbar(), window());
    Trackbar_SetRange(trackbar(), 0, 99);
    SetToolTipText(trackbar(), "Adjust resampling");

    const uint8_t ctrl = FVIRTKEY | FCONTROL;
    const uint8_t shift = FVIRTKEY | FSHIFT;
    accelerators_ = std::make_unique<CAcceleratorTable>(
        window(), std::vector<ACCEL>{{ctrl, 'N', ID_RESAMPLE_NONE},
                                     {ctrl, 'B', ID_RESAMPLE_BOTH},
                                     {ctrl, 'H', ID_RESAMPLE_HORIZONTAL},
                                     {ctrl, 'V', ID_RESAMPLE_VERTICAL},
                                     {ctrl, 'A', ID_RESAMPLE_AUTO},
                                     {ctrl, 'F', ID_FULLSCREEN},
                                     {ctrl, 'T', ID_THUMBNAILS},
                                     {ctrl, 'R', ID_ADJUST_BAR},
                                     {ctrl, 'U', ID_UPSCALE},
                                     {ctrl, VK_LEFT, ID_HISTORY_BACK},
                                     {ctrl, VK_RIGHT, ID_HISTORY_FORWARD},
                                     {shift, VK_LEFT, ID_ADJUST_DOWN},
                                     {shift, VK_RIGHT, ID_ADJUST_UP}});
}

void CMainForm::PlaceTrackbar() {
    RECT about{};
    if (!Toolbar_GetRect(toolbar(), ID_ABOUT, &about)) return;
    MoveWindow(trackbar(), about.right + 4, 2, 150, 20);
}

std::string CMainForm::TooltipText(int command) const {
    switch (command) {
        case ID_HISTORY_BACK:
            return "Previous  -  " + fileView_->HistoryEntryText(-1);
        case ID_HISTORY_FORWARD:
            return "Next  -  " + fileView_->HistoryEntryText(1);
        case ID_FULLSCREEN:
            return "View fullscreen";
        case ID_THUMBNAILS:
            return thumbnailsShown_ ? "Hide thumbnails" : "Show thumbnails";
        case ID_SETTINGS:
            return "Settings";
        case ID_RESAMPLE_NONE:
            return "Resample none";
        case ID_RESAMPLE_BOTH:
            return "Resample both";
        case ID_RESAMPLE_HORIZONTAL:
            return "Resample horizontal";
        case ID_RESAMPLE_VERTICAL:
            return "Resample vertical";
        case ID_RESAMPLE_AUTO:
            return "Resample automatic";
        case ID_UPSCALE:
            return "Upscale smaller images";
        case ID_ABOUT:
            return "About Lumora";
        default:
            return {};
    }
}

LRESULT CMainForm::ToolbarProc(HWND toolbar, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_LBUTTONDOWN: {
            const LRESULT result = CallWindowProc(toolbar, message, wParam, lParam);
            if ((Toolbar_GetState(toolbar, ID_HISTORY_BACK) & TBSTATE_PRESSED) ||
                (Toolbar_GetState(toolbar, ID_HISTORY_FORWARD) & TBSTATE_PRESSED))
                SetTimer(window(), kHistoryMenuTimer, 600);
            return result;
        }
        case WM_LBUTTONUP:
            KillTimer(window(), kHistoryMenuTimer);
            return CallWindowProc(toolbar, message, wParam, lParam);
        case WM_CONTEXTMENU:
            OnContextMenu(lParam);
            return 0;
        default:
            return CallWindowProc(toolbar, message, wParam, lParam);
    }
}

void CMainForm::ShowHistoryMenu() {
    // Stopped first: the menu runs its own loop, in which the timer would fire again.
    KillTimer(window(), kHistoryMenuTimer);
    if (fileView_->HistoryCount() < 2) return;
    int pressed = 0;
    for (int command : {ID_HISTORY_BACK, ID_HISTORY_FORWARD})
        if (Toolbar_GetState(toolbar(), command) & TBSTATE_PRESSED) pressed = command;
    if (!pressed) return;
    // Released here, so that letting go of the button does not also step.
    Toolbar_SetState(toolbar(), pressed, TBSTATE_ENABLED);
    ReleaseCapture();
    DestroyMenu(historyMenu_);
    historyMenu_ = CreatePopupMenu();
    for (const auto& [text, index] : fileView_->HistoryMenuEntries())
        AppendMenu(historyMenu_, MF_STRING, static_cast<uintptr_t>(ID_HISTORY_FIRST + index), text);
    TrackPopupMenu(historyMenu_, TPM_LEFTALIGN, -1, -1, window());
    SetFocus(fileView_->window());
}
