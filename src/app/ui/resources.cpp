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

HMENU ThumbViewMenu() {
    HMENU bar = MenuWithPopup("ThumbViewMenu", {{ID_SHOW_IN_WINDOW, "Show in window"},
                                                {ID_SHOW_FULLSCREEN, "Show fullscreen"},
                                                {-1, ""},
                                                {ID_MAKE_THUMBNAILS, "Make thumbnails"},
                                                {ID_DELETE_SELECTED, "Delete selected"},
                                                {-1, ""}});
    HMENU popup = GetSubMenu(bar, 0);
    HMENU doubleClick = CreatePopupMenu();
    AppendMenu(doubleClick, MF_STRING, ID_DOUBLE_CLICK_WINDOW, "Show in window");
    AppendMenu(doubleClick, MF_STRING, ID_DOUBLE_CLICK_FULLSCREEN, "Show fullscreen");
    AppendMenu(popup, MF_POPUP, reinterpret_cast<uintptr_t>(doubleClick), "On double-click");
    AppendMenu(popup, MF_STRING, ID_THUMB_SETTINGS, "Settings");
    return bar;
}

}  // namespace

HMENU LoadMenuResource(int id) {
    switch (id) {
        case IDR_THUMB_VIEW_MENU:
            return ThumbViewMenu();
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
