#include "platform/qt/controls.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>
#include <algorithm>

#include "platform/qt/control_window.h"

namespace {

// The input event a control's form is handling now, so that passing it on hands the control
// the very event (innermost last: a form may run a menu loop while it handles one).
struct Delivery {
    CWindow* window;
    QObject* target;
    QEvent* event;
    UINT message;
    bool passed;
};
std::vector<Delivery*> g_deliveries;
// The event being handed on, which the filter lets through.
QEvent* g_bypass = nullptr;

void HandOn(CWindow* window, QObject* target, QEvent* event) {
    QPointer<QWidget> frame = window->frame_;
    if (window->control) window->control->BeforeOwnHandling();
    QEvent* outer = g_bypass;
    g_bypass = event;
    QCoreApplication::sendEvent(target, event);
    g_bypass = outer;
    if (frame && window->control) window->control->AfterOwnHandling();
}

UINT ButtonMessage(QEvent::Type type, Qt::MouseButton button, bool doubleClicks) {
    if (type == QEvent::MouseButtonDblClick && !doubleClicks) type = QEvent::MouseButtonPress;
    const int base = button == Qt::LeftButton     ? WM_LBUTTONDOWN
                     : button == Qt::RightButton  ? WM_RBUTTONDOWN
                     : button == Qt::MiddleButton ? WM_MBUTTONDOWN
                                                  : 0;
    if (!base) return 0;
    switch (type) {
        case QEvent::MouseButtonPress:
            return base;
        case QEvent::MouseButtonRelease:
            return base + 1;
        case QEvent::MouseButtonDblClick:
            return base + 2;
        default:
            return 0;
    }
}

// The message an input event of the control stands for; false for events that are not input.
bool Translate(CWindow* w, QEvent* event, UINT* message, WPARAM* wParam, LPARAM* lParam) {
    QWidget* input = w->InputWidget();
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint p = input->mapFromGlobal(mouse->globalPosition().toPoint());
            *message = event->type() == QEvent::MouseMove
                           ? WM_MOUSEMOVE
                           : ButtonMessage(event->type(), mouse->button(), w->style.doubleClicks);
            *wParam = MouseKeyState(mouse->buttons(), mouse->modifiers());
            *lParam = MAKELPARAM(p.x(), p.y());
            return *message != 0;
        }
        case QEvent::Wheel: {
            auto* wheel = static_cast<QWheelEvent*>(event);
            const int delta = std::clamp(wheel->angleDelta().y(), -32768, 32767);
            if (delta == 0) return false;
            const QPoint g = wheel->globalPosition().toPoint();
            *message = WM_MOUSEWHEEL;
            *wParam = MAKEWPARAM(
                static_cast<int>(MouseKeyState(wheel->buttons(), wheel->modifiers())), delta);
            *lParam = MAKELPARAM(g.x(), g.y());
            return true;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            const bool up = event->type() == QEvent::KeyRelease;
            if (up && key->isAutoRepeat()) return false;
            *wParam = VirtualKeyFromQt(key->key());
            *message = up ? WM_KEYUP : WM_KEYDOWN;
            *lParam = KeyMessageLParam(key, up);
            return *wParam != 0;
        }
        case QEvent::ContextMenu: {
            auto* menu = static_cast<QContextMenuEvent*>(event);
            const QPoint g = menu->globalPos();
            *message = WM_CONTEXTMENU;
            *wParam = reinterpret_cast<WPARAM>(static_cast<IWindow*>(w));
            *lParam = menu->reason() == QContextMenuEvent::Keyboard ? MAKELPARAM(-1, -1)
                                                                    : MAKELPARAM(g.x(), g.y());
            return true;
        }
        default:
            return false;
    }
}

class CControlFilter : public QObject {
public:
    CControlFilter(CWindow* window, QObject* parent) : QObject(parent), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event == g_bypass) return false;
        CWindow* w = window_;
        if (!w->alive() || !w->control || !w->control->widget) return false;
        if (event->type() == QEvent::Resize && watched == w->InputWidget()) {
            w->ReportClientSize();
            return false;
        }
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        if (!Translate(w, event, &message, &wParam, &lParam)) return false;
        if (!w->form) {
            if (message == WM_CONTEXTMENU)
                DefWindowProc(w, message, wParam, lParam);
            else
                HandOn(w, watched, event);
            return true;
        }
        Delivery delivery{w, watched, event, message, false};
        g_deliveries.push_back(&delivery);
        w->Dispatch(message, wParam, lParam);
        g_deliveries.erase(std::find(g_deliveries.begin(), g_deliveries.end(), &delivery));
        return true;
    }

private:
    CWindow* window_;
};

Qt::MouseButtons ButtonsOf(WPARAM keys) {
    Qt::MouseButtons buttons;
    if (keys & MK_LBUTTON) buttons |= Qt::LeftButton;
    if (keys & MK_RBUTTON) buttons |= Qt::RightButton;
    if (keys & MK_MBUTTON) buttons |= Qt::MiddleButton;
    return buttons;
}

Qt::KeyboardModifiers ModifiersOf(WPARAM keys) {
    Qt::KeyboardModifiers modifiers;
    if (keys & MK_SHIFT) modifiers |= Qt::ShiftModifier;
    if (keys & MK_CONTROL) modifiers |= Qt::ControlModifier;
    return modifiers;
}

