#pragma once

// For GUI tests only: a form that records the messages its window procedure receives and can
// be given a handler for some of them.

#include <QCoreApplication>
#include <QThread>
#include <functional>
#include <vector>

#include "platform/qt/form_window.h"

class RecordingForm : public CBaseForm {
public:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool onGuiThread;
    };

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back({message, wParam, lParam,
                            QThread::currentThread() == QCoreApplication::instance()->thread()});
        if (handler) return handler(window, message, wParam, lParam);
        return DefWindowProc(window, message, wParam, lParam);
    }

    std::vector<Message> Of(UINT message) const {
        std::vector<Message> found;
        for (const Message& m : messages)
            if (m.message == message) found.push_back(m);
        return found;
    }

    std::vector<Message> messages;
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> handler;
};
