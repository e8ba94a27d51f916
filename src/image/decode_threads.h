#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

// One whole-picture decode for a library that cannot be interrupted: it runs on a thread of its
// own while the reader that asked for it waits, and a reader whose load is stopped leaves it
// there. Decode sees only what the job holds, never the reader, so a left decode may outlive
// the reader and its image.
class CDecodeJob {
public:
    virtual ~CDecodeJob() = default;

    // On the decode thread. Polls Abandoned() between steps where it can.
    virtual void Decode() = 0;
    // Frees what Decode made; called once for a job that was left, as soon as it ends.
    virtual void Discard() = 0;

    bool Abandoned() const { return abandoned_.load(std::memory_order_relaxed); }
    const std::atomic<bool>& AbandonedFlag() const { return abandoned_; }

private:
    friend class CDecodeThreads;
    std::atomic<bool> abandoned_{false};
    std::mutex lock_;
    std::condition_variable finished_;
    bool done_ = false;  // under lock_
};

// Set once at start by a process that decodes thousands of small files a second (a fuzzer):
// every job then runs on the thread that asks for it, and the libraries start no threads of
// their own, since starting them would cost more than most of its decodes.
void SetDecodesOnCallingThread(bool onCallingThread);
bool DecodesOnCallingThread();

// The threads of one reader's decodes. A decode that was left still holds its memory and its
// share of the processor until it ends, so only a few run at once; all are joined before the
// process ends.
class CDecodeThreads {
public:
    explicit CDecodeThreads(int maxRunning) : maxRunning_(maxRunning) {}
    ~CDecodeThreads();
    CDecodeThreads(const CDecodeThreads&) = delete;
    CDecodeThreads& operator=(const CDecodeThreads&) = delete;

    // Runs the job and waits for it, asking stopped() every 5 ms (also while waiting for a free
    // place). True when it ended; false when the load was stopped first, and the job is then
    // left to end on its own thread. Without a thread the job runs here and now.
    bool Run(const std::shared_ptr<CDecodeJob>& job, const std::function<bool()>& stopped);
    // Starts the job without waiting for it, for a reader that takes its results as they come:
    // false when the load was stopped while waiting for a free place. Without a thread the job
    // runs here and now.
    bool Start(const std::shared_ptr<CDecodeJob>& job, const std::function<bool()>& stopped);
    // A reader leaves a started job that it no longer reads from; one still running discards
    // its results when it ends.
    static void Leave(CDecodeJob& job);
    // Decodes that have not ended yet, left ones included.
    int Running();
    // Tests: called on the decode thread before each decode, to hold it there.
    void SetHook(void (*hook)()) { hook_ = hook; }

private:
    struct Runner {
        std::thread thread;
        std::shared_ptr<CDecodeJob> job;
    };

    static void Execute(CDecodeJob& job, void (*hook)());
    // Joins the threads whose decode has ended; returns how many have not. Under lock_.
    int Reap();

    const int maxRunning_;
    std::atomic<void (*)()> hook_{nullptr};
    std::mutex lock_;
    std::condition_variable changed_;
    std::list<Runner> runners_;
};
