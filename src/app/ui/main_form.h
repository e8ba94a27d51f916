#pragma once

// The main window: the toolbar with the resampling trackbar, the file browser on the left and
// beside it the image pane or, when thumbnails are shown, the thumbnail pane. It reads the settings
// at start and writes them at exit, lays the panes out, runs the keyboard table's commands and
// routes the panes' messages between them.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "browser/file_view.h"
#include "platform/qt/accelerators.h"
#include "platform/qt/controls.h"
#include "platform/qt/form_window.h"
#include "platform/qt/menu.h"
#include "thumbs/ui/thumbnail_form.h"
#include "view/adjust_form.h"
#include "view/image_form.h"

// The About box's text: what the program is for and the libraries it decodes with.
std::string AboutText();

constexpr uintptr_t kHistoryMenuTimer = 2;
constexpr uintptr_t kStartFileTimer = 3;

class CMainForm : public CBaseForm {
public:
    // words: the command line after the program name. The window is shown with showCommand
    // combined with SW_MAXIMIZE.
    CMainForm(const std::vector<std::string>& words, int showCommand);
    ~CMainForm() override;
    CMainForm(const CMainForm&) = delete;
    CMainForm& operator=(const CMainForm&) = delete;

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    HWND window() const { return AsHandle(window_); }

    CImageForm* imagePane() const { return imagePane_.get(); }
    CFileView* fileView() const { return fileView_.get(); }
    CThumbnailForm* thumbnailPane() const { return thumbnailPane_.get(); }
    HWND thumbnailList() const { return AsHandle(thumbnailList_); }
    bool thumbnailsShown() const { return thumbnailsShown_; }
    HWND toolbar() const { return AsHandle(toolbar_); }
    HWND trackbar() const { return AsHandle(trackbar_); }
    HMENU adjustMenu() const { return adjustMenu_; }
    HWND adjustBar() const { return adjustForm_->window(); }
    bool adjustBarVisible() const { return adjustBarVisible_; }
    HMENU historyMenu() const { return historyMenu_; }
    const std::string& startFile() const { return startFile_; }
    const std::string& currentFolder() const { return fileView_->CurrentFolder(); }
    int resampleCommand() const { return resampleCommand_; }
    int32_t fileListWidth() const { return fileListWidth_; }
    bool upscale() const { return upscale_; }
    bool fullscreen() const { return fullscreen_; }
    // The tooltip text of a toolbar button, as the tooltip gets it.
    std::string TooltipText(int command) const;

private:
    void CreateToolbar();
    void PlaceTrackbar();
    void SelectResampleMode(int command);
    void LayoutPanes();
    void SwitchFullscreen();
    void RelistFullscreen();
    void PreloadStartFile(const std::string& file);
    void ShowStartFile();
    void ShowFile(LPARAM immediate);
    void OnShowFile(WPARAM origin, LPARAM immediate);
    void ToggleThumbnails();
    void OnFolderChanged();
    void GiveThumbnailsTheFolder();
    void OnFullscreenCommand(LPARAM lParam);
    void ShowHistoryMenu();
    void StepAdjust(int command);
    void ShowAbout();
    void ShowSettings();
    void OnCommand(int command, LPARAM lParam);
    void OnSplitterMoved(int32_t delta);
    void OnContextMenu(LPARAM where);
    LRESULT ToolbarProc(HWND toolbar, UINT message, WPARAM wParam, LPARAM lParam);

    UniqueWindow window_;
    CImageList toolbarImages_;
    UniqueWindow toolbar_;
    UniqueWindow trackbar_;
    std::unique_ptr<CAcceleratorTable> accelerators_;
    HMENU historyMenu_ = nullptr;
    HMENU adjustMenu_ = nullptr;
    bool fullscreen_ = false;
    bool adjustBarVisible_ = false;
    bool thumbnailsShown_ = false;
    // The thumbnail pane has not been given the file list's current folder yet.
    bool thumbnailFolderStale_ = false;
    // Set while a fullscreen request of the thumbnail pane shows its file.
    bool fullscreenRequest_ = false;
    bool upscale_ = false;
    // The image pane's place before fullscreen, to size its picture for the return ahead of it.
    RECT windowedPane_{};
    int32_t fileListWidth_ = 150;
    int resampleCommand_ = 0;
    std::string startFile_;
    std::unique_ptr<CAdjustForm> adjustForm_;
    std::unique_ptr<CImageForm> imagePane_;
    std::unique_ptr<CFileView> fileView_;
    UniqueWindow thumbnailList_;
    std::unique_ptr<CThumbnailForm> thumbnailPane_;
    std::map<int, int> resampleModes_;
};
