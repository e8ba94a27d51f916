#pragma once

// The thumbnail pane: the current folder's images as a grid of 128 x 128 thumbnails with their
// names, in an icon list view that the main window makes and hands over. It keeps the selection
// in step with the file browser, opens the chosen image in the window or fullscreen, and offers
// "Make thumbnails", "Delete selected", the double-click choice and the settings.
//
// It is not a form of its own: the main window passes it every message of its list window
// (WindowProc), including the list's notices, which the list sends to the main window.

#include <QImage>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/controls.h"
#include "platform/qt/menu.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_list.h"
#include "thumbs/thumbnail_loader.h"

class CThumbnailForm : public IThumbnailList {
public:
    static constexpr int kSize = CThumbnailLoader::kThumbnailSize;

    // list: an icon list view whose parent is the main window.
    explicit CThumbnailForm(HWND list);
    ~CThumbnailForm();
    CThumbnailForm(const CThumbnailForm&) = delete;
    CThumbnailForm& operator=(const CThumbnailForm&) = delete;

    // Every message of the list window; what the pane does not handle goes on to the list.
    LRESULT WindowProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam);

    // A new listing: files are the folder's image files, item i showing file i. The caller has
    // cancelled loading first, and activates afterwards when the pane is shown.
    void SetFolder(const std::string& folder, std::vector<std::string> files);
    void Activate();
    void CancelLoad() { loader_.CancelLoad(); }
    void EnsureVisible(int32_t item) override;
    // "Settings": the settings dialog, then the same files listed again with the new limits.
    void ShowSettings();
    // Requests the pictures of visible items and gives back the entries of items out of view.
    void RefreshVisible();
    // Composes the picture centred in a 128 x 128 entry of the image list and returns its index.
    int AddThumbnail(const CImage& image);

    // IThumbnailList.
    int32_t ItemCount() const override;
    Span IconSpan(int32_t item) const override;
    int32_t ClientHeight() const override { return clientHeight_; }
    int32_t CacheStatus(int32_t item) const override;
    void SetCacheStatus(int32_t item, int32_t status) override;
    void ShowThumbnail(int32_t item, const CImage& image) override;

    // For the main window and tests.
    HWND list() const { return list_; }
    const std::string& folder() const { return folder_; }
    const std::vector<std::string>& files() const { return loader_.Files(); }
    CThumbnailCache* cache() const { return cache_.get(); }
    CThumbnailLoader& loader() { return loader_; }
    const CImageList& images() const { return images_; }
    HMENU menu() const { return menu_; }
    int32_t doubleClickMode() const { return doubleClickMode_; }
    int32_t focusItem() const { return focusItem_; }
    const std::deque<int>& freeImages() const { return freeImages_; }

private:
    void MakePlaceholder();
    // Gives the item that image-list entry (0: the placeholder), keeping entryOwners_ true.
    void SetItemEntry(int32_t item, int entry);
    // The visible items, [first, end).
    std::pair<int32_t, int32_t> VisibleItems() const;
    // Empties the list and the image list and lists the files again (the loader is reset).
    void Relist(std::vector<std::string> files);
    void ShowFile(int how);
    void OnScroll();
    void OnKeyDown(WPARAM key, LPARAM lParam);
    void OnContextMenu(LPARAM where);
    void OnItemChanged(const NMLISTVIEW& notice);
    void OnOutsideSelection(const SelectionRecord& record);
    void SendSelection(int32_t item, bool selected);
    void OnCommand(int command);
    void MakeThumbnails();
    void DeleteSelected();
    bool ValidItem(int32_t item) const { return item >= 0 && item < ItemCount(); }

    HWND list_;
    HMENU menu_ = nullptr;
    CImageList images_;
    QImage colour_;       // where each thumbnail is composed; keeps what it held around it
    QImage placeholder_;  // entry 0
    int32_t clientHeight_ = 0;
    int32_t clientWidth_ = 0;
    std::deque<int> freeImages_;
    // The item holding each image-list entry, -1 for none: what a paint gives back is found
    // among the few entries, not by asking every item.
    std::vector<int32_t> entryOwners_{-1};
    int32_t doubleClickMode_ = 0;  // 0 show in window, 1 fullscreen
    int32_t lastScrollPos_ = 0;
    int32_t focusItem_ = -1;
    bool applyingOutsideSelection_ = false;
    std::string folder_;
    // Declared before the loader, which uses it until the loader is gone.
    std::unique_ptr<CThumbnailCache> cache_;
    CThumbnailLoader loader_;
};
