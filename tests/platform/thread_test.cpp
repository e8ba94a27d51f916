#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

std::atomic<int> g_hookCalls{0};
CWorkerThread* g_other = nullptr;

// Stands in for a window thread answering its workers: it may wait for another thread itself.
void CountingHook() {
    ++g_hookCalls;
    if (g_other) g_other->WaitUntilStopped();
}

TEST(WorkerThreadTest, AWaitRunsTheHookBetweenPollsWithoutHoldingItsLock) {
    CWorkerThread other;
    other.Start([] { std::this_thread::sleep_for(std::chrono::milliseconds(30)); },
                THREAD_PRIORITY_NORMAL);
    g_other = &other;
    SetWaitHook(&CountingHook);
    std::atomic<bool> release{false};
    CWorkerThread worker;
    worker.Start(
        [&] {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        THREAD_PRIORITY_NORMAL);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        release = true;
    });
    worker.WaitUntilStopped(std::chrono::milliseconds(5));
    releaser.join();
    SetWaitHook(nullptr);
    g_other = nullptr;
    EXPECT_GE(g_hookCalls.load(), 2);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(other.IsRunning());

    // Without a hook, and with nothing running, a wait returns at once.
    const int calls = g_hookCalls;
    worker.WaitUntilStopped();
    EXPECT_EQ(g_hookCalls.load(), calls);
}

}  // namespace
