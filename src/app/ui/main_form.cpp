#include "app/ui/main_form.h"

#include <algorithm>

#include "app/core/start_path.h"
#include "app/ui/resources.h"
#include "image/jpeg_reader.h"
#include "image/resample.h"
#include "platform/qt/list_view.h"
#include "platform/qt/paint_log.h"
#include "platform/qt/toolbar.h"
#include "platform/start_trace.h"
#include "settings/helpers.h"
#include "settings/settings.h"
#include "settings/ui/show_settings.h"
#include "thumbs/thumbnail_cache.h"
#include "view/core/target_box.h"

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

    CreateToolbar();
    adjustForm_ = std::make_unique<CAdjustForm>(window(), trackbar());
    fileView_ = std::make_unique<CFileView>(window());
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
    if (start.fromCommandLine) {
        thumbnailsShown_ = false;
        PreloadStartFile(start.file);
        // Taken over by the pre-load when that is where the file went; else of no more use.
        EndEarlyJpegRead();
        fileView_->OpenStartFolder(start.folder);
        TraceStartStep("listing-done");
        startFile_ = start.file;
        // At the loop's first turn, once the window below is shown and the folder listed: a
        // fixed wait here would only hold the photo back.
        SetTimer(window(), kStartFileTimer, 0);
    } else {
        thumbnailsShown_ = ReadSetting(settings::kShowThumbnails) == 1;
        fileView_->OpenStartFolder(ReadSetting(settings::kInitialDirectory));
    }

    thumbnailList_ = CreateIconListView(window(), CThumbnailForm::kSize);
    ListView_SetBkColor(thumbnailList(),
                        static_cast<COLORREF>(ReadSetting(settings::kBackgroundColor)));
    SetWindowForm(thumbnailList(), this);
    thumbnailPane_ = std::make_unique<CThumbnailForm>(thumbnailList());
    // Hidden thumbnails get their folder, and its cache probe, only when they are shown.
    thumbnailFolderStale_ = true;
    if (thumbnailsShown_) {
        thumbnailsShown_ = false;
        window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
    }

    LayoutPanes();
    SetFocus(fileView_->window());

    ShowWindow(window(), showCommand | SW_MAXIMIZE);
    UpdateWindow(window());
}

CMainForm::~CMainForm() {
    DestroyMenu(historyMenu_);
    DestroyMenu(adjustMenu_);
    accelerators_.reset();
    WriteSetting(settings::kInitialDirectory, fileView_->CurrentFolder());
    WriteSetting(settings::kImageResample, resampleCommand_);
    WriteSetting(settings::kAdjustVisible, adjustBarVisible_ ? 1 : 0);
    WriteSetting(settings::kFileViewWidth, fileListWidth_);
    WriteSetting(settings::kShowThumbnails, thumbnailsShown_ ? 1 : 0);
    WriteSetting(settings::kAdjustType, g_adjustType.load());
    WriteSetting(settings::kUpscale, upscale_ ? 1 : 0);
    imagePane_.reset();
    fileView_.reset();
    // Before its list window goes.
    thumbnailPane_.reset();
}

// --- layout ---------------------------------------------------------------------------------

