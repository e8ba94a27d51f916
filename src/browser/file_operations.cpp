// The file browser's context menu, refresh, reload, sorting, deletion to the trash, the
// selection relayed from the thumbnail pane and the drive labels.

#include "app/ui/resources.h"
#include "browser/file_view.h"
#include "browser/folder_listing.h"
#include "platform/qt/dialogs.h"
#include "settings/helpers.h"

void CFileView::OnContextMenu(LPARAM where) {
    HWND list = window();
    POINT point{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    ScreenToClient(list, &point);
    const bool onEntry = ListView_HitTest(list, point) != -1;
    SetMenuItemEnabled(menu_, ID_RELOAD, onEntry && !thumbnailsShown_);
    SetMenuItemEnabled(menu_, ID_DELETE_SELECTED, SelectedFileCount() > 0);
    TrackPopupMenu(GetSubMenu(menu_, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, GET_X_LPARAM(where),
                   GET_Y_LPARAM(where), list);
}

void CFileView::OnCommand(int command) {
    switch (command) {
        case ID_REFRESH:
            BuildListing(false);
            break;
        case ID_RELOAD:
            ShowCurrent(false);
            break;
        case ID_SORT_BY_NAME:
        case ID_SORT_BY_TYPE:
            FlipSortOrder();
            break;
        case ID_DELETE_SELECTED:
            DeleteSelected();
            break;
        default:
            break;
    }
}

void CFileView::Refresh() {
    refreshing_ = true;
    BuildListing(true);
    refreshing_ = false;
    // The notices of the rebuild were not followed; the entry it selected is the current one,
    // so that Enter and Reload act on what is selected.
    const int selected = ListView_GetNextItem(window(), -1, LVNI_SELECTED | LVNI_FOCUSED);
    if (selected != -1) currentEntry_ = selected;
}

void CFileView::FlipSortOrder() {
    sortType_ = sortType_ == kSortByName ? kSortByType : kSortByName;
    BuildListing(false);
    SetMenuItemChecked(menu_, ID_SORT_BY_NAME, sortType_ == kSortByName);
    SetMenuItemChecked(menu_, ID_SORT_BY_TYPE, sortType_ == kSortByType);
}

void CFileView::DeleteSelected() {
    if (MessageBox(nullptr, "Are you sure you wan't to delete these files.", "Lumora",
                   MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    HWND list = window();
    std::vector<std::string> paths;
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i != -1;
         i = ListView_GetNextItem(list, i, LVNI_SELECTED))
        if (IsFileEntry(i)) paths.push_back(EntryPath(i));
    // Should the file on screen go, the one that takes its place is shown, as the viewer does
    // after a delete: the next file that stays, else the nearest one before it.
    const std::string shown = CurrentFilePath();
    const bool shownGoes =
        !shown.empty() && ListView_GetItemState(list, currentEntry_, LVIS_SELECTED) != 0;
    std::vector<std::string> successors;
    if (shownGoes) {
        for (int i = currentEntry_ + 1; i < fileEnd_; ++i)
            if (!ListView_GetItemState(list, i, LVIS_SELECTED)) successors.push_back(EntryPath(i));
        for (int i = currentEntry_ - 1; i >= folderCount_; --i)
            if (!ListView_GetItemState(list, i, LVIS_SELECTED)) successors.push_back(EntryPath(i));
    }
    // One move per file; one that cannot be moved stays and is listed again.
    for (const std::string& path : paths) ShellDelete(path);
    main_->SendMessage(WM_KEYDOWN, VK_F5, 0);
    if (!shownGoes || FindEntry(shown, kFile) != -1) return;
    for (const std::string& successor : successors) {
        if (FindEntry(successor, kFile) == -1) continue;
        ClearSelection();
        SelectFile(successor, kFile);
        return;
    }
}

void CFileView::OnRelayedSelection(const SelectionRecord& record) {
    HWND list = window();
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i != -1;
         i = ListView_GetNextItem(list, i, LVNI_SELECTED))
        if (!IsFileEntry(i)) ListView_SetItemState(list, i, 0, LVIS_SELECTED);
    const int index = folderCount_ + record.fileIndex;
    if (!IsFileEntry(index)) return;
    ListView_SetItemState(list, index, record.selected ? LVIS_SELECTED : 0, LVIS_SELECTED);
    if (record.selected) ListView_EnsureVisible(list, index);
}

void CFileView::ReadDrives() {
    // The previous job is cancelled and awaited before it is freed.
    labelJob_.reset();
    const uint32_t generation = ++generation_;
    std::vector<MountedDrive> mounted = ReadMountedDrives(mountTable_);
    drives_.clear();
    driveRoots_.clear();
    for (const MountedDrive& drive : mounted) {
        drives_.push_back(drive.root);
        driveRoots_.push_back(drive.root);
    }
    labelJob_ =
        std::make_unique<CDriveLabelJob>(std::move(mounted), generation, window(), labelsFolder_);
    labelJob_->Start();
}

void CFileView::OnDriveLabel(WPARAM index, LPARAM generation) {
    if (!labelJob_ || labelJob_->generation != static_cast<uint32_t>(generation) ||
        index >= labelJob_->texts.size() || index >= drives_.size())
        return;
    drives_[index] = labelJob_->texts[index];
    const int row = fileEnd_ + static_cast<int>(index);
    if (KindOf(row) == kDrive) ListView_SetItemText(window(), row, drives_[index]);
}
