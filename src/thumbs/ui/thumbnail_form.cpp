#include "thumbs/ui/thumbnail_form.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "app/ui/resources.h"
#include "platform/qt/dialogs.h"
#include "platform/qt/list_view.h"
#include "platform/qt/paint.h"
#include "platform/start_trace.h"
#include "settings/helpers.h"
#include "settings/settings.h"
#include "settings/ui/show_settings.h"
#include "thumbs/ui/make_thumbnails_dialog.h"

namespace {

constexpr int kSpacingX = 148;
constexpr int kSpacingY = 161;
// Where the hourglass sits in the placeholder.
constexpr int kHourglassX = 57;
constexpr int kHourglassY = 52;

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The composed colour picture, opaque inside opaque and fully transparent elsewhere. Built in
// the pixmap's own format, so the pixmap takes the pixels without converting them again: a
// screenful of thumbnails coming into view is composed inside one paint.
QIcon Masked(const QImage& colour, const QRect& opaque) {
    QImage entry(colour.size(), QImage::Format_ARGB32_Premultiplied);
    entry.fill(Qt::transparent);
    const QRect inside = opaque & colour.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(entry.scanLine(y));
        for (int x = inside.left(); x <= inside.right(); ++x) to[x] = from[x] | 0xFF000000u;
    }
    return QIcon(QPixmap::fromImage(std::move(entry)));
}

// The default cache folder is made on first use; its parent may not exist yet for a new user.
void PrepareCacheParent(const std::string& root) {
    if (root.empty() || root != DefaultOf(settings::kCacheDir)) return;
    const std::filesystem::path parent = std::filesystem::path(root).parent_path();
    std::error_code error;
    if (std::filesystem::exists(parent, error)) return;
    if (std::filesystem::create_directories(parent, error))
        std::filesystem::permissions(parent, std::filesystem::perms::owner_all, error);
}

}  // namespace

CThumbnailForm::CThumbnailForm(HWND list) : list_(list), loader_(*this, list) {
    doubleClickMode_ = ReadSetting(settings::kDoubleClickOpen) != 1 ? 1 : 0;

    colour_ = QImage(kSize, kSize, QImage::Format_RGB32);
    colour_.fill(Qt::black);
    MakePlaceholder();
    images_.Add(QIcon(QPixmap::fromImage(placeholder_)));
    ListView_SetImageList(list_, &images_);
    ListView_SetIconSpacing(list_, kSpacingX, kSpacingY);

    menu_ = LoadMenuResource(IDR_THUMB_VIEW_MENU);
    SetMenuItemChecked(menu_, ID_DOUBLE_CLICK_WINDOW, doubleClickMode_ == 0);
    SetMenuItemChecked(menu_, ID_DOUBLE_CLICK_FULLSCREEN, doubleClickMode_ == 1);

    const std::string root = ReadSetting(settings::kCacheDir);
    PrepareCacheParent(root);
    cache_ = std::make_unique<CThumbnailCache>(root);
    loader_.SetCache(cache_.get());
    loader_.SetMemoryLimit(ReadSetting(settings::kMaxThumbsLoad));

    RECT client{};
    GetClientRect(list_, &client);
    clientWidth_ = client.right;
    clientHeight_ = client.bottom;
}

CThumbnailForm::~CThumbnailForm() {
    WriteSetting(settings::kDoubleClickOpen, 1 + doubleClickMode_);
    loader_.StopProbe();
    loader_.CancelLoad();
    ListView_SetImageList(list_, nullptr);
    DestroyMenu(menu_);
}

void CThumbnailForm::MakePlaceholder() {
    QImage hourglass(QString::fromUtf8(kHourglassResource));
    QImage shape(QString::fromUtf8(kHourglassMaskResource));
    placeholder_ = QImage(kSize, kSize, QImage::Format_ARGB32);
    placeholder_.fill(Qt::transparent);
    if (hourglass.isNull() || shape.isNull()) return;
    hourglass = hourglass.convertToFormat(QImage::Format_RGB32);
    shape = shape.convertToFormat(QImage::Format_RGB32);
    const int w = std::min(hourglass.width(), shape.width());
    const int h = std::min(hourglass.height(), shape.height());
    for (int y = 0; y < h && kHourglassY + y < kSize; ++y)
        for (int x = 0; x < w && kHourglassX + x < kSize; ++x)
            // Black in the mask is the shape; white lets the background through.
            if (qGray(shape.pixel(x, y)) < 128)
                placeholder_.setPixel(kHourglassX + x, kHourglassY + y,
                                      hourglass.pixel(x, y) | 0xFF000000u);
}

