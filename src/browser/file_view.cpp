#include "browser/file_view.h"

#include <QCursor>

#include "app/core/start_path.h"
#include "app/ui/resources.h"
#include "browser/folder_listing.h"
#include "browser/special_folders.h"
#include "platform/qt/paint_log.h"
#include "settings/settings.h"

CFileView::CFileView(HWND mainWindow) : main_(mainWindow) {
    list_ = CreateListView(mainWindow);
    SetWindowForm(window(), this);
    ListView_SetImageList(window(), &icons_.images());
    arrow_ = LoadCursor(IDC_ARROW);
    resize_ = LoadCursor(IDC_SIZEWE);
    sortType_ = ReadSetting(settings::kSortingType);
    menu_ = LoadMenuResource(IDR_FILE_VIEW_MENU);
    SetMenuItemChecked(menu_, ID_SORT_BY_NAME, sortType_ == kSortByName);
    SetMenuItemChecked(menu_, ID_SORT_BY_TYPE, sortType_ == kSortByType);
}

CFileView::~CFileView() {
    labelJob_.reset();
    WriteSetting(settings::kSortingType, sortType_);
    history_.Save();
    DestroyMenu(menu_);
}

void CFileView::OpenStartFolder(const std::string& path) {
    currentFolder_ = StartFolderOrHome(path);
    ReadDrives();
    ReadSpecialFolders();
    BuildListing(false);
    history_.Load();
}

void CFileView::ReadSpecialFolders() {
    documentsFolder_ = DocumentsFolder();
    desktopFolder_ = DesktopFolder();
}

// --- entries --------------------------------------------------------------------------------

int CFileView::KindOf(int index) const {
    if (index < 0 || index >= ListView_GetItemCount(window())) return -1;
    return static_cast<int>(ListView_GetItemParam(window(), index));
}

bool CFileView::IsFileEntry(int index) const {
    return KindOf(index) == kFile;
}

std::string CFileView::EntryPath(int index) const {
    return currentFolder_ + ListView_GetItemText(window(), index);
}

void CFileView::AddEntry(const std::string& text, int kind, int image) {
    ListView_InsertItem(window(), ListView_GetItemCount(window()), text, image, kind);
}

// --- the listing ----------------------------------------------------------------------------

void CFileView::BuildListing(bool rescanDrives) {
    HWND list = window();
    std::string selectedPath, focusedPath;
    bool haveSelected = false, haveFocused = false;
    if (currentEntry_ != -1) {
        selectedPath = EntryPath(currentEntry_);
        haveSelected = true;
    } else if (const int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED); focused != -1) {
        focusedPath = EntryPath(focused);
        haveFocused = true;
    }

    ListView_DeleteAllItems(list);
    if (currentFolder_ != "/") AddEntry("..", kParent, kImageFolder);
    const FolderContents contents = ReadFolder(currentFolder_, sortType_);
    for (const std::string& folder : contents.folders) AddEntry(folder, kFolder, kImageFolder);
    folderCount_ = ListView_GetItemCount(list);
    SetRedraw(list, false);
    for (const std::string& file : contents.files) AddEntry(file, kFile, icons_.IconFor(file));
    SetRedraw(list, true);
    fileEnd_ = ListView_GetItemCount(list);

    if (rescanDrives) ReadDrives();
    for (const std::string& drive : drives_) AddEntry(drive, kDrive, kImageDrive);
    if (!documentsFolder_.empty()) AddEntry("My Documents", kDocuments, kImageSpecialFolder);
    if (!desktopFolder_.empty()) AddEntry("Desktop", kDesktop, kImageSpecialFolder);

    bool reselected = haveSelected && SelectFile(selectedPath, kFile);
    if (!reselected && haveFocused) {
        for (int i = 0; i < ListView_GetItemCount(list); ++i) {
            if (IsFileEntry(i) && EntryPath(i) == focusedPath) {
                ListView_SetItemState(list, i, LVIS_FOCUSED, LVIS_FOCUSED);
                reselected = true;
                break;
            }
        }
    }
    if (!reselected && ListView_GetItemCount(list) > 0) {
        ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, 0);
    }
    SetTitle();
    main_->SendMessage(WM_FOLDER_CHANGED, 0, 0);
}

void CFileView::SetTitle() {
    std::string folder = currentFolder_;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    SetWindowText(main_, "Lumora  -  [" + folder + "]");
}

