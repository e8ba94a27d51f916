#include "app/ui/resources.h"

namespace {

struct Item {
    int id;  // -1: separator
    const char* text;
};

HMENU MenuWithPopup(const char* title, std::initializer_list<Item> items) {
    HMENU popup = CreatePopupMenu();
    for (const Item& item : items) {
        if (item.id < 0)
            AppendMenu(popup, MF_SEPARATOR, 0, "");
        else
            AppendMenu(popup, MF_STRING, static_cast<uintptr_t>(item.id), item.text);
    }
    HMENU bar = CreateMenu();
    AppendMenu(bar, MF_POPUP, reinterpret_cast<uintptr_t>(popup), title);
    return bar;
}

}  // namespace

HMENU LoadMenuResource(int id) {
    switch (id) {
        case IDR_FILE_VIEW_MENU:
            return MenuWithPopup("FileViewMenu", {{ID_REFRESH, "Refresh"},
                                                  {ID_RELOAD, "Reload"},
                                                  {-1, ""},
                                                  {ID_SORT_BY_NAME, "Sort by name"},
                                                  {ID_SORT_BY_TYPE, "Sort by type"},
                                                  {-1, ""},
                                                  {ID_DELETE_SELECTED, "Delete selected"}});
        case IDR_IMAGE_MENU:
            return MenuWithPopup("ImageMenu", {{ID_FULLSCREEN, "Fullscreen"},
                                               {ID_THUMBNAILS, "Thumbnails"},
                                               {-1, ""},
                                               {ID_RESAMPLE_NONE, "None"},
                                               {ID_RESAMPLE_BOTH, "Both"},
                                               {ID_RESAMPLE_HORIZONTAL, "Horizontal"},
                                               {ID_RESAMPLE_VERTICAL, "Vertical"},
                                               {ID_RESAMPLE_AUTO, "Auto"},
                                               {-1, ""},
                                               {ID_UPSCALE, "Upscale"},
                                               {-1, ""},
                                               {ID_WALLPAPER, "Set as wallpaper"},
                                               {ID_BACKGROUND, "Choose background"}});
        case IDR_ADJUST_MENU:
            return MenuWithPopup("Adjust resample", {{ID_ADJUST_OF_WINDOW, "Percentage of window"},
                                                     {ID_ADJUST_OF_IMAGE, "Percentage of image"}});
        default:
            return nullptr;
    }
}