// --- the listing ----------------------------------------------------------------------------

void CThumbnailForm::SetFolder(const std::string& folder, std::vector<std::string> files) {
    loader_.StopProbe();
    folder_ = folder;
    if (cache_->IsAvailable() && !folder_.empty()) cache_->SetDirectory(folder_);
    Relist(std::move(files));
}

void CThumbnailForm::Relist(std::vector<std::string> files) {
    loader_.StopProbe();
    ListView_DeleteAllItems(list_);
    images_.SetCount(1);
    images_.Replace(0, QIcon(QPixmap::fromImage(placeholder_)));
    freeImages_.clear();
    entryOwners_.assign(1, -1);
    loader_.Reset(std::move(files));

    const std::vector<std::string>& listed = loader_.Files();
    SetRedraw(list_, false);
    ListView_SetItemCount(list_, static_cast<int>(listed.size()));
    for (size_t i = 0; i < listed.size(); ++i)
        ListView_InsertItem(list_, static_cast<int>(i), NameOf(listed[i]), 0, kStatusUnknown);
    SetRedraw(list_, true);
    InvalidateRect(list_, nullptr);
    UpdateWindow(list_);
    EnsureVisible(0);
    lastScrollPos_ = ListView_GetScrollPos(list_);
    if (cache_->IsAvailable()) loader_.StartProbe();
}

void CThumbnailForm::Activate() {
    // With LUMORA_LOG=1: where a warm view's time starts (the toggle, or a new folder shown).
    TraceStartStep("thumbs-activate");
    loader_.Activate();
}

void CThumbnailForm::EnsureVisible(int32_t item) {
    ListView_EnsureVisible(list_, item);
}

// --- the list as the scheduler sees it -------------------------------------------------------

int32_t CThumbnailForm::ItemCount() const {
    return ListView_GetItemCount(list_);
}

IThumbnailList::Span CThumbnailForm::IconSpan(int32_t item) const {
    RECT r{};
    if (!ListView_GetItemRect(list_, item, &r, LVIR_ICON)) return {};
    return Span{r.top, r.bottom};
}

int32_t CThumbnailForm::CacheStatus(int32_t item) const {
    return static_cast<int32_t>(ListView_GetItemParam(list_, item));
}

void CThumbnailForm::SetCacheStatus(int32_t item, int32_t status) {
    ListView_SetItemParam(list_, item, status);
}

void CThumbnailForm::ShowThumbnail(int32_t item, const CImage& image) {
    if (!ValidItem(item)) return;
    // An entry the item still holds is given back, not lost.
    const int old = ListView_GetItemImage(list_, item);
    if (old > 0) freeImages_.push_back(old);
    SetItemEntry(item, AddThumbnail(image));
}

void CThumbnailForm::SetItemEntry(int32_t item, int entry) {
    const auto old = static_cast<size_t>(ListView_GetItemImage(list_, item));
    if (old > 0 && old < entryOwners_.size() && entryOwners_[old] == item) entryOwners_[old] = -1;
    ListView_SetItemImage(list_, item, entry);
    if (entry <= 0) return;
    const auto index = static_cast<size_t>(entry);
    if (index >= entryOwners_.size()) entryOwners_.resize(index + 1, -1);
    entryOwners_[index] = item;
}

