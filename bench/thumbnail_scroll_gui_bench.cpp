// Drags the thumbnail pane's scroll bar from top to bottom over a large folder, on the offscreen
// platform, and measures how long the event loop is kept from input: a ticker thread posts one
// mouse move every 16 ms (60 Hz) and each move, when the loop delivers it, moves the bar as the
// thumb drag does (WM_VSCROLL to the pane). Prints the longest wait of a move for the loop, the
// longest single event handled (and its type), the listing's own time, and the memory: pictures
// held, image-list entries, RSS. Run by bench/thumbnail_scroll.sh.
//
//   thumbnail_scroll_gui_bench FOLDER CACHE_ROOT DRAG_SECONDS
//
// The pane is set up as the main window does it, in a 1280 x 1024 list; "MaxThumbsLoad" is 1000.

#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QListView>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/form_window.h"
#include "platform/qt/list_view.h"
#include "settings/registry.h"
#include "thumbs/ui/thumbnail_form.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// This thread's CPU time: on a machine shared with other work, a long event whose CPU time is
// short was the thread waiting for a core, not the code.
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Times every event the loop hands out (not those sent from inside another's handling).
class TimedApp : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        const int type = event->type();
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        rusage before{};
        getrusage(RUSAGE_THREAD, &before);
        const bool handled = QApplication::notify(receiver, event);
        const double ms = Ms(Clock::now() - start);
        const double cpu = ThreadCpuMs() - cpuStart;
        rusage after{};
        getrusage(RUSAGE_THREAD, &after);
        --depth_;
        if (measuring && ms > longest) {
            longest = ms;
            longestType = type;
            // Waits of its own (a lock, a sleep, a file) against being put off a core.
            longestWaits = after.ru_nvcsw - before.ru_nvcsw;
            longestPreempted = after.ru_nivcsw - before.ru_nivcsw;
        }
        if (measuring && cpu > longestCpu) {
            longestCpu = cpu;
            longestCpuType = type;
        }
        return handled;
    }
    bool measuring = false;
    double longest = 0;  // wall
    int longestType = 0;
    long longestWaits = 0;
    long longestPreempted = 0;
    double longestCpu = 0;  // the most CPU time one event took
    int longestCpuType = 0;

private:
    int depth_ = 0;
};

// One posted mouse move: the time it was posted.
class MoveEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit MoveEvent(Clock::time_point at) : QEvent(Kind()), posted(at) {}
    Clock::time_point posted;
};

class Dragger : public QObject {
public:
    QScrollBar* bar = nullptr;
    int steps = 0;
    int done = 0;
    double longestWait = 0;
    std::vector<double> waits;
    bool event(QEvent* event) override {
        if (event->type() != MoveEvent::Kind()) return QObject::event(event);
        const double wait = Ms(Clock::now() - static_cast<MoveEvent*>(event)->posted);
        waits.push_back(wait);
        longestWait = std::max(longestWait, wait);
        if (done < steps) {
            ++done;
            // The thumb dragged: the position follows the mouse, WM_VSCROLL tells the pane.
            bar->setSliderPosition(static_cast<int>(int64_t{bar->maximum()} * done / steps));
        }
        return true;
    }
};

struct PaneForwarder : CBaseForm {
    CThumbnailForm* pane = nullptr;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        return pane ? pane->WindowProc(window, message, wParam, lParam)
                    : CallWindowProc(window, message, wParam, lParam);
    }
};

struct NullForm : CBaseForm {
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_NOTIFY) return 0;
        return DefWindowProc(window, message, wParam, lParam);
    }
};

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return 0;
}

