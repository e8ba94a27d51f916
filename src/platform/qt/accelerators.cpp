#include "platform/qt/accelerators.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "platform/qt/window_impl.h"

namespace {

class CAcceleratorFilter : public QObject {
public:
    CAcceleratorFilter(const CAcceleratorTable* table, HWND window)
        : table_(table), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        QWidget* top = GetWindowWidget(window_);
        if (!widget || !top || widget->window() != top) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers m = key->modifiers();
        const int command = table_->Lookup(VirtualKeyFromQt(key->key()), m & Qt::ShiftModifier,
                                           m & Qt::ControlModifier, m & Qt::AltModifier);
        if (command < 0) return false;
        window_->SendMessage(WM_COMMAND, MAKEWPARAM(command, 1), 0);
        return true;
    }

private:
    const CAcceleratorTable* table_;
    HWND window_;
};

}  // namespace

CAcceleratorTable::CAcceleratorTable(HWND window, std::vector<ACCEL> entries)
    : window_(window), entries_(std::move(entries)), filter_(new CAcceleratorFilter(this, window)) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(filter_);
}

CAcceleratorTable::~CAcceleratorTable() {
    delete filter_;
}

int CAcceleratorTable::Lookup(WPARAM virtualKey, bool shift, bool control, bool alt) const {
    if (!virtualKey) return -1;
    for (const ACCEL& a : entries_) {
        if (a.key != virtualKey) continue;
        if (((a.fVirt & FSHIFT) != 0) != shift || ((a.fVirt & FCONTROL) != 0) != control ||
            ((a.fVirt & FALT) != 0) != alt)
            continue;
        return a.cmd;
    }
    return -1;
}
