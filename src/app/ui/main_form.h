#pragma once

// The main window: creates the panes, reads the settings at start and writes them at exit,
// lays the panes out and routes commands between them.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/accelerators.h"
#include "platform/qt/form_window.h"
#include "platform/qt/menu.h"
#include "view/image_form.h"

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
    HMENU adjustMenu() const { return adjustMenu_; }
    const std::string& startFile() const { return startFile_; }
    const std::string& currentFolder() const { return currentFolder_; }
    int resampleCommand() const { return resampleCommand_; }
    bool upscale() const { return upscale_; }

private:
    void SelectResampleMode(int command);
    void LayoutPanes();
    void ShowStartFile();

    UniqueWindow window_;
    std::unique_ptr<CAcceleratorTable> accelerators_;
    HMENU adjustMenu_ = nullptr;
    bool fullscreen_ = false;
    bool adjustBarVisible_ = false;
    bool thumbnailsShown_ = false;
    bool upscale_ = false;
    int32_t fileListWidth_ = 150;
    int resampleCommand_ = 0;
    std::string startFile_;
    // The folder the file browser shows; until the browser exists, the start folder.
    std::string currentFolder_;
    std::unique_ptr<CImageForm> imagePane_;
    std::map<int, int> resampleModes_;
};
