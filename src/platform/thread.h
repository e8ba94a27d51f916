#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Thread priorities in the values the callers pass around.
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;

// Sets the calling thread's scheduling priority, best effort: nice values per thread and
// SCHED_IDLE for the idle priority. A priority the process may not raise again stays as it is.
void SetCurrentThreadPriority(int priority);

// Work a thread does between the polls of WaitUntilStopped. The desktop layer sets it once, so
// a window thread that waits for a worker still answers the messages that worker sends it.
using WaitHook = void (*)();
void SetWaitHook(WaitHook hook);

// A worker thread with the "is it still running" contract of the callers: its owner polls
// IsRunning() or waits with WaitUntilStopped(), and never has to join before starting anew.
// The running flag is cleared by the thread as the very last thing it does for its owner.
class CWorkerThread {
public:
    CWorkerThread() = default;
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts body on a new thread at the given priority. Returns false when no thread could be
    // made (then nothing runs). Must not be called while the previous thread still runs.
    bool Start(std::function<void()> body, int priority);
    // Changes the priority of the running thread (best effort; no-op when none runs).
    void SetPriority(int priority);
    bool IsRunning() const { return running_.load(std::memory_order_acquire); }
    // Blocks until the thread has finished its body. Wakes at once when it does, and at least
    // every pollInterval otherwise.
    void WaitUntilStopped(std::chrono::milliseconds pollInterval = std::chrono::milliseconds(10));

private:
    void Reap();

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<pid_t> tid_{0};
    std::mutex mutex_;
    std::condition_variable stopped_;
};
