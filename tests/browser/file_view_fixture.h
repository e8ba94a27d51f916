#pragma once

// A file browser in a top-level window whose form answers as the main window does: it sends the
// list's notices back to the list and records what the browser asks of it.

#include <QWidget>
#include <filesystem>
#include <string>

#include "browser/file_view.h"
#include "settings/registry.h"
#include "support/gui_app.h"
#include "support/recording_form.h"
#include "support/temp_dir.h"

class FileViewTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        std::filesystem::remove(SettingsFilePath());
        main_.handler = [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == WM_NOTIFY && view_) {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                if (header->hwndFrom == view_->window())
                    return view_->window()->SendMessage(message, wParam, lParam);
            }
            if (message == WM_KEYDOWN && wParam == VK_F5 && view_)
                return view_->window()->SendMessage(message, wParam, lParam);
            if (message == WM_SHOW_FILE && view_) {
                shown_.push_back(view_->CurrentFilePath());
                neighbours_.push_back(view_->NeighbourFile());
            }
            if (message == WM_FILE_SELECTION)
                records_.push_back(*reinterpret_cast<const SelectionRecord*>(lParam));
            return DefWindowProc(window, message, wParam, lParam);
        };
        WindowStyle style;
        style.topLevel = true;
        top_ = CreateFormWindow(&main_, nullptr, "Lumora", style);
        SetWindowForm(top(), &main_);
        MoveWindow(top(), 0, 0, 640, 480);
        ShowWindow(top(), SW_SHOW);
    }
    void TearDown() override {
        view_.reset();
        std::filesystem::current_path("/");
    }

    HWND top() const { return AsHandle(top_); }
    HWND list() const { return view_->window(); }
    std::string Folder() const { return dir_.path().string() + "/"; }
    void Touch(const std::string& name) { WriteFileBytes(dir_.file(name), "x"); }
    void MakeFolder(const std::string& name) {
        std::filesystem::create_directories(dir_.path() / name);
    }

    // A browser on the folder, its list placed and shown.
    void Open(const std::string& folder) {
        view_ = std::make_unique<CFileView>(top());
        MoveWindow(list(), 0, 0, 200, 400);
        ShowWindow(list(), SW_SHOW);
        view_->OpenStartFolder(folder);
    }

    // Texts of the entries from the first to the first drive.
    std::vector<std::string> Entries() const {
        std::vector<std::string> texts;
        for (int i = 0; i < view_->fileEnd(); ++i) texts.push_back(ListView_GetItemText(list(), i));
        return texts;
    }
    int Kind(int index) const { return static_cast<int>(ListView_GetItemParam(list(), index)); }
    int IndexOf(const std::string& text) const {
        for (int i = 0; i < ListView_GetItemCount(list()); ++i)
            if (ListView_GetItemText(list(), i) == text) return i;
        return -1;
    }
    std::vector<int> Selected() const {
        std::vector<int> rows;
        for (int i = ListView_GetNextItem(list(), -1, LVNI_SELECTED); i != -1;
             i = ListView_GetNextItem(list(), i, LVNI_SELECTED))
            rows.push_back(i);
        return rows;
    }
    std::string Title() const { return GetWindowWidget(top())->windowTitle().toStdString(); }
    void Key(WPARAM key) { list()->SendMessage(WM_KEYDOWN, key, 0); }

    TempDir dir_;
    RecordingForm main_;
    UniqueWindow top_;
    std::unique_ptr<CFileView> view_;
    std::vector<std::string> shown_;
    std::vector<std::string> neighbours_;
    std::vector<SelectionRecord> records_;
};
