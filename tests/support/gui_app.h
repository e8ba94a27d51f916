#pragma once

// For GUI tests only: the one application object of a test program, and waiting on the event
// loop for something to happen.

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

#include "platform/qt/form_window.h"

inline QApplication& GuiApp() {
    static int argc = 1;
    static char name[] = "lumora-test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: widgets of static test objects may outlive main.
    static QApplication* app = [] {
        auto* created = new QApplication(argc, argv);
        InitPlatform();
        return created;
    }();
    return *app;
}

// Runs the event loop until the condition holds; false when it did not within the time.
inline bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs the event loop for a while.
inline void PumpFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
