#include "platform/qt/quit_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace {

int g_pipe[2] = {-1, -1};
struct sigaction g_previous[2];

void OnSignal(int) {
    // Only what is safe in a signal handler: one byte into the pipe.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

CQuitSignals::CQuitSignals(HWND window) {
    if (g_pipe[0] >= 0) return;  // one per process
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [window] {
        char bytes[16];
        while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        if (IsWindow(window)) window->PostMessage(WM_CLOSE, 0, 0);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &g_previous[0]);
    sigaction(SIGINT, &action, &g_previous[1]);
}

CQuitSignals::~CQuitSignals() {
    if (!notifier_) return;
    sigaction(SIGTERM, &g_previous[0], nullptr);
    sigaction(SIGINT, &g_previous[1], nullptr);
    notifier_.reset();
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}
