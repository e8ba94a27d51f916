#pragma once

// The list view in report view with one column and no header, over QListView and a model of
// its own. Items carry a text (bytes, shown through the file-name decoding), an image index
// and a value. State changes of items (selected, focused), double-clicks and the Enter key are
// sent to the parent window as WM_NOTIFY notices: LVN_ITEMCHANGED once per item and change, the
// items losing state before those gaining it; NM_DBLCLK; NM_RETURN.

#include <string>

#include "platform/qt/controls.h"

constexpr int LVIR_BOUNDS = 0;
constexpr int LVIR_ICON = 1;
constexpr int LVIR_LABEL = 2;

// Created hidden; several items can be selected; the selection stays shown without the focus;
// a name too long for the column shows whole in a tooltip.
UniqueWindow CreateListView(HWND parent);
// The icon view: items left to right in cells of the icon spacing, wrapping to the width, each
// its icon (iconSize square) above its text. Qt paints the items, double-buffered, so nothing
// flickers while pictures change. Besides the notices above, the list's own form hears WM_PAINT
// after every paint of the items, once per turn of the event loop, and WM_VSCROLL (code in the
// low word) when the user moves the scroll bar.
UniqueWindow CreateIconListView(HWND parent, int iconSize);

// The small images of the items; the list does not own them.
void ListView_SetImageList(HWND list, const CImageList* images);
// Inserts at index (clamped to the count) and returns the item's index; -1 on failure.
int ListView_InsertItem(HWND list, int index, const std::string& text, int image, LPARAM value);
bool ListView_SetItemText(HWND list, int index, const std::string& text);
std::string ListView_GetItemText(HWND list, int index);
LPARAM ListView_GetItemParam(HWND list, int index);
int ListView_GetItemCount(HWND list);
// Removing items sends no notice.
bool ListView_DeleteItem(HWND list, int index);
void ListView_DeleteAllItems(HWND list);

// LVIS_SELECTED and LVIS_FOCUSED within mask; index -1 sets the state of every item.
void ListView_SetItemState(HWND list, int index, UINT state, UINT mask);
UINT ListView_GetItemState(HWND list, int index, UINT mask);
// The next item after start (-1: from the first) with the LVNI_* flags; -1 when none.
int ListView_GetNextItem(HWND list, int start, UINT flags);
int ListView_GetSelectedCount(HWND list);

// The item at a point in client coordinates, or -1; in the icon view only on its icon or text.
// Item rectangles: LVIR_BOUNDS the item, LVIR_ICON its icon, LVIR_LABEL its text; in client
// coordinates, so items above the view have negative tops.
int ListView_HitTest(HWND list, POINT point);
bool ListView_GetItemRect(HWND list, int index, RECT* rect, int part = LVIR_BOUNDS);
bool ListView_SetItemImage(HWND list, int index, int image);
int ListView_GetItemImage(HWND list, int index);
bool ListView_SetItemParam(HWND list, int index, LPARAM value);
// Room for that many items, so that filling a large folder does not reallocate.
void ListView_SetItemCount(HWND list, int count);
void ListView_SetIconSpacing(HWND list, int width, int height);
void ListView_SetBkColor(HWND list, COLORREF colour);
COLORREF ListView_GetBkColor(HWND list);
// The vertical scroll position in pixels.
int ListView_GetScrollPos(HWND list);
void ListView_EnsureVisible(HWND list, int index);
void ListView_SetColumnWidth(HWND list, int width);
int ListView_GetColumnWidth(HWND list);

// Off: the window is not redrawn until it is switched on again, which repaints it at once.
void SetRedraw(HWND window, bool on);
