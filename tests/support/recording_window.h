#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "image/image.h"
#include "platform/window.h"

// A window that records what it is sent, from any thread. Progress records it receives are
// copied and freed at once, as every receiver must.
class RecordingWindow : public IWindow {
public:
    struct Message {
        UINT message;
        WPARAM wParam;
        ProgressRecord record;  // for image-progress
    };

    ~RecordingWindow() = default;

    void PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        Message m{message, wParam, {0, 0}};
        if (message == WM_IMAGE_PROGRESS && lParam) {
            auto* record = reinterpret_cast<ProgressRecord*>(lParam);
            m.record = *record;
            delete record;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(m);
        changed_.notify_all();
    }
    LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        PostMessage(message, wParam, lParam);
        return 0;
    }
    void UpdateWindow() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++updates_;
    }

    std::vector<Message> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    int Updates() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return updates_;
    }
    int Count(UINT message) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const Message& m : messages_) n += m.message == message;
        return n;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
        updates_ = 0;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
    int updates_ = 0;
};