std::pair<int32_t, int32_t> CThumbnailForm::VisibleItems() const {
    // The icon view lays the items out in rows in index order, so the icons' tops never
    // decrease with the index and the visible items are one run: two binary searches find it
    // with a few dozen item rectangles instead of one per item on every paint.
    const int32_t height = clientHeight_;
    int32_t low = 0, high = ItemCount();
    while (low < high) {  // the first item whose icon ends below the top
        const int32_t middle = low + (high - low) / 2;
        if (IconSpan(middle).bottom > 0)
            high = middle;
        else
            low = middle + 1;
    }
    const int32_t first = low;
    high = ItemCount();
    while (low < high) {  // the first one after it that starts below the bottom
        const int32_t middle = low + (high - low) / 2;
        if (IconSpan(middle).top < height)
            low = middle + 1;
        else
            high = middle;
    }
    return {first, low};
}

int CThumbnailForm::AddThumbnail(const CImage& image) {
    const BITMAPINFOHEADER& header = image.displayHeader.bmiHeader;
    int w = header.biWidth;
    int h = std::abs(header.biHeight);
    if (!image.displayBuffer || w <= 0 || h <= 0) w = h = 0;
    w = std::min(w, kSize);
    h = std::min(h, kSize);
    // Centred; an odd remainder leaves the extra pixel on the right and at the bottom.
    const int x0 = (kSize - w) >> 1;
    const int y0 = (kSize - h) >> 1;
    if (w > 0) {
        HDC dc = CreateImageDC(&colour_);
        SetDIBitsToDevice(dc, x0, y0, w, h, 0, 0, 0, static_cast<uint32_t>(h),
                          image.displayBuffer, &image.displayHeader);
        DeleteDC(dc);
    }
    const QIcon entry = Masked(colour_, QRect(x0, y0, w, h));
    int index = 0;
    if (!freeImages_.empty()) {
        index = freeImages_.front();
        freeImages_.pop_front();
    } else {
        images_.SetCount(images_.Count() + 1);
        index = images_.Count() - 1;
    }
    images_.Replace(index, entry);
    return index;
}

void CThumbnailForm::RefreshVisible() {
    loader_.SetRequestedItem(-1);
    const auto [first, end] = VisibleItems();
    int32_t requested = -1;
    // Entries of items that left the view are given back before any is handed out, in item
    // order: scrolling back up, the items coming into view come first in index order, and would
    // otherwise grow the image list while the entries going free wait further down.
    std::vector<std::pair<int32_t, int>> leaving;  // (item, entry)
    for (size_t entry = 1; entry < entryOwners_.size(); ++entry) {
        const int32_t item = entryOwners_[entry];
        if (item >= 0 && (item < first || item >= end))
            leaving.emplace_back(item, static_cast<int>(entry));
    }
    std::sort(leaving.begin(), leaving.end());
    for (const auto& [item, entry] : leaving) {
        freeImages_.push_back(entry);
        SetItemEntry(item, 0);
    }
    long placeholders = 0;  // visible items the paint just drew without their picture
    for (int32_t i = first; i < end; ++i) placeholders += ListView_GetItemImage(list_, i) == 0;
    // With LUMORA_LOG=1: the first paint with none left is when the view is complete.
    TraceStartStep("thumbs-paint", placeholders);
    for (int32_t i = first; i < end; ++i) {
        if (ListView_GetItemImage(list_, i) != 0) continue;
        if (const CImage* decoded = loader_.DecodedImage(i))
            SetItemEntry(i, AddThumbnail(*decoded));
        else if (requested == -1 || !loader_.ScrollForward())
            requested = i;
    }
    loader_.SetRequestedItem(requested);
    if (requested != -1 && loader_.IsActive() && loader_.CanStartDecode())
        list_->SendMessage(WM_IMAGE_DONE, 0, 0);
}

// --- messages -------------------------------------------------------------------------------

