#pragma once

#include <cstdint>

// The message vocabulary the panes speak, kept from the desktop API they were designed on:
// numbers and payloads are part of the protocol between threads and forms.
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr UINT WM_USER = 0x0400;

// Private messages between the panes and their workers.
constexpr UINT WM_IMAGE_PROGRESS = WM_USER + 1;    // posted: CImage*, ProgressRecord* (receiver frees)
constexpr UINT WM_IMAGE_DONE = WM_USER + 2;        // posted: CImage* or 0, 0
constexpr UINT WM_SPLITTER_MOVED = WM_USER + 3;    // signed x delta, 0
constexpr UINT WM_FOLDER_CHANGED = WM_USER + 4;    // 0, 0
constexpr UINT WM_BACKGROUND_CHANGED = WM_USER + 5;  // colour 0x00BBGGRR, 0
constexpr UINT WM_SHOW_FILE = WM_USER + 6;         // origin, immediate flag
constexpr UINT WM_CACHE_STATUS = WM_USER + 7;      // item index, 1 not cached / 2 cached
constexpr UINT WM_PROBE_FINISHED = WM_USER + 8;    // 0, 0
constexpr UINT WM_FILE_SELECTION = WM_USER + 9;    // sender window, SelectionRecord*
constexpr UINT WM_FILE_DELETED = WM_USER + 10;     // file index, 0 single / 1 series
constexpr UINT WM_DRIVE_LABEL = WM_USER + 11;      // posted: drive index, job generation

// What WM_FILE_SELECTION points at: a file's index among the listed files and whether it became
// selected. The sender owns it; it lives until the send returns.
struct SelectionRecord {
    int32_t fileIndex = 0;
    uint8_t selected = 0;
    uint8_t reserved[3] = {0, 0, 0};
};
static_assert(sizeof(SelectionRecord) == 8);

// A window as the core sees it: something that takes messages from any thread. The desktop
// layer implements it over a widget; tests implement it with a recording queue.
class IWindow {
public:
    // Queues the message for the window's thread and returns at once. Safe from any thread.
    virtual void PostMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // On the window's thread a direct call of its window procedure; from another thread it
    // blocks until the window's thread has handled the message.
    virtual LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Repaints what is invalid now. Safe from any thread (from a worker it is queued).
    virtual void UpdateWindow() = 0;

protected:
    ~IWindow() = default;
};

using HWND = IWindow*;