void CMainForm::LayoutPanes() {
    if (fullscreen_) {
        const RECT screen = GetScreenRect(window());
        ShowWindow(toolbar(), SW_HIDE);
        ShowWindow(fileView_->window(), SW_HIDE);
        ShowWindow(thumbnailList(), SW_HIDE);
        MoveWindow(imagePane_->window(), 0, 0, screen.right - screen.left,
                   screen.bottom - screen.top);
        ShowWindow(imagePane_->window(), SW_SHOW);
        EnableWindow(trackbar(), true);
        return;
    }
    ShowWindow(adjustForm_->window(), SW_HIDE);
    RECT r{};
    GetClientRect(window(), &r);
    const int h = Toolbar_GetButtonHeight(toolbar());
    MoveWindow(toolbar(), r.left, r.top, r.right - r.left, h + 5);
    const int y = r.top + h + 5;
    const int paneHeight = r.bottom - y - r.top;
    MoveWindow(fileView_->window(), 0, y, fileListWidth_, paneHeight);
    MoveWindow(thumbnailsShown_ ? thumbnailList() : imagePane_->window(), fileListWidth_, y,
               r.right - fileListWidth_ - r.left, paneHeight);
    PlaceTrackbar();

    const bool imageShown = !thumbnailsShown_;
    for (int command = ID_FULLSCREEN; command <= ID_RESAMPLE_AUTO; ++command) {
        if (command == ID_THUMBNAILS) continue;
        const int state = Toolbar_GetState(toolbar(), command);
        Toolbar_SetState(
            toolbar(), command,
            static_cast<uint8_t>(imageShown ? state | TBSTATE_ENABLED : state & ~TBSTATE_ENABLED));
    }
    EnableWindow(trackbar(), imageShown || fullscreen_);
    ShowWindow(toolbar(), SW_SHOW);
    ShowWindow(trackbar(), SW_SHOW);
    ShowWindow(fileView_->window(), SW_SHOW);
    ShowWindow(imagePane_->window(), imageShown ? SW_SHOW : SW_HIDE);
    ShowWindow(thumbnailList(), imageShown ? SW_HIDE : SW_SHOW);
}

void CMainForm::OnSplitterMoved(int32_t delta) {
    RECT r{};
    GetClientRect(window(), &r);
    fileListWidth_ += delta;
    if (fileListWidth_ < 25)
        fileListWidth_ = 25;
    else if (fileListWidth_ > r.right - r.left - 25)
        fileListWidth_ = r.right - r.left - 25;
    LayoutPanes();
    InvalidateRect(imagePane_->window(), nullptr);
    UpdateWindow(imagePane_->window());
}

void CMainForm::SwitchFullscreen() {
    if (PaintLogOn()) PaintLog("switch", fullscreen_ ? 0 : 1, 0, 0);
    // The picture is sized for the pane's new size before the window changes, so that the first
    // paint at that size is the final one. Behind the thumbnails the pane shows no picture.
    bool prepared = false;
    if (!fullscreen_) {
        windowedPane_ = RECT{};
        if (!thumbnailsShown_) {
            GetWindowRect(imagePane_->window(), &windowedPane_);
            const RECT screen = GetScreenRect(window());
            prepared = imagePane_->PrepareSize(screen.right - screen.left,
                                               screen.bottom - screen.top, true);
        }
    } else if (!thumbnailsShown_ && windowedPane_.right > windowedPane_.left) {
        prepared = imagePane_->PrepareSize(windowedPane_.right - windowedPane_.left,
                                           windowedPane_.bottom - windowedPane_.top, false);
    }
    imagePane_->SetSwitching(true);
    fullscreen_ = !fullscreen_;
    if (fullscreen_) {
        // The other panes go before the window grows, so nothing shows at the new size first.
        ShowWindow(toolbar(), SW_HIDE);
        ShowWindow(fileView_->window(), SW_HIDE);
        SetWindowFullscreen(window(), true);
        fileView_->GetFileList(&imagePane_->fileList, &imagePane_->currentIndex);
        SetFocus(imagePane_->window());
        SetParent(trackbar(), adjustForm_->window());
        MoveWindow(trackbar(), 0, 0, 150, 20);
        ShowWindow(adjustForm_->window(), adjustBarVisible_ ? SW_SHOW : SW_HIDE);
    } else {
        ShowWindow(adjustForm_->window(), SW_HIDE);
        SetParent(trackbar(), toolbar());
        SetWindowFullscreen(window(), false);
        const int32_t index = imagePane_->currentIndex;
        const std::vector<std::string>& files = imagePane_->fileList;
        if (index >= 0 && index < static_cast<int32_t>(files.size())) {
            if (fileView_->SelectedFileCount() == 1) fileView_->ClearSelection();
            fileView_->SelectFile(files[static_cast<size_t>(index)], CFileView::kFile);
            if (thumbnailsShown_) thumbnailPane_->EnsureVisible(index);
        }
        SetFocus(fileView_->window());
        if (thumbnailsShown_) thumbnailPane_->Activate();
    }
    LayoutPanes();
    imagePane_->SetSwitching(false);
    imagePane_->SetFullscreen(fullscreen_);
    if (prepared)
        imagePane_->ShowPrepared();
    else
        imagePane_->Refresh();
}

