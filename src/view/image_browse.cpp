// The image pane in fullscreen: a slide viewer of its own that steps through the folder's
// files by key and wheel, scrolls by the arrow keys, moves files to the trash, and hides the
// mouse cursor while the mouse rests.

#include <algorithm>

#include "app/ui/resources.h"
#include "settings/helpers.h"
#include "view/image_form.h"

namespace {

// Where the fullscreen-only "Adjust" item and its separator go in the image menu's popup.
constexpr int kAdjustItemPosition = 8;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string SeriesKey(const std::string& path) {
    // Only the file's own name counts: a dot or digits in a folder name would otherwise give
    // names without them a key of the folder's.
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return "";
    size_t i = dot;
    while (i > nameStart && !IsDigit(path[i - 1])) --i;
    while (i > nameStart && IsDigit(path[i - 1])) --i;
    if (i == nameStart) return "";
    return path.substr(nameStart, i - nameStart);
}

void CImageForm::SetFullscreen(bool fullscreen) {
    const bool changed = fullscreen != fullscreen_;
    fullscreen_ = fullscreen;
    switching_ = true;
    HMENU popup = GetSubMenu(menu_, 0);
    if (fullscreen) {
        SCROLLINFO none;
        none.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        SetScrollInfo(window(), SB_HORZ, none, true);
        SetScrollInfo(window(), SB_VERT, none, true);
        SetTimer(window(), kCursorTimer, kCursorRestMs);
        if (changed) {
            InsertMenuItem(popup, kAdjustItemPosition, MF_STRING, ID_ADJUST_BAR, "Adjust");
            InsertMenuItem(popup, kAdjustItemPosition, MF_SEPARATOR, 0, "");
            SetMenuItemEnabled(menu_, ID_ADJUST_BAR, !adjustVisible_);
        }
    } else {
        KillTimer(window(), kCursorTimer);
        ShowCursor(window(), true);
        if (changed) {
            RemoveMenu(popup, kAdjustItemPosition + 1);
            RemoveMenu(popup, kAdjustItemPosition);
        }
    }
    switching_ = false;
    SetMenuItemText(menu_, ID_FULLSCREEN, fullscreen ? "Browser" : "Fullscreen");
    SetMenuItemEnabled(menu_, ID_THUMBNAILS, !fullscreen);
    HCURSOR cursor = layout_.draggable ? hand_ : arrow_;
    SetClassCursor(window(), cursor);
    SetCursor(window(), cursor);
    dragging_ = false;
}

void CImageForm::Navigate(WPARAM key, bool shift) {
    const auto n = static_cast<int32_t>(fileList.size());
    if (n == 0) return;
    // Keys of files beyond the list are "": an index left stale never reads past it.
    auto keyOf = [&](int32_t index) {
        return index >= 0 && index < n ? SeriesKey(fileList[static_cast<size_t>(index)])
                                       : std::string();
    };
    int32_t i = currentIndex;
    int32_t p = 0;
    if (i < 0) {
        i = 0;
        p = 1;
    } else {
        switch (key) {
            case VK_PRIOR:
                if (i < 1) return;
                if (!shift || n < 2) {
                    --i;
                } else {
                    std::string k = keyOf(i);
                    if (k.empty()) {
                        --i;
                    } else {
                        if (keyOf(i - 1) != k) {
                            --i;
                            k = keyOf(i);
                        }
                        if (!k.empty()) {
                            do --i;
                            while (i > 0 && keyOf(i) == k);
                            if (keyOf(i) != k && keyOf(i + 1) == k) ++i;
                        }
                    }
                }
                p = i - 1 < 0 ? i + 1 : i - 1;
                break;
            case VK_NEXT:
                if (i >= n - 1) return;
                if (!shift || n < 2) {
                    ++i;
                } else {
                    const std::string k = keyOf(i);
                    if (!k.empty()) do
                            ++i;
                        while (i < n - 1 && keyOf(i) == k);
                }
                p = i + 1 > n - 1 ? i - 1 : i + 1;
                break;
            case VK_END:
                i = n - 1;
                p = n - 2;
                break;
            case VK_HOME:
                i = 0;
                p = 1;
                break;
            case VK_F5:
                while (i > n - 1) --i;
                p = i + 1 > n - 1 ? i - 1 : i + 1;
                break;
            default:
                return;
        }
    }
    i = std::clamp(i, 0, n - 1);
    currentIndex = i;
    const std::string preload = p >= 0 && p <= n - 1 ? fileList[static_cast<size_t>(p)] : "";
    Show(fileList[static_cast<size_t>(i)], preload, true);
}

// Whether the current image may go: its decode has ended (or never started).
bool CImageForm::CurrentSettled() const {
    const CImage& image = *current_->image;
    return image.done || !image.IsLoading();
}

// Moves the file to the trash and out of the list. A delete that failed leaves both, so the
// list never hides a file that is still there.
bool CImageForm::RemoveFile(int32_t index) {
    if (!ShellDelete(fileList[static_cast<size_t>(index)])) return false;
    fileList.erase(fileList.begin() + index);
    // The current file keeps its place when one before it goes.
    if (index < currentIndex) --currentIndex;
    return true;
}

void CImageForm::DeleteFile(int32_t index, bool notify) {
    if (index < 0 || index >= static_cast<int32_t>(fileList.size())) return;
    if (index == currentIndex && !CurrentSettled()) return;
    if (!RemoveFile(index)) return;
    if (notify)
        if (HWND parent = GetParent(window()))
            parent->SendMessage(WM_FILE_DELETED, static_cast<WPARAM>(index), 0);
}

void CImageForm::DeleteSeries() {
    const auto n = static_cast<int32_t>(fileList.size());
    if (currentIndex < 0 || currentIndex >= n) return;
    const std::string key = SeriesKey(fileList[static_cast<size_t>(currentIndex)]);
    // Every file without a key would be far more than the user sees as a series.
    if (key.empty()) {
        DeleteFile(currentIndex, true);
        return;
    }
    std::vector<int32_t> members;
    for (int32_t i = 0; i < n; ++i)
        if (SeriesKey(fileList[static_cast<size_t>(i)]) == key) members.push_back(i);
    for (auto it = members.rbegin(); it != members.rend(); ++it) {
        const int32_t index = *it;
        if (index == currentIndex && !CurrentSettled()) continue;
        if (!RemoveFile(index)) continue;
        if (HWND parent = GetParent(window()))
            parent->SendMessage(WM_FILE_DELETED, static_cast<WPARAM>(index), 1);
    }
    Navigate(VK_F5, false);
}

void CImageForm::ScrollByKey(WPARAM key) {
    Layout& l = layout_;
    const bool across = key == VK_LEFT || key == VK_RIGHT;
    if ((across ? l.leftMargin : l.topMargin) != 0) return;
    const int32_t overflow = across ? paint_.width - l.viewWidth : paint_.height - l.viewHeight;
    if (overflow <= 0) return;
    const auto step = static_cast<int32_t>(overflow * 0.05);
    int32_t& position = across ? l.horizontalPosition : l.verticalPosition;
    const int32_t old = position;
    if (key == VK_LEFT || key == VK_UP)
        position = std::max(0, position - step);
    else
        position = std::min(overflow, position + step);
    const RECT clip{0, 0, l.viewWidth, l.viewHeight};
    ScrollWindow(window(), across && l.horizontalBar ? old - position : 0,
                 !across && l.verticalBar ? old - position : 0, &clip);
    UpdateWindow(window());
}

void CImageForm::OnFullscreenKey(WPARAM key) {
    switch (key) {
        case VK_PRIOR:
        case VK_NEXT:
        case VK_END:
        case VK_HOME:
            Navigate(key, GetKeyState(VK_SHIFT) < 0);
            break;
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
            ScrollByKey(key);
            break;
        case VK_DELETE:
            if (GetKeyState(VK_SHIFT) < 0)
                DeleteSeries();
            else
                DeleteFile(currentIndex, true);
            break;
        case VK_F5:
            // The frame lists the folder again and hands the pane what is there now.
            if (HWND parent = GetParent(window())) parent->SendMessage(WM_KEYDOWN, VK_F5, 0);
            break;
        default:
            break;
    }
}
