// The file browser's selection, opening of entries, mouse wheel and folder history.

#include <unistd.h>

#include "app/ui/resources.h"
#include "browser/file_view.h"
#include "platform/qt/dialogs.h"

void CFileView::SendSelection(int index, bool selected) {
    SelectionRecord record;
    record.fileIndex = index - folderCount_;
    record.selected = selected ? 1 : 0;
    main_->SendMessage(WM_FILE_SELECTION, reinterpret_cast<WPARAM>(window()),
                       reinterpret_cast<LPARAM>(&record));
}

void CFileView::OnItemChanged(const NMLISTVIEW& notice) {
    if (refreshing_ || !(notice.uChanged & LVIF_STATE) || notice.uNewState == notice.uOldState)
        return;
    const int index = notice.iItem;
    if (notice.uNewState & LVIS_SELECTED) {
        previousEntry_ = currentEntry_;
        currentEntry_ = index;
        if (IsFileEntry(index)) SendSelection(index, true);
    } else if ((notice.uOldState & LVIS_SELECTED) && IsFileEntry(currentEntry_)) {
        SendSelection(index, false);
    }
    if ((notice.uNewState & (LVIS_SELECTED | LVIS_FOCUSED)) == (LVIS_SELECTED | LVIS_FOCUSED))
        ShowCurrent(true);
}

void CFileView::ShowCurrent(bool immediate) {
    if (!IsFileEntry(currentEntry_)) return;
    // The neighbour in the direction the user is moving is the one to pre-load.
    const bool forward = previousEntry_ <= currentEntry_;
    const int first = forward ? currentEntry_ + 1 : currentEntry_ - 1;
    const int second = forward ? currentEntry_ - 1 : currentEntry_ + 1;
    neighbourFile_ = IsFileEntry(first)    ? EntryPath(first)
                     : IsFileEntry(second) ? EntryPath(second)
                                           : std::string();
    main_->SendMessage(WM_SHOW_FILE, 0, immediate ? 1 : 0);
    history_.Add(currentFolder_);
}

std::string CFileView::CurrentFilePath() const {
    return IsFileEntry(currentEntry_) ? EntryPath(currentEntry_) : std::string();
}

int CFileView::FindEntry(const std::string& path, int kind) const {
    const int count = ListView_GetItemCount(window());
    for (int i = 0; i < count; ++i)
        if (KindOf(i) == kind && EntryPath(i) == path) return i;
    return -1;
}

bool CFileView::SelectFile(const std::string& path, int kind) {
    const int i = FindEntry(path, kind);
    if (i == -1) return false;
    ListView_SetItemState(window(), i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(window(), i);
    return true;
}

void CFileView::GetFileList(std::vector<std::string>* files, int32_t* position) const {
    files->clear();
    *position = -1;
    const int count = ListView_GetItemCount(window());
    for (int i = 0; i < count; ++i) {
        if (!IsFileEntry(i)) continue;
        if (i == currentEntry_) *position = static_cast<int32_t>(files->size());
        files->push_back(EntryPath(i));
    }
}

void CFileView::ClearSelection() {
    ListView_SetItemState(window(), -1, 0, LVIS_SELECTED);
}

int CFileView::SelectedFileCount() const {
    int count = 0;
    for (int i = ListView_GetNextItem(window(), -1, LVNI_SELECTED); i != -1;
         i = ListView_GetNextItem(window(), i, LVNI_SELECTED))
        if (IsFileEntry(i)) ++count;
    return count;
}

void CFileView::OpenCurrent() {
    HWND list = window();
    const int index = currentEntry_;
    switch (KindOf(index)) {
        case kFile:
            main_->SendMessage(WM_COMMAND, ID_FULLSCREEN, 1);
            return;
        case kFolder:
            currentFolder_ += ListView_GetItemText(list, index) + "/";
            BuildListing(false);
            return;
        case kDrive:
            if (index - fileEnd_ < static_cast<int>(driveRoots_.size())) {
                currentFolder_ = driveRoots_[static_cast<size_t>(index - fileEnd_)];
                BuildListing(false);
            }
            return;
        case kParent: {
            std::string left = currentFolder_;
            left.pop_back();
            currentFolder_ = left.substr(0, left.rfind('/') + 1);
            BuildListing(false);
            ClearSelection();
            SelectFile(left, kFolder);
            return;
        }
        case kDocuments:
            currentFolder_ = documentsFolder_;
            BuildListing(false);
            return;
        case kDesktop:
            currentFolder_ = desktopFolder_;
            BuildListing(false);
            return;
        default:
            return;
    }
}

void CFileView::OnWheel(WPARAM wParam, LPARAM lParam) {
    HWND list = window();
    RECT r{};
    GetWindowRect(list, &r);
    if (GET_X_LPARAM(lParam) < r.right) {
        wheelDelta_ = 0;
        CallWindowProc(list, WM_MOUSEWHEEL, wParam, lParam);
        return;
    }
    // Over the image a wheel step is a step through the files. Fine-grained wheels and touch
    // pads send parts of a step; they add up to one.
    const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
    if ((delta > 0) != (wheelDelta_ > 0)) wheelDelta_ = 0;
    wheelDelta_ += delta;
    while (wheelDelta_ >= WHEEL_DELTA || wheelDelta_ <= -WHEEL_DELTA) {
        const bool up = wheelDelta_ > 0;
        list->PostMessage(WM_KEYDOWN, up ? VK_UP : VK_DOWN, 0);
        wheelDelta_ += up ? -WHEEL_DELTA : WHEEL_DELTA;
    }
}

void CFileView::HistoryBack(int steps) {
    if (history_.Back(steps)) ChangeFolder(history_.Last());
}

void CFileView::HistoryForward(int steps) {
    if (history_.Forward(steps)) ChangeFolder(history_.Last());
}

void CFileView::ChangeFolder(const std::string& folder) {
    if (folder != "/" && chdir(folder.c_str()) != 0) {
        MessageBox(nullptr, "The directory: \"" + folder + "\" doesn't exist.", "Lumora",
                   MB_OK | MB_ICONHAND);
        return;
    }
    currentFolder_ = folder;
    if (currentFolder_.back() != '/') currentFolder_ += '/';
    BuildListing(false);
}