// F5 in fullscreen, after the file list has read the folder again: the pane steps on through the
// files there now, keeping its picture when its file is still listed, else showing the file that
// took its place. Files another program removed or renamed are gone from the steps.
void CMainForm::RelistFullscreen() {
    std::vector<std::string> files;
    int32_t position = -1;
    fileView_->GetFileList(&files, &position);
    const auto shown = std::find(files.begin(), files.end(), imagePane_->currentName());
    int32_t index = imagePane_->currentIndex;
    if (shown != files.end()) index = static_cast<int32_t>(shown - files.begin());
    if (files.empty()) index = -1;
    imagePane_->fileList = std::move(files);
    imagePane_->currentIndex = index;
    imagePane_->Navigate(VK_F5, false);
}

// --- commands -------------------------------------------------------------------------------

void CMainForm::SelectResampleMode(int command) {
    for (int id = ID_RESAMPLE_NONE; id <= ID_RESAMPLE_AUTO; ++id)
        Toolbar_SetState(toolbar(), id, TBSTATE_ENABLED);
    Toolbar_SetState(toolbar(), command, TBSTATE_ENABLED | TBSTATE_PRESSED);
    const auto it = resampleModes_.find(command);
    imagePane_->SetResampleMode(it == resampleModes_.end() ? kResampleNone : it->second);
    resampleCommand_ = command;
}

void CMainForm::StepAdjust(int command) {
    const int p = Trackbar_GetPos(trackbar());
    int next = p;
    if (command == ID_ADJUST_UP)
        next = p < 96 ? p + 5 : 99;
    else
        next = p > 4 ? p - 5 : 0;
    if (next == p) return;
    Trackbar_SetPos(trackbar(), next);
    imagePane_->SetAdjust(next);
}

void CMainForm::ShowFile(LPARAM immediate) {
    const std::string file = fileView_->CurrentFilePath();
    if (!file.empty()) imagePane_->Show(file, fileView_->NeighbourFile(), immediate == 1);
}

void CMainForm::OnShowFile(WPARAM origin, LPARAM immediate) {
    if (!thumbnailsShown_ || fullscreenRequest_) {
        ShowFile(immediate);
        return;
    }
    // Behind the thumbnails only the thumbnail pane's requests show a file.
    if (origin == 0) return;
    thumbnailPane_->CancelLoad();
    if (origin == 1) {
        window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
    } else if (origin == 2) {
        fullscreenRequest_ = true;
        SwitchFullscreen();
        ShowFile(0);
        fullscreenRequest_ = false;
    }
}

void CMainForm::ToggleThumbnails() {
    thumbnailsShown_ = !thumbnailsShown_;
    fileView_->SetThumbnailsShown(thumbnailsShown_);
    Toolbar_SetState(toolbar(), ID_THUMBNAILS,
                     TBSTATE_ENABLED | (thumbnailsShown_ ? TBSTATE_PRESSED : 0));
    if (!thumbnailsShown_) thumbnailPane_->CancelLoad();
    LayoutPanes();
    if (thumbnailsShown_) {
        if (thumbnailFolderStale_) GiveThumbnailsTheFolder();
        thumbnailPane_->Activate();
        SetFocus(thumbnailList());
    } else if (fileView_->CurrentFilePath() != imagePane_->currentName()) {
        ShowFile(0);
    }
    Toolbar_UpdateTooltip(toolbar());
}

void CMainForm::OnFolderChanged() {
    if (!thumbnailPane_) return;
    thumbnailPane_->CancelLoad();
    if (!thumbnailsShown_) {
        thumbnailFolderStale_ = true;
        return;
    }
    GiveThumbnailsTheFolder();
    thumbnailPane_->Activate();
}

void CMainForm::GiveThumbnailsTheFolder() {
    std::vector<std::string> files;
    int32_t position = -1;
    fileView_->GetFileList(&files, &position);
    thumbnailPane_->SetFolder(fileView_->CurrentFolder(), std::move(files));
    thumbnailFolderStale_ = false;
}