// --- the list's own messages ----------------------------------------------------------------

void CFileView::OnSize(LPARAM size) {
    listWidth_ = LOWORD(static_cast<uintptr_t>(size));
    listHeight_ = HIWORD(static_cast<uintptr_t>(size));
    ListView_SetColumnWidth(window(), listWidth_);
}

// The splitter: the 7 pixels at the list's right edge. Returns whether the move was its.
bool CFileView::OnMouseMove(WPARAM keys, LPARAM where) {
    HWND list = window();
    const int32_t x = GET_X_LPARAM(where);
    const int32_t y = GET_Y_LPARAM(where);
    const bool inZone = x > listWidth_ - 7 && x < listWidth_ && y >= 1 && y <= listHeight_ - 1;
    // Only a press in the zone starts a drag: one that began on an entry and crosses the edge
    // is the list's, and measured from a stale last x it would throw the splitter across.
    if (dragging_ && (keys & MK_LBUTTON)) {
        if (x != lastX_) {
            const int32_t delta = x - lastX_;
            main_->SendMessage(WM_SPLITTER_MOVED, static_cast<WPARAM>(static_cast<intptr_t>(delta)),
                               0);
            if (delta < 0) ListView_SetColumnWidth(list, ListView_GetColumnWidth(list) + delta);
        }
        dragging_ = true;
        SetCapture(list);
        lastX_ = x;
        return true;
    }
    if (dragging_ || (keys & MK_LBUTTON)) return false;
    if (inZone) {
        SetClassCursor(list, resize_);
        SetCursor(list, resize_);
        SetCapture(list);
    } else {
        if (GetClassCursor(list)->shape() != arrow_->shape()) {
            SetClassCursor(list, arrow_);
            SetCursor(list, arrow_);
        }
        if (GetCapture() == list) ReleaseCapture();
    }
    return false;
}

LRESULT CFileView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            OnSize(lParam);
            return 0;
        case WM_MOUSEMOVE:
            if (OnMouseMove(wParam, lParam)) return 0;
            break;
        case WM_LBUTTONDOWN:
            if (GetClassCursor(window)->shape() == resize_->shape()) {
                lastX_ = GET_X_LPARAM(lParam);
                // The drag runs from the press, so a quick first move that already left the
                // edge still moves it.
                dragging_ = true;
                return 0;
            }
            break;
        case WM_LBUTTONUP:
            if (dragging_) {
                dragging_ = false;
                ReleaseCapture();
                SetClassCursor(window, arrow_);
                SetCursor(window, arrow_);
                return 0;
            }
            break;
        case WM_RBUTTONDOWN: {
            // The entry under the mouse becomes selected first. A press of the right button
            // itself does that and keeps a selection the entry is part of, so that "Delete
            // selected" acts on all of it; below the entries it clears, as a left press does.
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (ListView_HitTest(window, at) != -1) break;
            return CallWindowProc(window, WM_LBUTTONDOWN, wParam & ~MK_RBUTTON, lParam);
        }
        case WM_CONTEXTMENU:
            OnContextMenu(lParam);
            return 0;
        case WM_KEYDOWN:
            if (PaintLogOn()) PaintLog("key", static_cast<int>(wParam), 0, 0);
            if (wParam == VK_F5) {
                Refresh();
                return 0;
            }
            break;
        case WM_MOUSEWHEEL:
            OnWheel(wParam, lParam);
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (!header || header->hwndFrom != window) return 0;
            if (header->code == LVN_ITEMCHANGED)
                OnItemChanged(*reinterpret_cast<const NMLISTVIEW*>(lParam));
            else if (header->code == NM_DBLCLK || header->code == NM_RETURN)
                OpenCurrent();
            return 0;
        }
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_FILE_SELECTION:
            if (wParam == 0 && lParam)
                OnRelayedSelection(*reinterpret_cast<const SelectionRecord*>(lParam));
            return 0;
        case WM_FILE_DELETED: {
            const int row = folderCount_ + static_cast<int>(wParam);
            // The drive entries move up with it; their labels find them at the file end.
            if (IsFileEntry(row) && ListView_DeleteItem(window, row)) --fileEnd_;
            return 0;
        }
        case WM_DRIVE_LABEL:
            OnDriveLabel(wParam, lParam);
            return 0;
        default:
            break;
    }
    return CallWindowProc(window, message, wParam, lParam);
}
