#pragma once

// The program's resource identifiers and command ids, and the menus built from them.

#include "platform/qt/menu.h"

// Menus.
constexpr int IDR_THUMB_VIEW_MENU = 142;
constexpr int IDR_FILE_VIEW_MENU = 144;
constexpr int IDR_IMAGE_MENU = 145;
constexpr int IDR_ADJUST_MENU = 147;
// Pictures.
constexpr int IDI_LUMORA = 122;
constexpr int IDC_HAND = 123;
constexpr int IDC_GRAB = 124;
constexpr const char* kIconResource = ":/res/icon-122.png";
constexpr const char* kLargeIconResource = ":/res/icon-122-large.png";
// The thumbnail placeholder's hourglass (15 x 24) and its mask (black: opaque).
constexpr const char* kHourglassResource = ":/res/bitmap-132.png";
constexpr const char* kHourglassMaskResource = ":/res/bitmap-134.png";

// Commands of the menus and the toolbar.
constexpr int ID_ADJUST_BAR = 0;
constexpr int ID_HISTORY_BACK = 1;
constexpr int ID_HISTORY_FORWARD = 2;
constexpr int ID_ABOUT = 3;
constexpr int ID_SETTINGS = 4;
constexpr int ID_ADJUST_UP = 6;
constexpr int ID_ADJUST_DOWN = 7;
constexpr int ID_SHOW_IN_WINDOW = 40001;
constexpr int ID_SHOW_FULLSCREEN = 40002;
constexpr int ID_MAKE_THUMBNAILS = 40003;
constexpr int ID_DOUBLE_CLICK_WINDOW = 40004;
constexpr int ID_DOUBLE_CLICK_FULLSCREEN = 40005;
constexpr int ID_THUMB_SETTINGS = 40006;
constexpr int ID_REFRESH = 40007;
constexpr int ID_SORT_BY_NAME = 40008;
constexpr int ID_SORT_BY_TYPE = 40009;
constexpr int ID_FULLSCREEN = 40010;
constexpr int ID_THUMBNAILS = 40011;
constexpr int ID_RESAMPLE_NONE = 40012;
constexpr int ID_RESAMPLE_BOTH = 40013;
constexpr int ID_RESAMPLE_HORIZONTAL = 40014;
constexpr int ID_RESAMPLE_VERTICAL = 40015;
constexpr int ID_RESAMPLE_AUTO = 40016;
constexpr int ID_WALLPAPER = 40017;
constexpr int ID_BACKGROUND = 40018;
constexpr int ID_RELOAD = 40019;
constexpr int ID_DELETE_SELECTED = 40020;
constexpr int ID_ADJUST_OF_WINDOW = 40021;
constexpr int ID_ADJUST_OF_IMAGE = 40022;
constexpr int ID_UPSCALE = 40023;
// The folder history menu: entry i has the id ID_HISTORY_FIRST + i.
constexpr int ID_HISTORY_FIRST = 50;
constexpr int ID_HISTORY_LAST = 64;

// A menu resource: a menu bar whose popups hold the items. Null for an unknown id.
HMENU LoadMenuResource(int id);