void CMainForm::OnFullscreenCommand(LPARAM lParam) {
    if (!thumbnailsShown_) {
        SwitchFullscreen();
        return;
    }
    thumbnailPane_->CancelLoad();
    // A file opened in the file list goes fullscreen the way the pane's own request does.
    if (lParam == 1 && fileView_->CurrentFilePath() != imagePane_->currentName())
        thumbnailList()->PostMessage(WM_COMMAND, ID_SHOW_FULLSCREEN, 0);
    else
        SwitchFullscreen();
}

// The photo decodes while the window is made and the folder listed, for the pane the
// maximised window will have; the file list's show-file of it then takes that load over.
void CMainForm::PreloadStartFile(const std::string& file) {
    const RECT screen = GetAvailableScreenRect(window());
    const int32_t top = Toolbar_GetButtonHeight(toolbar()) + 5;
    imagePane_->PreloadAt(file, screen.right - screen.left - fileListWidth_,
                          screen.bottom - screen.top - top);
    TraceStartStep("start-file-preload");
}

void CMainForm::ShowStartFile() {
    // The start file becomes the one selection, not a second one beside the listing's first
    // entry; and when selecting it has already put it on screen, it is not decoded a second time.
    // A start path that names a folder, or a file that is not there, leaves the listing's own
    // selection.
    if (fileView_->FindEntry(startFile_, CFileView::kFile) == -1) return;
    fileView_->ClearSelection();
    if (!fileView_->SelectFile(startFile_, CFileView::kFile)) return;
    if (imagePane_->currentName() != startFile_) fileView_->ShowCurrent(false);
}

void CMainForm::OnCommand(int command, LPARAM lParam) {
    if (resampleModes_.count(command)) {
        SelectResampleMode(command);
        return;
    }
    if (command >= ID_HISTORY_FIRST && command <= ID_HISTORY_LAST) {
        fileView_->HistoryForward(command - (ID_HISTORY_FIRST - 1));
        return;
    }
    switch (command) {
        case ID_ADJUST_BAR:
            // The adjust bar shows only in fullscreen.
            if (fullscreen_) {
                adjustBarVisible_ = !adjustBarVisible_;
                ShowWindow(adjustForm_->window(), adjustBarVisible_ ? SW_SHOW : SW_HIDE);
                imagePane_->SetAdjustVisible(adjustBarVisible_);
            }
            break;
        case ID_HISTORY_BACK:
            fileView_->HistoryBack(1);
            Toolbar_UpdateTooltip(toolbar());
            break;
        case ID_HISTORY_FORWARD:
            fileView_->HistoryForward(1);
            Toolbar_UpdateTooltip(toolbar());
            break;
        case ID_ABOUT:
            ShowAbout();
            break;
        case ID_ADJUST_UP:
        case ID_ADJUST_DOWN:
            StepAdjust(command);
            break;
        case ID_ADJUST_OF_WINDOW:
        case ID_ADJUST_OF_IMAGE:
            g_adjustType = command == ID_ADJUST_OF_IMAGE ? 1 : 0;
            SetMenuItemChecked(adjustMenu_, ID_ADJUST_OF_WINDOW, command == ID_ADJUST_OF_WINDOW);
            SetMenuItemChecked(adjustMenu_, ID_ADJUST_OF_IMAGE, command == ID_ADJUST_OF_IMAGE);
            window()->SendMessage(WM_HSCROLL, TB_THUMBTRACK, 0);
            break;
        case ID_UPSCALE:
            upscale_ = !upscale_;
            Toolbar_SetState(toolbar(), ID_UPSCALE,
                             TBSTATE_ENABLED | (upscale_ ? TBSTATE_PRESSED : 0));
            imagePane_->SetUpscale(upscale_);
            break;
        case ID_SETTINGS:
            ShowSettings();
            break;
        case ID_FULLSCREEN:
            OnFullscreenCommand(lParam);
            break;
        case ID_THUMBNAILS:
            ToggleThumbnails();
            break;
        default:
            break;
    }
}

void CMainForm::ShowSettings() {
    // The thumbnail pane owns the cache the settings may move.
    thumbnailPane_->ShowSettings();
}

