#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

// Decodes that run on threads of their own, for libraries that cannot be interrupted inside a
// call: a stopped load leaves its decode to end there instead of waiting for it. A decode that
// was left still holds its memory and its share of the processor until it ends, so only a few
// run at once; all are joined before the process ends.
class CDecodeThreads {
public:
    static constexpr int kMaxRunning = 3;

    CDecodeThreads() = default;
    CDecodeThreads(const CDecodeThreads&) = delete;
    CDecodeThreads& operator=(const CDecodeThreads&) = delete;
    ~CDecodeThreads();

    // Runs decode on a thread once a place is free, asking stopped() while it waits; false when
    // the load was stopped first. Without a thread to be had, decode runs here and now.
    bool Start(std::function<void()> decode, const std::function<bool()>& stopped);
    // The decodes that have not ended yet.
    int Running();

private:
    struct Runner {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };

    // Joins the threads whose decode has ended; returns how many have not. Under lock_.
    int Reap();

    std::mutex lock_;
    std::condition_variable changed_;
    std::list<Runner> runners_;
};
