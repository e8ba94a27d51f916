#pragma once

#include <cstdint>

class CImage;

// What the thumbnail scheduler needs of the list that shows the thumbnails: where an item's
// icon lies in the list's client area, the items' cache status, and a place for a finished
// picture. The thumbnail pane implements it over its list view; tests over a table.
class IThumbnailList {
public:
    // Cache status of an item, kept with the item.
    static constexpr int32_t kStatusUnknown = 0;
    static constexpr int32_t kStatusNotCached = 1;
    static constexpr int32_t kStatusCached = 2;

    // Top and bottom (exclusive) of an item's icon rectangle in client coordinates.
    struct Span {
        int32_t top = 0;
        int32_t bottom = 0;
    };

    virtual int32_t ItemCount() const = 0;
    virtual Span IconSpan(int32_t item) const = 0;
    virtual int32_t ClientHeight() const = 0;
    virtual int32_t CacheStatus(int32_t item) const = 0;
    virtual void SetCacheStatus(int32_t item, int32_t status) = 0;
    // Puts the decoded picture into the list's image list and gives the item that entry.
    virtual void ShowThumbnail(int32_t item, const CImage& image) = 0;
    // Scrolls the item fully into view.
    virtual void EnsureVisible(int32_t item) = 0;

protected:
    ~IThumbnailList() = default;
};