void CMainForm::OnContextMenu(LPARAM where) {
    RECT r{};
    GetWindowRect(trackbar(), &r);
    const int x = GET_X_LPARAM(where);
    const int y = GET_Y_LPARAM(where);
    if (x > r.left && x < r.right && y > r.top && y < r.bottom)
        TrackPopupMenu(GetSubMenu(adjustMenu_, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, window());
}

// --- the window procedure -------------------------------------------------------------------

LRESULT CMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == toolbar()) return ToolbarProc(window, message, wParam, lParam);
    if (window == thumbnailList()) {
        if (!thumbnailPane_) return CallWindowProc(window, message, wParam, lParam);
        return thumbnailPane_->WindowProc(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_SIZE:
            LayoutPanes();
            return 0;
        case WM_ACTIVATE:
            if (!fullscreen_ && wParam == WA_ACTIVE) SetFocus(fileView_->window());
            return 0;
        case WM_CLOSE:
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATEAPP:
            if (fullscreen_ && adjustBarVisible_)
                ShowWindow(adjustForm_->window(), wParam ? SW_SHOW : SW_HIDE);
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (!header) return 0;
            if (header->hwndFrom == fileView_->window())
                return fileView_->window()->SendMessage(WM_NOTIFY, wParam, lParam);
            if (header->hwndFrom == thumbnailList())
                return thumbnailList()->SendMessage(WM_NOTIFY, wParam, lParam);
            if (header->code == TTN_GETDISPINFO) {
                auto* info = reinterpret_cast<NMTTDISPINFO*>(lParam);
                const std::string text = TooltipText(static_cast<int>(header->idFrom));
                const size_t length = std::min(text.size(), sizeof(info->szText) - 1);
                text.copy(info->szText, length);
                info->szText[length] = '\0';
                info->lpszText = nullptr;
            }
            return 0;
        }
        case WM_CONTEXTMENU:
            OnContextMenu(lParam);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_F5) {
                fileView_->window()->SendMessage(WM_KEYDOWN, wParam, lParam);
                if (fullscreen_) RelistFullscreen();
            }
            return 0;
        case WM_KEYUP:
            if (!fullscreen_) return 0;
            if (wParam == VK_ESCAPE)
                SwitchFullscreen();
            else
                imagePane_->window()->SendMessage(message, wParam, lParam);
            return 0;
        case WM_MOUSEWHEEL:
            return fileView_->window()->SendMessage(WM_MOUSEWHEEL, wParam, lParam);
        case WM_HSCROLL: {
            const int code = LOWORD(wParam);
            const bool fromTrackbar = lParam == 0 || lParam == reinterpret_cast<LPARAM>(trackbar());
            if (fromTrackbar && code != TB_THUMBPOSITION && code != TB_ENDTRACK &&
                code <= TB_BOTTOM)
                imagePane_->SetAdjust(Trackbar_GetPos(trackbar()));
            return 0;
        }
        case WM_TIMER:
            if (wParam == kHistoryMenuTimer) {
                ShowHistoryMenu();
            } else if (wParam == kStartFileTimer) {
                KillTimer(window, kStartFileTimer);
                TraceStartStep("start-file-timer");
                ShowStartFile();
            }
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), lParam);
            return 0;
        case WM_SPLITTER_MOVED:
            OnSplitterMoved(static_cast<int32_t>(static_cast<intptr_t>(wParam)));
            return 0;
        case WM_FOLDER_CHANGED:
            OnFolderChanged();
            return 0;
        case WM_BACKGROUND_CHANGED:
            ListView_SetBkColor(thumbnailList(), static_cast<COLORREF>(wParam));
            return 0;
        case WM_SHOW_FILE:
            OnShowFile(wParam, lParam);
            return 0;
        case WM_FILE_SELECTION:
            // A record of the file list is the thumbnail pane's to follow; others are the list's.
            if (wParam == reinterpret_cast<WPARAM>(fileView_->window())) {
                if (thumbnailPane_) thumbnailList()->SendMessage(WM_FILE_SELECTION, 0, lParam);
            } else {
                fileView_->window()->SendMessage(WM_FILE_SELECTION, 0, lParam);
            }
            return 0;
        case WM_FILE_DELETED:
            fileView_->window()->SendMessage(message, wParam, lParam);
            imagePane_->window()->SendMessage(message, wParam, lParam);
            return 0;
        default:
            return DefWindowProc(window, message, wParam, lParam);
    }
}