LRESULT CThumbnailForm::WindowProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            // The list has painted itself; what it showed decides which pictures it needs.
            if (clientHeight_ > 0) RefreshVisible();
            return 0;
        case WM_SIZE:
            clientWidth_ = LOWORD(static_cast<uintptr_t>(lParam));
            clientHeight_ = HIWORD(static_cast<uintptr_t>(lParam));
            return 0;
        case WM_VSCROLL:
            CallWindowProc(list, message, wParam, lParam);
            OnScroll();
            return 0;
        case WM_MOUSEWHEEL: {
            const LRESULT result = CallWindowProc(list, message, wParam, lParam);
            loader_.SetScrollForward(GET_WHEEL_DELTA_WPARAM(wParam) < 0);
            return result;
        }
        case WM_LBUTTONDBLCLK: {
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            focusItem_ = ListView_HitTest(list_, at);
            if (focusItem_ != -1) ShowFile(1 + doubleClickMode_);
            return 0;
        }
        case WM_KEYDOWN:
            OnKeyDown(wParam, lParam);
            return 0;
        case WM_CONTEXTMENU:
            OnContextMenu(lParam);
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header && header->hwndFrom == list_ && header->code == LVN_ITEMCHANGED)
                OnItemChanged(*reinterpret_cast<const NMLISTVIEW*>(lParam));
            return 0;
        }
        case WM_FILE_SELECTION:
            if (lParam) OnOutsideSelection(*reinterpret_cast<const SelectionRecord*>(lParam));
            return 0;
        case WM_CLOSE:
            loader_.CancelLoad();
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_IMAGE_PROGRESS:
            delete reinterpret_cast<ProgressRecord*>(lParam);
            return 0;
        case WM_IMAGE_DONE: {
            const bool wasDecoding = loader_.IsDecoding();
            loader_.LoadNext();
            // With LUMORA_LOG=1: nothing left to make, the last thumbnail taken and stored.
            if (wasDecoding && !loader_.IsDecoding()) TraceStartStep("thumbs-idle");
            return 0;
        }
        case WM_CACHE_STATUS:
            loader_.OnCacheStatus(wParam, lParam);
            return 0;
        case WM_PROBE_FINISHED:
            loader_.OnProbeFinished();
            return 0;
        default:
            return CallWindowProc(list, message, wParam, lParam);
    }
}

void CThumbnailForm::OnScroll() {
    const int32_t position = ListView_GetScrollPos(list_);
    if (position == lastScrollPos_) return;
    loader_.SetScrollForward(position > lastScrollPos_);
    lastScrollPos_ = position;
    loader_.Activate();
}

void CThumbnailForm::OnKeyDown(WPARAM key, LPARAM lParam) {
    // Only these two: the arrows and the rest would move the selection behind the file list's
    // back.
    if (key == VK_F5) {
        if (HWND parent = GetParent(list_)) parent->SendMessage(WM_KEYDOWN, VK_F5, lParam);
    } else if (key == VK_RETURN) {
        if (ValidItem(focusItem_) && ListView_GetItemState(list_, focusItem_, LVIS_SELECTED))
            ShowFile(1 + doubleClickMode_);
    }
}

void CThumbnailForm::ShowFile(int how) {
    if (HWND parent = GetParent(list_)) parent->SendMessage(WM_SHOW_FILE, how, 0);
}