// Runs the loop until the deadline, asleep between events as the program's own loop is: a loop
// that spins takes a core from the decodes.
void PumpUntil(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    QEventLoop loop;
    QTimer::singleShot(std::max<int64_t>(0, left.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FOLDER CACHE_ROOT DRAG_SECONDS\n", argv[0]);
        return 2;
    }
    char home[] = "/tmp/lumora-scroll-home-XXXXXX";
    const std::string homePath = mkdtemp(home);
    setenv("HOME", homePath.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (homePath + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (homePath + "/.local/share").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    TimedApp app(qtArgc, argv);
    InitPlatform();
    WriteRegDword("MaxThumbsLoad", 1000);
    WriteRegString("CacheDir", argv[2]);

    std::string folder = argv[1];
    if (folder.back() != '/') folder += '/';
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    const double dragSeconds = std::atof(argv[3]);

    NullForm mainForm;
    PaneForwarder forwarder;
    WindowStyle style;
    style.topLevel = true;
    UniqueWindow parent = CreateFormWindow(&mainForm, nullptr, "Lumora", style);
    SetWindowForm(AsHandle(parent), &mainForm);
    UniqueWindow list = CreateIconListView(AsHandle(parent), CThumbnailForm::kSize);
    SetWindowForm(AsHandle(list), &forwarder);
    MoveWindow(AsHandle(parent), 0, 0, 1280, 1024);
    MoveWindow(AsHandle(list), 0, 0, 1280, 1024);
    ShowWindow(AsHandle(parent), SW_SHOW);
    ShowWindow(AsHandle(list), SW_SHOW);
    QCoreApplication::processEvents();

    double listingMs = 0;
    double refreshMs = 0;
    {
        auto pane = std::make_unique<CThumbnailForm>(AsHandle(list));
        forwarder.pane = pane.get();
        const auto listed = Clock::now();
        pane->SetFolder(folder, files);
        listingMs = Ms(Clock::now() - listed);
        // What the pane adds to every paint: finding the visible items and their pictures.
        const auto refreshed = Clock::now();
        pane->RefreshVisible();
        refreshMs = Ms(Clock::now() - refreshed);
        pane->Activate();
        // The first screenful, as the user sees it before reaching for the bar.
        PumpUntil(Clock::now() + std::chrono::seconds(1));

        auto* view = GetClientWidget(AsHandle(list))->findChild<QListView*>();
        Dragger dragger;
        dragger.bar = view->verticalScrollBar();
        dragger.steps = std::max(1, static_cast<int>(dragSeconds * 60));
        dragger.bar->setSliderDown(true);
        app.measuring = true;
        // The mouse: one move per 16 ms, through the drag and one second after it.
        std::atomic<bool> stop{false};
        std::thread mouse([&] {
            auto next = Clock::now();
            while (!stop.load()) {
                next += std::chrono::milliseconds(16);
                std::this_thread::sleep_until(next);
                QCoreApplication::postEvent(&dragger, new MoveEvent(Clock::now()));
            }
        });
        const auto dragStart = Clock::now();
        while (dragger.done < dragger.steps)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        const double dragMs = Ms(Clock::now() - dragStart);
        dragger.bar->setSliderDown(false);
        PumpUntil(Clock::now() + std::chrono::seconds(1));
        stop.store(true);
        mouse.join();
        QCoreApplication::processEvents();
        app.measuring = false;

        std::vector<double> waits = dragger.waits;
        std::sort(waits.begin(), waits.end());
        const double p99 = waits.empty() ? 0 : waits[waits.size() * 99 / 100];
        int held = 0;
        for (int i = 0; i < static_cast<int>(files.size()); ++i)
            held += !!pane->loader().DecodedImage(i);
        int shown = 0;
        for (int i = 0; i < ListView_GetItemCount(AsHandle(list)); ++i)
            shown += ListView_GetItemImage(AsHandle(list), i) > 0;
        std::printf(
            "files %zu listing_ms %.1f refresh_ms %.1f drag_ms %.0f moves %zu longest_wait_ms %.1f "
            "p99_wait_ms %.1f "
            "longest_event_ms %.1f longest_event_type %d longest_event_cpu_ms %.1f "
            "longest_cpu_type %d held %d image_list %d shown %d "
            "rss_mb %.1f peak_rss_mb %.1f at_bottom %d longest_event_waits %ld "
            "longest_event_preempted %ld decodes %llu\n",
            files.size(), listingMs, refreshMs, dragMs, waits.size(), dragger.longestWait, p99,
            app.longest, app.longestType, app.longestCpu, app.longestCpuType, held,
            pane->images().Count(), shown, StatusKb("VmRSS:") / 1024.0, StatusKb("VmHWM:") / 1024.0,
            dragger.bar->value() == dragger.bar->maximum() ? 1 : 0, app.longestWaits,
            app.longestPreempted,
            static_cast<unsigned long long>(pane->loader().DecodesStarted()));
        forwarder.pane = nullptr;
    }
    std::filesystem::remove_all(homePath);
    return 0;
}
