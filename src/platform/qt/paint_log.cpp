#include "platform/qt/paint_log.h"

#include <time.h>

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/qt/window_impl.h"

bool PaintLogOn() {
    static const bool on = std::getenv("LUMORA_PAINT_LOG") != nullptr;
    return on;
}

void PaintLog(const char* what, int a, int b, int c) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::fprintf(stderr, "lumora-%s %lld.%06ld %d %d %d\n", what,
                 static_cast<long long>(now.tv_sec), now.tv_nsec / 1000, a, b, c);
}

namespace {

double Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

const char* KindOf(QWidget* widget) {
    if (auto* client = dynamic_cast<CClientWidget*>(widget)) {
        if (client->owner->style.opaque) return "pane";
        return client->owner->parent ? "client" : "frame";
    }
    // A scroll area paints through its viewport, which has no class of its own.
    const QMetaObject* meta = widget->metaObject();
    if (meta == &QWidget::staticMetaObject && widget->parentWidget())
        meta = widget->parentWidget()->metaObject();
    return meta->className();
}

class CPaintWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            const QPoint at = widget->mapTo(widget->window(), QPoint(0, 0));
            std::fprintf(stderr, "lumora-widget %.6f %s %d %d %d %d\n", Now(), KindOf(widget),
                         at.x(), at.y(), widget->width(), widget->height());
            painted_ = true;
        } else if (Repaints(watched, event) &&
                   std::find(resending_.begin(), resending_.end(), event) == resending_.end()) {
            // The repaint runs inside this event: once it has been handled, whatever it painted
            // since the last note has been flushed to the screen.
            resending_.push_back(event);
            QCoreApplication::sendEvent(watched, event);
            resending_.pop_back();
            if (painted_) {
                painted_ = false;
                const QRect g = watched->isWindowType()
                                    ? static_cast<QWindow*>(watched)->geometry()
                                    : static_cast<QWidget*>(watched)->geometry();
                std::fprintf(stderr, "lumora-flush %.6f %d %d %d %d\n", Now(), g.x(), g.y(),
                             g.width(), g.height());
            }
            return true;
        }
        return false;
    }

private:
    // A top-level window's repaint request (also what a synchronous repaint sends), or its
    // exposure. Nothing else is re-sent: input must keep arriving as the system's own.
    static bool Repaints(QObject* watched, QEvent* event) {
        if (watched->isWindowType())
            return event->type() == QEvent::UpdateRequest || event->type() == QEvent::Expose;
        return event->type() == QEvent::UpdateRequest && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->isWindow();
    }

    bool painted_ = false;
    std::vector<QEvent*> resending_;
};

}  // namespace

void WatchPaints() {
    static CPaintWatch* watch = nullptr;
    // Its own switch: the line per widget would weigh on the other paint-log measurements.
    if (watch || !PaintLogOn() || !std::getenv("LUMORA_WIDGET_LOG") || !qApp) return;
    watch = new CPaintWatch;
    qApp->installEventFilter(watch);
}
