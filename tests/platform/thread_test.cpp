#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

std::atomic<int> g_hookCalls{0};
std::atomic<bool> g_finishedInHook{false};
CWorkerThread* g_worker = nullptr;

// Stands in for a window thread answering its worker's messages: here it even waits for that
// worker to end, which it can only do when the wait has let go of its lock.
void WaitingHook() {
    if (g_hookCalls++ > 0) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (g_worker->IsRunning() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_finishedInHook = !g_worker->IsRunning();
}

TEST(WorkerThreadTest, AWaitRunsTheHookBetweenPollsWithoutHoldingItsLock) {
    CWorkerThread worker;
    g_worker = &worker;
    SetWaitHook(&WaitingHook);
    worker.Start([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); },
                 THREAD_PRIORITY_NORMAL);
    worker.WaitUntilStopped(std::chrono::milliseconds(5));
    SetWaitHook(nullptr);
    EXPECT_GE(g_hookCalls.load(), 1);
    EXPECT_TRUE(g_finishedInHook.load());
    EXPECT_FALSE(worker.IsRunning());

    // With nothing running, a wait returns at once and runs no hook.
    const int calls = g_hookCalls;
    SetWaitHook(&WaitingHook);
    worker.WaitUntilStopped();
    SetWaitHook(nullptr);
    EXPECT_EQ(g_hookCalls.load(), calls);
    g_worker = nullptr;
}

}  // namespace
