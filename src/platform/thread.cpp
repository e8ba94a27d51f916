#include "platform/thread.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int NiceFor(int priority) {
    if (priority >= THREAD_PRIORITY_HIGHEST) return -5;
    if (priority == THREAD_PRIORITY_ABOVE_NORMAL) return -2;
    if (priority == THREAD_PRIORITY_NORMAL) return 0;
    if (priority == THREAD_PRIORITY_BELOW_NORMAL) return 5;
    if (priority == THREAD_PRIORITY_LOWEST) return 10;
    return 19;
}

void ApplyPriority(pid_t tid, int priority) {
    if (tid == 0) return;
    sched_param param{};
    if (priority <= THREAD_PRIORITY_IDLE) {
        sched_setscheduler(tid, SCHED_IDLE, &param);
        return;
    }
    // Leaving SCHED_IDLE or lowering the nice value may be refused; the thread then keeps
    // the priority it has, which only costs speed.
    sched_setscheduler(tid, SCHED_OTHER, &param);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(priority));
}

std::atomic<WaitHook> g_waitHook{nullptr};

pid_t CurrentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

}  // namespace

void SetCurrentThreadPriority(int priority) { ApplyPriority(CurrentTid(), priority); }

void SetWaitHook(WaitHook hook) { g_waitHook.store(hook); }

CWorkerThread::~CWorkerThread() {
    WaitUntilStopped();
    Reap();
}

bool CWorkerThread::Start(std::function<void()> body, int priority) {
    Reap();
    running_.store(true, std::memory_order_release);
    try {
        thread_ = std::thread([this, body = std::move(body), priority] {
            tid_.store(CurrentTid(), std::memory_order_release);
            ApplyPriority(tid_.load(), priority);
            body();
            tid_.store(0, std::memory_order_release);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                running_.store(false, std::memory_order_release);
            }
            stopped_.notify_all();
        });
    } catch (const std::system_error&) {
        running_.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

void CWorkerThread::SetPriority(int priority) {
    pid_t tid = tid_.load(std::memory_order_acquire);
    if (tid != 0) ApplyPriority(tid, priority);
}

void CWorkerThread::WaitUntilStopped(std::chrono::milliseconds pollInterval) {
    const WaitHook hook = g_waitHook.load();
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_.load(std::memory_order_acquire)) {
        if (hook) {
            // Without the lock: the hook may run code that waits for other threads.
            lock.unlock();
            hook();
            lock.lock();
            if (!running_.load(std::memory_order_acquire)) break;
        }
        stopped_.wait_for(lock, pollInterval);
    }
}

void CWorkerThread::Reap() {
    // The thread has cleared its running flag; joining only collects its last instructions.
    if (thread_.joinable() && !IsRunning()) thread_.join();
}
