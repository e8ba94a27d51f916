// Messages that worker threads send to windows. The worker queues the message and waits; the
// GUI thread answers it from its event loop, or, while it waits for a worker itself, from the
// wait hook of CWorkerThread, so a worker never deadlocks against the thread that stops it.

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/qt/window_impl.h"

namespace {

struct SentMessage {
    CWindow* window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool answered = false;
};

std::mutex g_lock;
std::condition_variable g_answered;
std::deque<SentMessage*> g_queue;

}  // namespace

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

LRESULT SendFromWorker(CWindow* window, UINT message, WPARAM wParam, LPARAM lParam) {
    SentMessage sent{window, message, wParam, lParam};
    std::unique_lock<std::mutex> lock(g_lock);
    g_queue.push_back(&sent);
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { ProcessSentMessages(); }, Qt::QueuedConnection);
    g_answered.wait(lock, [&] { return sent.answered; });
    return sent.result;
}

void ProcessSentMessages() {
    for (;;) {
        SentMessage* sent = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_lock);
            if (g_queue.empty()) return;
            sent = g_queue.front();
            g_queue.pop_front();
        }
        const LRESULT result =
            sent->window->alive()
                ? sent->window->Dispatch(sent->message, sent->wParam, sent->lParam)
                : 0;
        {
            std::lock_guard<std::mutex> lock(g_lock);
            sent->result = result;
            sent->answered = true;
        }
        g_answered.notify_all();
    }
}

void ForgetSentMessagesTo(CWindow* window) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        for (auto it = g_queue.begin(); it != g_queue.end();) {
            if ((*it)->window == window) {
                (*it)->answered = true;
                it = g_queue.erase(it);
            } else {
                ++it;
            }
        }
    }
    g_answered.notify_all();
}
