#pragma once

// The file browser pane: a one-column list of the current folder's parent entry, sub-folders,
// image files, drives and special folders. It follows the selection into show-file requests to
// the main window, keeps the history of folders viewed, sorts, refreshes, reloads and moves
// selected files to the trash. Its list is subclassed: the list's messages come here first.

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "browser/drives.h"
#include "browser/file_icons.h"
#include "browser/folder_history.h"
#include "platform/qt/list_view.h"
#include "platform/qt/menu.h"

class CFileView : public CBaseForm {
public:
    // The kinds of entries, kept in each entry's value.
    enum Kind { kFile = 0, kFolder = 1, kDrive = 2, kParent = 3, kDocuments = 4, kDesktop = 5 };

    explicit CFileView(HWND mainWindow);
    ~CFileView() override;
    CFileView(const CFileView&) = delete;
    CFileView& operator=(const CFileView&) = delete;

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    HWND window() const { return AsHandle(list_); }

    // Once, at start: a folder that does not exist becomes the home folder.
    void OpenStartFolder(const std::string& path);
    // Rebuilds the list from the current folder; with rescanDrives the drives are read again.
    void BuildListing(bool rescanDrives);
    const std::string& CurrentFolder() const { return currentFolder_; }

    void HistoryBack(int steps);
    void HistoryForward(int steps);
    std::string HistoryEntryText(int offset) const { return history_.EntryText(offset); }
    int HistoryCount() const { return static_cast<int>(history_.Count()); }
    std::vector<std::pair<std::string, int>> HistoryMenuEntries() const {
        return history_.MenuEntries();
    }

    // The first entry of the kind whose full path is path, or -1.
    int FindEntry(const std::string& path, int kind) const;
    // Selects and focuses that entry; false if there is none.
    bool SelectFile(const std::string& path, int kind);
    // Asks the main window to show the current entry when it is a file.
    void ShowCurrent(bool immediate);
    // The current entry's full path when it is a file, else "".
    std::string CurrentFilePath() const;
    const std::string& NeighbourFile() const { return neighbourFile_; }
    // Full paths of the file entries in list order, and the current entry's place among them
    // (-1 when the current entry is not a file).
    void GetFileList(std::vector<std::string>* files, int32_t* position) const;
    void ClearSelection();
    int SelectedFileCount() const;
    void SetThumbnailsShown(bool shown) { thumbnailsShown_ = shown; }

    // Inspection.
    int32_t currentEntry() const { return currentEntry_; }
    int32_t previousEntry() const { return previousEntry_; }
    int32_t folderCount() const { return folderCount_; }
    int32_t fileEnd() const { return fileEnd_; }
    int32_t sortType() const { return sortType_; }
    HMENU contextMenu() const { return menu_; }
    const std::vector<std::string>& drives() const { return drives_; }
    const std::vector<std::string>& history() const { return history_.folders(); }
    const CFileIcons& icons() const { return icons_; }
    uint32_t jobGeneration() const { return generation_.load(); }
    // Where the drives and their labels are read; tests point them at files of their own.
    void SetMountTable(const std::string& path) { mountTable_ = path; }
    void SetLabelsFolder(const std::string& folder) { labelsFolder_ = folder; }

private:
    std::string EntryPath(int index) const;
    bool IsFileEntry(int index) const;
    int KindOf(int index) const;
    void AddEntry(const std::string& text, int kind, int image);
    void ChangeFolder(const std::string& folder);
    void ReadDrives();
    void ReadSpecialFolders();
    void SetTitle();
    void SendSelection(int index, bool selected);

    void OnSize(LPARAM size);
    bool OnMouseMove(WPARAM keys, LPARAM where);
    void OnItemChanged(const NMLISTVIEW& notice);
    void OpenCurrent();
    void OnWheel(WPARAM wParam, LPARAM lParam);
    void OnContextMenu(LPARAM where);
    void OnCommand(int command);
    void OnRelayedSelection(const SelectionRecord& record);
    void OnDriveLabel(WPARAM index, LPARAM generation);
    void Refresh();
    void FlipSortOrder();
    void DeleteSelected();

    HWND main_;
    UniqueWindow list_;
    CFileIcons icons_;
    HCURSOR arrow_ = nullptr;
    HCURSOR resize_ = nullptr;
    HMENU menu_ = nullptr;
    int32_t listWidth_ = 0;
    int32_t listHeight_ = 0;
    int32_t lastX_ = 0;
    bool dragging_ = false;
    int32_t currentEntry_ = -1;
    int32_t previousEntry_ = -1;
    int32_t folderCount_ = 0;
    int32_t fileEnd_ = 0;
    std::string neighbourFile_;
    int32_t sortType_ = 0;
    bool thumbnailsShown_ = false;
    bool refreshing_ = false;
    std::string currentFolder_;
    std::string documentsFolder_;
    std::string desktopFolder_;
    std::vector<std::string> drives_;
    std::vector<std::string> driveRoots_;
    CFolderHistory history_;
    std::unique_ptr<CDriveLabelJob> labelJob_;
    std::atomic<uint32_t> generation_{0};
    std::string mountTable_ = "/proc/self/mountinfo";
    std::string labelsFolder_ = "/dev/disk/by-label";
    int wheelDelta_ = 0;
};
