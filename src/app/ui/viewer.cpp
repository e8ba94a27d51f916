#include "app/ui/viewer.h"

#include <malloc.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/ui/main_form.h"
#include "app/ui/resources.h"
#include "image/resample.h"
#include "platform/qt/quit_signals.h"
#include "platform/start_trace.h"

namespace {

// With LUMORA_PAINT_LOG set: how long the event loop was ever kept from answering, measured
// with a 10 ms timer; stalls over 100 ms are reported as they happen.
class CLoopWatch {
public:
    CLoopWatch() {
        if (!std::getenv("LUMORA_PAINT_LOG")) return;
        clock_.start();
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            const qint64 gap = now - last_;
            last_ = now;
            if (gap > longest_) longest_ = gap;
            if (gap > 100) std::fprintf(stderr, "lumora-stall %lld ms at %lld ms\n", gap, now);
        });
        timer_.start();
    }
    ~CLoopWatch() {
        if (timer_.isActive()) std::fprintf(stderr, "lumora-longest-gap %lld ms\n", longest_);
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

}  // namespace

int RunViewer(int argc, char** argv, const std::vector<std::string>& words) {
    // Decoders' big buffers (a progressive JPEG's coefficients, a source picture) are mapped
    // and given back when freed. With glibc's moving threshold a buffer once freed raises it,
    // and later ones of that size stay in each decode thread's arena: two thumbnail decodes at
    // once then held twice the memory they use.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    BuildGammaTables();
    QApplication app(argc, argv);
    TraceStartStep("qapplication");
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumora"));
    InitPlatform();
    QIcon icon(QString::fromLatin1(kIconResource));
    icon.addFile(QString::fromLatin1(kLargeIconResource));
    QApplication::setWindowIcon(icon);
    {
        CMainForm form(words, SW_SHOWNORMAL);
        TraceStartStep("window-shown");
        // Logout and Ctrl+C close the window like its close button, so settings are written.
        CQuitSignals quitSignals(form.window());
        CLoopWatch watch;
        QApplication::exec();
        DestroyWindow(form.window());
    }
    return 0;
}

extern "C" int LumoraRunViewer(int argc, char** argv, const std::vector<std::string>* words) {
    return RunViewer(argc, argv, *words);
}