void CThumbnailForm::OnContextMenu(LPARAM where) {
    POINT at{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    const POINT screen = at;
    ScreenToClient(list_, &at);
    focusItem_ = ListView_HitTest(list_, at);
    const bool onItem = focusItem_ != -1;
    SetMenuItemEnabled(menu_, ID_SHOW_IN_WINDOW, onItem);
    SetMenuItemEnabled(menu_, ID_SHOW_FULLSCREEN, onItem);
    SetMenuItemEnabled(menu_, ID_MAKE_THUMBNAILS, cache_->IsAvailable());
    SetMenuItemEnabled(menu_, ID_DELETE_SELECTED, ListView_GetSelectedCount(list_) > 0);
    TrackPopupMenu(GetSubMenu(menu_, 0), 0, screen.x, screen.y, list_);
}

void CThumbnailForm::OnItemChanged(const NMLISTVIEW& notice) {
    if (!(notice.uChanged & LVIF_STATE)) return;
    if (notice.uNewState & LVIS_SELECTED) {
        // Focus and selection changes both come here; only a new selection is news.
        const bool newly = !(notice.uOldState & LVIS_SELECTED);
        focusItem_ = notice.iItem;
        if (newly && !applyingOutsideSelection_) SendSelection(notice.iItem, true);
    } else if ((notice.uOldState & LVIS_SELECTED) && !applyingOutsideSelection_) {
        SendSelection(notice.iItem, false);
    }
}

void CThumbnailForm::SendSelection(int32_t item, bool selected) {
    HWND parent = GetParent(list_);
    if (!parent) return;
    SelectionRecord record;
    record.fileIndex = item;
    record.selected = selected ? 1 : 0;
    parent->SendMessage(WM_FILE_SELECTION, reinterpret_cast<WPARAM>(list_),
                        reinterpret_cast<LPARAM>(&record));
}

void CThumbnailForm::OnOutsideSelection(const SelectionRecord& record) {
    // The file list also reports entries that are no files (folders, drives): none is an item.
    if (!ValidItem(record.fileIndex)) return;
    applyingOutsideSelection_ = true;
    ListView_SetItemState(list_, record.fileIndex, record.selected ? LVIS_SELECTED : 0,
                          LVIS_SELECTED);
    if (record.selected) EnsureVisible(record.fileIndex);
    applyingOutsideSelection_ = false;
}

// --- commands -------------------------------------------------------------------------------

void CThumbnailForm::OnCommand(int command) {
    switch (command) {
        case ID_SHOW_IN_WINDOW:
            ShowFile(1);
            break;
        case ID_SHOW_FULLSCREEN:
            ShowFile(2);
            break;
        case ID_DOUBLE_CLICK_WINDOW:
        case ID_DOUBLE_CLICK_FULLSCREEN:
            doubleClickMode_ = command == ID_DOUBLE_CLICK_FULLSCREEN ? 1 : 0;
            SetMenuItemChecked(menu_, ID_DOUBLE_CLICK_WINDOW, doubleClickMode_ == 0);
            SetMenuItemChecked(menu_, ID_DOUBLE_CLICK_FULLSCREEN, doubleClickMode_ == 1);
            break;
        case ID_MAKE_THUMBNAILS:
            MakeThumbnails();
            break;
        case ID_DELETE_SELECTED:
            DeleteSelected();
            break;
        case ID_THUMB_SETTINGS:
            ShowSettings();
            break;
        default:
            break;
    }
}

void CThumbnailForm::MakeThumbnails() {
    if (!cache_->IsAvailable()) return;
    loader_.CancelLoad();
    loader_.StopProbe();
    {
        CMakeThumbnailsDlg dialog(*cache_, loader_.Files());
        dialog.DoModal(GetParent(list_));
    }
    // The folder is listed again, now with its thumbnails in the cache.
    list_->SendMessage(WM_KEYDOWN, VK_F5, 0);
}

void CThumbnailForm::DeleteSelected() {
    if (MessageBox(nullptr, "Are you sure you wan't to delete these files.", "Lumora",
                   MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const std::vector<std::string>& files = loader_.Files();
    std::vector<std::string> chosen;
    for (int i = ListView_GetNextItem(list_, -1, LVNI_SELECTED); i != -1;
         i = ListView_GetNextItem(list_, i, LVNI_SELECTED))
        if (i < static_cast<int>(files.size())) chosen.push_back(files[static_cast<size_t>(i)]);
    // To the trash, like every other delete of the program; a file that will not go stays.
    for (const std::string& path : chosen) ShellDelete(path);
    if (HWND parent = GetParent(list_)) parent->SendMessage(WM_KEYDOWN, VK_F5, 0);
}

void CThumbnailForm::ShowSettings() {
    const bool wasActive = loader_.IsActive();
    const bool changed = ShowSettingsDialog(GetParent(list_), cache_, folder_, [this] {
        loader_.CancelLoad();
        loader_.StopProbe();
        // The cache may be closed and another opened; nothing may use the old one meanwhile.
        loader_.SetCache(nullptr);
    });
    if (!changed) return;
    if (!cache_) cache_ = std::make_unique<CThumbnailCache>("");
    loader_.SetCache(cache_.get());
    loader_.SetMemoryLimit(ReadSetting(settings::kMaxThumbsLoad));
    // The same files from scratch; the folder stays, so a later move points the cache at it.
    Relist(loader_.Files());
    if (wasActive) loader_.Activate();
}
