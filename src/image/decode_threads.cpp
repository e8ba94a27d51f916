#include "image/decode_threads.h"

#include <chrono>
#include <exception>
#include <utility>

CDecodeThreads::~CDecodeThreads() {
    std::lock_guard<std::mutex> hold(lock_);
    for (Runner& runner : runners_) runner.thread.join();
}

bool CDecodeThreads::Start(std::function<void()> decode, const std::function<bool()>& stopped) {
    std::unique_lock<std::mutex> hold(lock_);
    while (Reap() >= kMaxRunning) {
        if (stopped && stopped()) return false;
        changed_.wait_for(hold, std::chrono::milliseconds(5));
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    try {
        runners_.push_back(Runner{std::thread(), ended});
        runners_.back().thread = std::thread([this, decode, ended] {
            decode();
            ended->store(true);
            changed_.notify_all();
        });
    } catch (const std::exception&) {
        if (!runners_.empty() && !runners_.back().thread.joinable()) runners_.pop_back();
        hold.unlock();
        decode();
    }
    return true;
}

int CDecodeThreads::Running() {
    std::lock_guard<std::mutex> hold(lock_);
    return Reap();
}

int CDecodeThreads::Reap() {
    int running = 0;
    for (auto it = runners_.begin(); it != runners_.end();) {
        if (it->ended->load()) {
            it->thread.join();
            it = runners_.erase(it);
        } else {
            ++running;
            ++it;
        }
    }
    return running;
}