void SendMouse(CWindow* w, QEvent::Type type, Qt::MouseButton button, WPARAM keys, LPARAM where) {
    QWidget* input = w->InputWidget();
    const QPointF local(GET_X_LPARAM(where), GET_Y_LPARAM(where));
    Qt::MouseButtons buttons = ButtonsOf(keys);
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) buttons |= button;
    if (type == QEvent::MouseButtonRelease) buttons &= ~Qt::MouseButtons(button);
    QMouseEvent event(type, local, input->mapToGlobal(local), button, buttons, ModifiersOf(keys));
    HandOn(w, input, &event);
}

// A message turned into the event it stands for.
LRESULT MadeUpInput(CWindow* w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP: {
            const int key = QtKeyFromVirtual(wParam);
            if (!key) return 0;
            QKeyEvent event(message == WM_KEYDOWN ? QEvent::KeyPress : QEvent::KeyRelease, key,
                            QGuiApplication::keyboardModifiers());
            HandOn(w, w->control->widget, &event);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDBLCLK: {
            const Qt::MouseButton button =
                (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)   ? Qt::LeftButton
                : (message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK) ? Qt::RightButton
                                                                             : Qt::MiddleButton;
            const bool twice = message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK ||
                               message == WM_MBUTTONDBLCLK;
            SendMouse(w, twice ? QEvent::MouseButtonDblClick : QEvent::MouseButtonPress, button,
                      wParam, lParam);
            if (w->alive()) SendMouse(w, QEvent::MouseButtonRelease, button, wParam, lParam);
            return 0;
        }
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP: {
            const Qt::MouseButton button = message == WM_LBUTTONUP   ? Qt::LeftButton
                                           : message == WM_RBUTTONUP ? Qt::RightButton
                                                                     : Qt::MiddleButton;
            SendMouse(w, QEvent::MouseButtonRelease, button, wParam, lParam);
            return 0;
        }
        case WM_MOUSEMOVE:
            SendMouse(w, QEvent::MouseMove, Qt::NoButton, wParam, lParam);
            return 0;
        case WM_MOUSEWHEEL: {
            QWidget* input = w->InputWidget();
            const QPointF global(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            const WPARAM keys = LOWORD(wParam);
            QWheelEvent event(input->mapFromGlobal(global), global, QPoint(),
                              QPoint(0, GET_WHEEL_DELTA_WPARAM(wParam)), ButtonsOf(keys),
                              ModifiersOf(keys), Qt::NoScrollPhase, false);
            HandOn(w, input, &event);
            return 0;
        }
        default:
            return 0;
    }
}

}  // namespace

UniqueWindow CreateControlWindow(HWND parent, std::unique_ptr<CControl> control) {
    WindowStyle style;
    style.doubleClicks = true;
    UniqueWindow window = CreateFormWindow(nullptr, parent, "", style);
    CWindow* w = window.get();
    w->control = std::move(control);
    QWidget* widget = w->control->widget;
    if (!w->control->input) w->control->input = widget;
    widget->setParent(w->client_);
    // Input the control leaves unanswered stays with it, as it went through the form already.
    widget->setAttribute(Qt::WA_NoMousePropagation);
    widget->setGeometry(w->client_->rect());
    widget->show();
    WatchControlInput(w, widget);
    if (w->control->input != widget) WatchControlInput(w, w->control->input);
    return window;
}

void WatchControlInput(CWindow* window, QWidget* widget) {
    widget->installEventFilter(new CControlFilter(window, widget));
}

LRESULT CallWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    CWindow* w = AsWindow(control);
    if (!w || !w->alive() || !w->control || !w->control->widget) return 0;
    if (!g_deliveries.empty()) {
        Delivery* d = g_deliveries.back();
        if (d->window == w && d->message == message && !d->passed) {
            d->passed = true;
            HandOn(w, d->target, d->event);
            return 0;
        }
    }
    return MadeUpInput(w, message, wParam, lParam);
}

void EnableWindow(HWND window, bool enable) {
    CWindow* w = AsWindow(window);
    if (w && w->alive()) w->frame_->setEnabled(enable);
}

bool IsWindowEnabled(HWND window) {
    CWindow* w = AsWindow(window);
    return w && w->alive() && w->frame_->isEnabled();
}

void ScreenToClient(HWND window, POINT* point) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive() || !point) return;
    const QPoint p = w->InputWidget()->mapFromGlobal(QPoint(point->x, point->y));
    *point = POINT{p.x(), p.y()};
}

void ClientToScreen(HWND window, POINT* point) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive() || !point) return;
    const QPoint p = w->InputWidget()->mapToGlobal(QPoint(point->x, point->y));
    *point = POINT{p.x(), p.y()};
}

int CImageList::Add(const QIcon& icon) {
    icons_.push_back(icon);
    return Count() - 1;
}

int CImageList::AddResource(const std::string& path) {
    return Add(QIcon(QString::fromStdString(path)));
}

QIcon CImageList::Get(int index) const {
    return index >= 0 && index < Count() ? icons_[static_cast<size_t>(index)] : QIcon();
}

void CImageList::Replace(int index, const QIcon& icon) {
    if (index >= 0 && index < Count()) icons_[static_cast<size_t>(index)] = icon;
}

void CImageList::SetCount(int count) {
    icons_.resize(static_cast<size_t>(std::max(count, 0)));
}
