#include "image/decode_threads.h"

#include <chrono>
#include <exception>

namespace {
constexpr auto kPoll = std::chrono::milliseconds(5);
std::atomic<bool> g_onCallingThread{false};
}  // namespace

void SetDecodesOnCallingThread(bool onCallingThread) { g_onCallingThread = onCallingThread; }

bool DecodesOnCallingThread() { return g_onCallingThread.load(); }

CDecodeThreads::~CDecodeThreads() {
    std::lock_guard<std::mutex> hold(lock_);
    for (Runner& runner : runners_) runner.thread.join();
}

void CDecodeThreads::Execute(CDecodeJob& job, void (*hook)()) {
    if (hook) hook();
    if (!job.Abandoned()) job.Decode();
    bool left;
    {
        std::lock_guard<std::mutex> hold(job.lock_);
        job.done_ = true;
        left = job.Abandoned();
    }
    job.finished_.notify_all();
    // Nobody takes the picture of a decode that was left: it goes now, not with the job. The
    // reader sets the flag under the job's lock, so it has either taken the picture or left it.
    if (left) job.Discard();
}

bool CDecodeThreads::Run(const std::shared_ptr<CDecodeJob>& job,
                         const std::function<bool()>& stopped) {
    if (!Start(job, stopped)) return false;
    std::unique_lock<std::mutex> hold(job->lock_);
    while (!job->done_) {
        if (stopped && stopped()) {
            job->abandoned_ = true;
            return false;
        }
        job->finished_.wait_for(hold, kPoll);
    }
    return true;
}

void CDecodeThreads::Leave(CDecodeJob& job) {
    std::lock_guard<std::mutex> hold(job.lock_);
    job.abandoned_ = true;
}

bool CDecodeThreads::Start(const std::shared_ptr<CDecodeJob>& job,
                           const std::function<bool()>& stopped) {
    if (DecodesOnCallingThread()) {
        Execute(*job, hook_.load());
        return true;
    }
    {
        std::unique_lock<std::mutex> hold(lock_);
        while (Reap() >= maxRunning_) {
            if (stopped && stopped()) return false;
            changed_.wait_for(hold, kPoll);
        }
        void (*hook)() = hook_.load();
        bool started = false;
        try {
            runners_.push_back(Runner{std::thread(), job});
            runners_.back().thread = std::thread([this, job, hook] {
                Execute(*job, hook);
                changed_.notify_all();
            });
            started = true;
        } catch (const std::exception&) {
            if (!runners_.empty() && !runners_.back().thread.joinable()) runners_.pop_back();
        }
        if (!started) {
            hold.unlock();
            Execute(*job, hook);
        }
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
        bool done;
        {
            std::lock_guard<std::mutex> hold(it->job->lock_);
            done = it->job->done_;
        }
        if (done) {
            it->thread.join();
            it = runners_.erase(it);
        } else {
            ++running;
            ++it;
        }
    }
    return running;
}
