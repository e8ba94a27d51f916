#include "app/ui/main_form.h"

#include "app/core/start_path.h"
#include "app/ui/resources.h"
#include "image/resample.h"
#include "settings/helpers.h"
#include "settings/settings.h"
#include "view/target_box.h"

namespace {

bool IsFolderPath(const std::string& path) {
    return !path.empty() && path.back() == '/';
}

}  // namespace

CMainForm::CMainForm(const std::vector<std::string>& words, int showCommand) {
    resampleModes_ = {{ID_RESAMPLE_NONE, kResampleNone},
                      {ID_RESAMPLE_BOTH, kResampleBoth},
                      {ID_RESAMPLE_HORIZONTAL, kResampleHorizontal},
                      {ID_RESAMPLE_VERTICAL, kResampleVertical},
                      {ID_RESAMPLE_AUTO, kResampleAuto}};
    BuildGammaTables();

    WindowStyle style;
    style.topLevel = true;
    window_ = CreateFormWindow(this, nullptr, "Lumora", style);
    SetWindowForm(window(), this);
    SetWindowIcon(window(), kIconResource);

    // The keyboard table.
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
    // Read while the toolbar is made (its upscale button shows it).
    upscale_ = ReadSetting(settings::kUpscale) != 0;

    imagePane_ = std::make_unique<CImageForm>(window());

    adjustMenu_ = LoadMenuResource(IDR_ADJUST_MENU);
    g_adjustType = ReadSetting(settings::kAdjustType);
    SetMenuItemChecked(adjustMenu_, ID_ADJUST_OF_WINDOW, g_adjustType == 0);
    SetMenuItemChecked(adjustMenu_, ID_ADJUST_OF_IMAGE, g_adjustType == 1);
    adjustBarVisible_ = ReadSetting(settings::kAdjustVisible) > 0;
    imagePane_->SetAdjustVisible(adjustBarVisible_);
    fileListWidth_ = ReadSetting(settings::kFileViewWidth);
    SelectResampleMode(ReadSetting(settings::kImageResample));
    imagePane_->SetUpscale(upscale_);

    const StartChoice start = ChooseStartPath(words);
    std::string folder;
    if (start.fromCommandLine) {
        thumbnailsShown_ = false;
        folder = start.folder;
        startFile_ = start.file;
        SetTimer(window(), kStartFileTimer, 250);
    } else {
        thumbnailsShown_ = ReadSetting(settings::kShowThumbnails) == 1;
        folder = ReadSetting(settings::kInitialDirectory);
    }
    currentFolder_ = StartFolderOrHome(folder);

    LayoutPanes();
    SetFocus(imagePane_->window());

    ShowWindow(window(), showCommand | SW_MAXIMIZE);
    UpdateWindow(window());
}

CMainForm::~CMainForm() {
    DestroyMenu(adjustMenu_);
    accelerators_.reset();
    WriteSetting(settings::kInitialDirectory, currentFolder_);
    WriteSetting(settings::kImageResample, resampleCommand_);
    WriteSetting(settings::kAdjustVisible, adjustBarVisible_ ? 1 : 0);
    WriteSetting(settings::kFileViewWidth, fileListWidth_);
    WriteSetting(settings::kShowThumbnails, thumbnailsShown_ ? 1 : 0);
    WriteSetting(settings::kAdjustType, g_adjustType.load());
    WriteSetting(settings::kUpscale, upscale_ ? 1 : 0);
    imagePane_.reset();
}

void CMainForm::SelectResampleMode(int command) {
    const auto it = resampleModes_.find(command);
    imagePane_->SetResampleMode(it == resampleModes_.end() ? kResampleNone : it->second);
    resampleCommand_ = command;
}

void CMainForm::LayoutPanes() {
    RECT r{};
    GetClientRect(window(), &r);
    // The image pane alone fills the window until the toolbar and the file browser join it.
    MoveWindow(imagePane_->window(), r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (!thumbnailsShown_ || fullscreen_) ShowWindow(imagePane_->window(), SW_SHOW);
}

void CMainForm::ShowStartFile() {
    // The browser selects the start file and shows it; a folder given as the start path only
    // opens that folder.
    if (!startFile_.empty() && !IsFolderPath(startFile_)) imagePane_->Show(startFile_, "", false);
}

LRESULT CMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            LayoutPanes();
            return 0;
        case WM_CLOSE:
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATE:
            if (!fullscreen_ && wParam == WA_ACTIVE) SetFocus(imagePane_->window());
            return 0;
        case WM_TIMER:
            if (wParam == kStartFileTimer) {
                KillTimer(window, kStartFileTimer);
                ShowStartFile();
            }
            return 0;
        case WM_COMMAND: {
            const int command = LOWORD(wParam);
            if (resampleModes_.count(command)) {
                SelectResampleMode(command);
            } else if (command == ID_UPSCALE) {
                upscale_ = !upscale_;
                imagePane_->SetUpscale(upscale_);
            }
            return 0;
        }
        default:
            return DefWindowProc(window, message, wParam, lParam);
    }
}
