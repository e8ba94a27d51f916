#pragma once

// The toolbar and the trackbar. Toolbar buttons send WM_COMMAND (command id, the toolbar as
// lParam) to the toolbar's parent when clicked; they never change their own pressed state, the
// program sets it. Their tooltips ask a window for the text each time they show, with WM_NOTIFY
// TTN_GETDISPINFO whose idFrom is the button's command id. The trackbar sends WM_HSCROLL with a
// TB_* code and its position to the window it reports to, with the trackbar as lParam.

#include <string>
#include <vector>

#include "platform/qt/controls.h"

constexpr uint8_t TBSTATE_PRESSED = 0x02;
constexpr uint8_t TBSTATE_ENABLED = 0x04;
constexpr uint8_t BTNS_BUTTON = 0x00;
constexpr uint8_t BTNS_SEP = 0x01;

struct TBBUTTON {
    int iBitmap;  // image index; for separators their width in pixels
    int idCommand;
    uint8_t fsState;
    uint8_t fsStyle;
};

// Created hidden, flat, its images drawn at their own size.
UniqueWindow CreateToolbar(HWND parent);
void Toolbar_SetImageList(HWND toolbar, const CImageList* images);
void Toolbar_AddButtons(HWND toolbar, const std::vector<TBBUTTON>& buttons);
// TBSTATE_ENABLED and TBSTATE_PRESSED. Pressed is the program's mark or a button held down.
bool Toolbar_SetState(HWND toolbar, int command, uint8_t state);
// -1 for a command without a button.
int Toolbar_GetState(HWND toolbar, int command);
// The button's rectangle in the toolbar's client coordinates.
bool Toolbar_GetRect(HWND toolbar, int command, RECT* rect);
int Toolbar_GetButtonHeight(HWND toolbar);
// The window the buttons ask for their tooltip texts.
void Toolbar_SetTooltipOwner(HWND toolbar, HWND owner);
// A tooltip showing for one of the buttons asks for its text again.
void Toolbar_UpdateTooltip(HWND toolbar);

// A horizontal trackbar without tick marks, created hidden.
UniqueWindow CreateTrackbar(HWND parent, HWND reportTo);
void Trackbar_SetRange(HWND trackbar, int minimum, int maximum);
void Trackbar_SetPos(HWND trackbar, int position);
int Trackbar_GetPos(HWND trackbar);
void SetToolTipText(HWND window, const std::string& text);
