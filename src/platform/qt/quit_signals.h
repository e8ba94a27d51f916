#pragma once

// SIGTERM and SIGINT (logout, kill, Ctrl+C in a terminal) close a window the way its close
// button does: WM_CLOSE reaches it through the event loop, so the program ends normally.

#include <memory>

#include "platform/qt/form_window.h"

class QSocketNotifier;

class CQuitSignals {
public:
    explicit CQuitSignals(HWND window);
    ~CQuitSignals();
    CQuitSignals(const CQuitSignals&) = delete;
    CQuitSignals& operator=(const CQuitSignals&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
