#pragma once

// Menus with command ids over QMenu and QAction. A chosen item sends WM_COMMAND with its id to
// the menu's owner window.

#include <string>

#include "platform/qt/form_window.h"

class CMenu;
using HMENU = CMenu*;

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_SEPARATOR = 0x0800;

// A menu bar holding popups (the shape menu resources have), or a popup.
HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys the menu and the popups it holds.
void DestroyMenu(HMENU menu);

// MF_STRING with a command id, MF_SEPARATOR, or MF_POPUP with a popup the menu then owns.
void AppendMenu(HMENU menu, UINT flags, uintptr_t idOrPopup, const std::string& text);
void InsertMenuItem(HMENU menu, int position, UINT flags, uintptr_t id, const std::string& text);
// Takes the item at the position out; a popup there is destroyed with it.
void RemoveMenu(HMENU menu, int position);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);
// The command id at the position; -1 for separators and popups.
int GetMenuItemID(HMENU menu, int position);

// Items found by command id, in the menu and its popups.
void SetMenuItemChecked(HMENU menu, int id, bool on);
void SetMenuItemEnabled(HMENU menu, int id, bool on);
void SetMenuItemText(HMENU menu, int id, const std::string& text);
bool IsMenuItemChecked(HMENU menu, int id);
bool IsMenuItemEnabled(HMENU menu, int id);
std::string GetMenuItemText(HMENU menu, int id);

// Shows the popup at a screen position ((-1, -1): at the mouse) and waits until it closes.
// With TPM_RETURNCMD the chosen id is returned (0 for none); otherwise WM_COMMAND is posted to
// the owner and the result says whether an item was chosen.
int TrackPopupMenu(HMENU popup, UINT flags, int x, int y, HWND owner);
