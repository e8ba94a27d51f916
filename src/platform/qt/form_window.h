#pragma once

// Windows for the forms: each is a layer object that owns its widgets and turns Qt's events
// into the messages a form's one window procedure handles. A handle (HWND) is the object's
// IWindow face, so the image core can post to it from any thread.

#include <memory>
#include <string>

#include "platform/qt/win32.h"

class QCursor;
class QWidget;
class CWindow;

using HCURSOR = const QCursor*;

// A form: anything with a window procedure. Messages it does not handle go to DefWindowProc.
class CBaseForm {
public:
    virtual ~CBaseForm() = default;
    virtual LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct WindowStyle {
    bool topLevel = false;  // else a child of its parent's client area
    bool visible = false;
    bool doubleClicks = false;  // double-clicks arrive as such, not as a second button-down
    bool opaque = false;        // the form paints every pixel: nothing is drawn under it first
    // With topLevel: a small tool window with a close box, owned by the parent's window, so it
    // stays above it (in fullscreen too) and has no place in the task bar.
    bool tool = false;
};

struct WindowDeleter {
    void operator()(CWindow* window) const;
};
// The owner of a window keeps it in one of these. DestroyWindow may take the widgets away
// earlier; the handle then stays a valid, silent shell until the owner lets it go, so workers
// that still post to it lose their messages instead of touching freed memory.
using UniqueWindow = std::unique_ptr<CWindow, WindowDeleter>;

HWND AsHandle(const UniqueWindow& window);

// Creates the window. The creation form receives WM_CREATE; after that, messages reach a form
// only once SetWindowForm has named one (until then they go to DefWindowProc).
UniqueWindow CreateFormWindow(CBaseForm* creationForm, HWND parent, const std::string& title,
                              const WindowStyle& style);
void SetWindowForm(HWND window, CBaseForm* form);
CBaseForm* GetWindowForm(HWND window);
// Takes the widgets (and those of every child window) away now.
void DestroyWindow(HWND window);
bool IsWindow(HWND window);

HWND GetParent(HWND window);
// Moves a child window into another window's client area, keeping whether it is shown.
void SetParent(HWND child, HWND parent);
void MoveWindow(HWND window, int x, int y, int width, int height);
void ShowWindow(HWND window, int command);
bool IsWindowVisible(HWND window);
// A top-level window covers the screen it is on, without caption or frame; leaving returns it to
// its former geometry and maximised state.
void SetWindowFullscreen(HWND window, bool fullscreen);
// Whether a window that left fullscreen still has the screen's size and waits for the window
// manager to give it back its former one (a resize follows, or a quarter of a second passes).
bool AwaitsManagerSize(HWND window);
// The screen the window is on, in screen coordinates.
RECT GetScreenRect(HWND window);
// The part of that screen a maximised window may take (panels left out), in screen coordinates.
RECT GetAvailableScreenRect(HWND window);
void SetWindowText(HWND window, const std::string& text);
void SetWindowIcon(HWND window, const std::string& resourcePath);
bool GetClientRect(HWND window, RECT* rect);
// Screen coordinates of the whole window, scroll bars included.
bool GetWindowRect(HWND window, RECT* rect);

// Painting: invalid parts are painted by the next WM_PAINT, at once with UpdateWindow.
void InvalidateRect(HWND window, const RECT* rect);
// Takes a part (null: all) out of what the next paint must cover.
void ValidateRect(HWND window, const RECT* rect);
bool GetUpdateRect(HWND window, RECT* rect);
void UpdateWindow(HWND window);
// Moves the pixels inside clip by (dx, dy) and invalidates what became uncovered.
void ScrollWindow(HWND window, int dx, int dy, const RECT* clip);

// Window scroll bars. A bar shows while its range is larger than its page; showing or hiding
// one changes the client area (no WM_SIZE: only the window's own size changes send that).
int SetScrollInfo(HWND window, int bar, const SCROLLINFO& info, bool redraw);
bool GetScrollInfo(HWND window, int bar, SCROLLINFO* info);
// SM_CXVSCROLL and SM_CYHSCROLL give the style's scroll bar extent unless set below.
int GetSystemMetrics(int index);
void SetScrollBarExtent(int pixels);

// Timers deliver WM_TIMER with their id; setting an existing id restarts it.
void SetTimer(HWND window, uintptr_t id, unsigned milliseconds);
void KillTimer(HWND window, uintptr_t id);

void SetFocus(HWND window);
HWND GetFocus();
void SetCapture(HWND window);
void ReleaseCapture();
HWND GetCapture();

// A stock cursor (IDC_*) or one of the program's cursor resources; shared, never freed.
HCURSOR LoadCursor(int id);
// The cursor shown over the window; SetCursor changes it until the class cursor is set again.
void SetClassCursor(HWND window, HCURSOR cursor);
HCURSOR GetClassCursor(HWND window);
void SetCursor(HWND window, HCURSOR cursor);
void ShowCursor(HWND window, bool show);

// High bit set while a modifier key (VK_SHIFT, VK_CONTROL, VK_MENU) is held.
int16_t GetKeyState(int virtualKey);

// Ends the message loop once control returns to it.
void PostQuitMessage(int exitCode);

// Answers the messages worker threads have sent to windows and are waiting on. The layer
// calls it by itself; a GUI thread that waits for a worker in any other way calls it too.
void ProcessSentMessages();

// Once per process, after the application object exists: resources, the wait hook of worker
// threads, application activation notices.
void InitPlatform();

// The widgets behind a window, for Qt controls placed in it.
QWidget* GetWindowWidget(HWND window);
QWidget* GetClientWidget(HWND window);
