#include "platform/qt/form_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <set>

#include "image/image.h"
#include "platform/qt/paint_log.h"
#include "platform/qt/window_impl.h"
#include "platform/thread.h"

namespace {

std::set<CWindow*>& Windows() {
    static std::set<CWindow*> windows;
    return windows;
}

CWindow* g_capture = nullptr;
int g_scrollBarExtent = 0;

QRect ToQRect(const RECT& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

RECT ToRect(const QRect& r) {
    return RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

void ProcessSentMessagesOnGuiThread();

}  // namespace

void InitResources() {
    // The program's pictures are compiled into the static GUI library; referencing them here
    // keeps the linker from dropping them.
    Q_INIT_RESOURCE(lumora);
}

// --- posted messages ------------------------------------------------------------------------

QEvent::Type CMessageEvent::Type() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CMessageEvent::~CMessageEvent() {
    // Progress records belong to whoever receives them; one that found no window is freed here.
    if (!delivered && message == WM_IMAGE_PROGRESS)
        delete reinterpret_cast<ProgressRecord*>(lParam);
}

// --- the window object ----------------------------------------------------------------------

CWindow* AsWindow(HWND window) {
    return dynamic_cast<CWindow*>(window);
}

CWindow::CWindow(HWND parentWindow, const std::string& title, const WindowStyle& windowStyle)
    : parent(parentWindow), style(windowStyle) {
    CWindow* parentObject = AsWindow(parentWindow);
    QWidget* parentWidget = nullptr;
    if (parentObject) {
        if (!style.topLevel)
            parentWidget = parentObject->client_;
        else if (style.tool && parentObject->frame_)
            parentWidget = parentObject->frame_->window();
    }
    frame_ = new CFrameWidget(this, parentWidget);
    if (style.topLevel) {
        if (style.tool)
            frame_->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                   Qt::WindowCloseButtonHint);
        frame_->setWindowTitle(QString::fromStdString(title));
    } else {
        // Child windows start at (0, 0) with no size, and are placed by their parent.
        frame_->setGeometry(0, 0, 0, 0);
        reportedSize = QSize(0, 0);
    }
    client_ = new CClientWidget(this, frame_);
    for (int bar : {SB_HORZ, SB_VERT}) {
        auto* widget = new QScrollBar(bar == SB_HORZ ? Qt::Horizontal : Qt::Vertical, frame_);
        widget->setFocusPolicy(Qt::NoFocus);
        widget->hide();
        widget->installEventFilter(frame_);
        QObject::connect(widget, &QAbstractSlider::actionTriggered, frame_,
                         [this, bar](int action) { ScrollBarAction(bar, action); });
        QObject::connect(widget, &QAbstractSlider::sliderReleased, frame_,
                         [this, bar] { ScrollBarReleased(bar); });
        bars[bar].widget = widget;
    }
    corner_ = new QWidget(frame_);
    corner_->setAutoFillBackground(true);
    corner_->hide();
    classCursor = QCursor(Qt::ArrowCursor);
    client_->setCursor(classCursor);
    Windows().insert(this);
}

CWindow::~CWindow() {
    Windows().erase(this);
    if (g_capture == this) g_capture = nullptr;
    DestroyWidgets();
    ForgetSentMessagesTo(this);
}

void CWindow::DestroyWidgets() {
    delete frame_;  // calls WidgetsGone first
}

void CWindow::WidgetsGone() {
    std::lock_guard<std::mutex> lock(postLock_);
    frame_ = nullptr;
    client_ = nullptr;
    corner_ = nullptr;
    bars[SB_HORZ].widget = bars[SB_VERT].widget = nullptr;
    // A hosted control's widgets go with the frame.
    if (control) control->widget = control->input = nullptr;
    timersByQtId.clear();
    if (g_capture == this) g_capture = nullptr;
}

void CWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    auto* event = new CMessageEvent(message, wParam, lParam);
    std::lock_guard<std::mutex> lock(postLock_);
    if (!client_) {
        delete event;
        return;
    }
    QCoreApplication::postEvent(client_, event);
}

LRESULT CWindow::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (OnGuiThread()) return alive() ? Dispatch(message, wParam, lParam) : 0;
    return SendFromWorker(this, message, wParam, lParam);
}

void CWindow::UpdateWindow() {
    if (OnGuiThread()) {
        ::UpdateWindow(this);
        return;
    }
    std::lock_guard<std::mutex> lock(postLock_);
    if (client_)
        QMetaObject::invokeMethod(
            client_, [this] { ::UpdateWindow(this); }, Qt::QueuedConnection);
}

LRESULT CWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (form) return form->WindowProc(this, message, wParam, lParam);
    if (message == WM_CREATE && creationForm)
        return creationForm->WindowProc(this, message, wParam, lParam);
    return DefWindowProc(this, message, wParam, lParam);
}

void CWindow::LayoutChildren() {
    if (!frame_) return;
    const int extent = GetSystemMetrics(SM_CXVSCROLL);
    const int w = frame_->width();
    const int h = frame_->height();
    const bool vertical = bars[SB_VERT].visible;
    const bool horizontal = bars[SB_HORZ].visible;
    const int clientW = std::max(0, w - (vertical ? extent : 0));
    const int clientH = std::max(0, h - (horizontal ? extent : 0));
    client_->setGeometry(0, 0, clientW, clientH);
    bars[SB_VERT].widget->setGeometry(clientW, 0, extent, clientH);
    bars[SB_VERT].widget->setVisible(vertical);
    bars[SB_HORZ].widget->setGeometry(0, clientH, clientW, extent);
    bars[SB_HORZ].widget->setVisible(horizontal);
    corner_->setGeometry(clientW, clientH, extent, extent);
    corner_->setVisible(vertical && horizontal);
    if (control && control->widget) control->widget->setGeometry(0, 0, clientW, clientH);
}

QWidget* CWindow::InputWidget() const {
    return control && control->input ? control->input : client_;
}

void CWindow::ReportSizeIfChanged() {
    if (!frame_ || frame_->size() == reportedSize) return;
    reportedSize = frame_->size();
    ReportClientSize();
}

void CWindow::ReportClientSize() {
    QWidget* inner = InputWidget();
    if (!frame_ || !inner || inner->size() == reportedClientSize) return;
    reportedClientSize = inner->size();
    const WPARAM kind = (style.topLevel && frame_->isMaximized()) ? SIZE_MAXIMIZED : SIZE_RESTORED;
    Dispatch(WM_SIZE, kind, MAKELPARAM(inner->width(), inner->height()));
}

void CWindow::ApplyScrollBar(int bar) {
    ScrollBarState& b = bars[bar];
    if (!b.widget) return;
    const QSignalBlocker blocker(b.widget);
    const int32_t top =
        std::max(b.min, b.max - std::max<int32_t>(static_cast<int32_t>(b.page) - 1, 0));
    b.widget->setRange(b.min, top);
    b.widget->setPageStep(static_cast<int>(std::max<uint32_t>(b.page, 1)));
    const int64_t range = static_cast<int64_t>(b.max) - b.min + 1;
    b.widget->setSingleStep(static_cast<int>(std::max<int64_t>(1, range / 20)));
    b.widget->setValue(b.pos);
}

int ScrollCodeOf(int sliderAction) {
    switch (sliderAction) {
        case QAbstractSlider::SliderSingleStepAdd:
            return SB_LINEDOWN;
        case QAbstractSlider::SliderSingleStepSub:
            return SB_LINEUP;
        case QAbstractSlider::SliderPageStepAdd:
            return SB_PAGEDOWN;
        case QAbstractSlider::SliderPageStepSub:
            return SB_PAGEUP;
        case QAbstractSlider::SliderToMinimum:
            return SB_TOP;
        case QAbstractSlider::SliderToMaximum:
            return SB_BOTTOM;
        case QAbstractSlider::SliderMove:
            return SB_THUMBTRACK;
        default:
            return -1;
    }
}

void CWindow::ScrollBarAction(int bar, int action) {
    ScrollBarState& b = bars[bar];
    const int code = ScrollCodeOf(action);
    if (code < 0 || !b.widget) return;
    if (code == SB_THUMBTRACK) b.trackPos = b.widget->sliderPosition();
    const WPARAM wParam = MAKEWPARAM(code, code == SB_THUMBTRACK ? b.trackPos : 0);
    Dispatch(bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL, wParam, 0);
    // The form decides where the bar stands, as with the desktop API the forms were made for.
    if (b.widget) b.widget->setSliderPosition(b.pos);
}

void CWindow::ScrollBarReleased(int bar) {
    ScrollBarState& b = bars[bar];
    const UINT message = bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL;
    Dispatch(message, MAKEWPARAM(SB_THUMBPOSITION, b.trackPos), 0);
    Dispatch(message, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
}

void WindowDeleter::operator()(CWindow* window) const {
    delete window;
}

HWND AsHandle(const UniqueWindow& window) {
    return window.get();
}

// --- widgets --------------------------------------------------------------------------------

CFrameWidget::CFrameWidget(CWindow* ownerWindow, QWidget* parent)
    : QWidget(parent), owner(ownerWindow) {
    setAttribute(Qt::WA_NoMousePropagation);
}

CFrameWidget::~CFrameWidget() {
    if (owner) owner->WidgetsGone();
}

namespace {

void ReleasePaints(CWindow* w) {
    if (!w->holdingPaints || !w->alive()) return;
    w->holdingPaints = w->awaitingManager = false;
    w->frame_->setUpdatesEnabled(true);  // repaints the whole window once, at its new layout
}

}  // namespace

void CFrameWidget::resizeEvent(QResizeEvent*) {
    owner->LayoutChildren();
    owner->ReportSizeIfChanged();
    ReleasePaints(owner);
}

void CFrameWidget::closeEvent(QCloseEvent* event) {
    // The form decides what closing means.
    event->ignore();
    owner->Dispatch(WM_CLOSE, 0, 0);
}

void CFrameWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isWindow())
        owner->Dispatch(WM_ACTIVATE, isActiveWindow() ? WA_ACTIVE : WA_INACTIVE, 0);
    QWidget::changeEvent(event);
}

bool CFrameWidget::eventFilter(QObject* watched, QEvent* event) {
    // The wheel over a scroll bar is the window's wheel.
    if (event->type() == QEvent::Wheel && owner->client_) {
        QCoreApplication::sendEvent(owner->client_, event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

CClientWidget::CClientWidget(CWindow* ownerWindow, QWidget* parent)
    : QWidget(parent), owner(ownerWindow) {
    if (owner->style.opaque) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    } else {
        setAutoFillBackground(true);
    }
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoMousePropagation);
}

CClientWidget::~CClientWidget() = default;

bool CClientWidget::IgnoredUnderControl(QEvent* event) {
    // Under a hosted control only input the control let pass arrives here; it has been through
    // the window's form already and goes on to the parent windows unanswered.
    if (!owner->control) return false;
    event->ignore();
    return true;
}

bool CClientWidget::event(QEvent* event) {
    if (event->type() == CMessageEvent::Type()) {
        auto* message = static_cast<CMessageEvent*>(event);
        message->delivered = true;
        owner->Dispatch(message->message, message->wParam, message->lParam);
        return true;
    }
    return QWidget::event(event);
}

void CClientWidget::mousePressEvent(QMouseEvent* event) {
    if (IgnoredUnderControl(event)) return;
    const QPoint p = event->position().toPoint();
    UINT message = 0;
    switch (event->button()) {
        case Qt::LeftButton:
            message = WM_LBUTTONDOWN;
            break;
        case Qt::RightButton:
            message = WM_RBUTTONDOWN;
            break;
        case Qt::MiddleButton:
            message = WM_MBUTTONDOWN;
            break;
        default:
            return;
    }
    owner->Dispatch(message, MouseKeyState(event->buttons(), event->modifiers()),
                    MAKELPARAM(p.x(), p.y()));
}

void CClientWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (IgnoredUnderControl(event)) return;
    const QPoint p = event->position().toPoint();
    UINT message = 0;
    switch (event->button()) {
        case Qt::LeftButton:
            message = WM_LBUTTONUP;
            break;
        case Qt::RightButton:
            message = WM_RBUTTONUP;
            break;
        case Qt::MiddleButton:
            message = WM_MBUTTONUP;
            break;
        default:
            return;
    }
    owner->Dispatch(message, MouseKeyState(event->buttons(), event->modifiers()),
                    MAKELPARAM(p.x(), p.y()));
}

void CClientWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (IgnoredUnderControl(event)) return;
    if (!owner->style.doubleClicks) {
        mousePressEvent(event);
        return;
    }
    const QPoint p = event->position().toPoint();
    UINT message = 0;
    switch (event->button()) {
        case Qt::LeftButton:
            message = WM_LBUTTONDBLCLK;
            break;
        case Qt::RightButton:
            message = WM_RBUTTONDBLCLK;
            break;
        case Qt::MiddleButton:
            message = WM_MBUTTONDBLCLK;
            break;
        default:
            return;
    }
    owner->Dispatch(message, MouseKeyState(event->buttons(), event->modifiers()),
                    MAKELPARAM(p.x(), p.y()));
}

void CClientWidget::mouseMoveEvent(QMouseEvent* event) {
    if (IgnoredUnderControl(event)) return;
    const QPoint p = event->position().toPoint();
    owner->Dispatch(WM_MOUSEMOVE, MouseKeyState(event->buttons(), event->modifiers()),
                    MAKELPARAM(p.x(), p.y()));
}

void CClientWidget::wheelEvent(QWheelEvent* event) {
    if (IgnoredUnderControl(event)) return;
    const int delta = std::clamp(event->angleDelta().y(), -32768, 32767);
    if (delta == 0) return;
    const QPoint g = event->globalPosition().toPoint();
    const WPARAM keys = MouseKeyState(event->buttons(), event->modifiers());
    owner->Dispatch(WM_MOUSEWHEEL, MAKEWPARAM(static_cast<int>(keys), delta),
                    MAKELPARAM(g.x(), g.y()));
}

void CClientWidget::keyPressEvent(QKeyEvent* event) {
    if (IgnoredUnderControl(event)) return;
    const WPARAM vk = VirtualKeyFromQt(event->key());
    if (vk) owner->Dispatch(WM_KEYDOWN, vk, KeyMessageLParam(event, false));
}

void CClientWidget::keyReleaseEvent(QKeyEvent* event) {
    if (IgnoredUnderControl(event)) return;
    if (event->isAutoRepeat()) return;
    const WPARAM vk = VirtualKeyFromQt(event->key());
    if (vk) owner->Dispatch(WM_KEYUP, vk, KeyMessageLParam(event, true));
}

void CClientWidget::contextMenuEvent(QContextMenuEvent* event) {
    if (IgnoredUnderControl(event)) return;
    const QPoint g = event->globalPos();
    const LPARAM where = event->reason() == QContextMenuEvent::Keyboard ? MAKELPARAM(-1, -1)
                                                                        : MAKELPARAM(g.x(), g.y());
    owner->Dispatch(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(static_cast<IWindow*>(owner)), where);
}

void CClientWidget::timerEvent(QTimerEvent* event) {
    auto it = owner->timersByQtId.find(event->timerId());
    if (it != owner->timersByQtId.end()) owner->Dispatch(WM_TIMER, it->second, 0);
}

void CClientWidget::focusInEvent(QFocusEvent*) {
    owner->Dispatch(WM_SETFOCUS, 0, 0);
}

void CClientWidget::focusOutEvent(QFocusEvent*) {
    owner->Dispatch(WM_KILLFOCUS, 0, 0);
}

// --- the functions over windows -------------------------------------------------------------

LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) ShowWindow(window, SW_HIDE);
    // A context menu nobody offers is the parent's to offer.
    if (message == WM_CONTEXTMENU)
        if (HWND parent = GetParent(window)) return parent->SendMessage(message, wParam, lParam);
    return 0;
}

UniqueWindow CreateFormWindow(CBaseForm* creationForm, HWND parent, const std::string& title,
                              const WindowStyle& style) {
    WatchPaints();
    UniqueWindow window(new CWindow(parent, title, style));
    window->creationForm = creationForm;
    window->Dispatch(WM_CREATE, 0, 0);
    window->creationForm = nullptr;
    if (style.visible) window->frame_->show();
    return window;
}

void SetWindowForm(HWND window, CBaseForm* form) {
    if (CWindow* w = AsWindow(window)) w->form = form;
}

CBaseForm* GetWindowForm(HWND window) {
    CWindow* w = AsWindow(window);
    return w ? w->form : nullptr;
}

void DestroyWindow(HWND window) {
    if (CWindow* w = AsWindow(window)) w->DestroyWidgets();
}

bool IsWindow(HWND window) {
    CWindow* w = AsWindow(window);
    return w && w->alive();
}

HWND GetParent(HWND window) {
    CWindow* w = AsWindow(window);
    return w ? w->parent : nullptr;
}

void SetParent(HWND child, HWND parent) {
    CWindow* c = AsWindow(child);
    CWindow* p = AsWindow(parent);
    if (!c || !p || !c->alive() || !p->alive() || c->style.topLevel) return;
    const bool shown = !c->frame_->isHidden();
    c->frame_->setParent(p->client_);
    c->parent = parent;
    if (shown) c->frame_->show();
}

void MoveWindow(HWND window, int x, int y, int width, int height) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    w->frame_->setGeometry(x, y, std::max(0, width), std::max(0, height));
    // A hidden widget hears of its new size only when shown; the form hears of it now.
    w->LayoutChildren();
    w->ReportSizeIfChanged();
}

void ShowWindow(HWND window, int command) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    if (command == SW_HIDE)
        w->frame_->hide();
    else if (command == SW_MAXIMIZE && w->style.topLevel) {
        // Without a window manager nobody honours the request; start at the screen's size.
        QScreen* screen = QGuiApplication::primaryScreen();
        if (screen && !w->frame_->isVisible()) w->frame_->setGeometry(screen->availableGeometry());
        w->frame_->showMaximized();
    } else
        w->frame_->show();
}

namespace {

QScreen* ScreenOf(const CWindow& w) {
    QScreen* screen = w.frame_ ? w.frame_->window()->screen() : nullptr;
    return screen ? screen : QGuiApplication::primaryScreen();
}

}  // namespace

void SetWindowFullscreen(HWND window, bool fullscreen) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive() || !w->style.topLevel || w->fullscreen == fullscreen) return;
    w->fullscreen = fullscreen;
    QWidget* frame = w->frame_;
    if (fullscreen) {
        w->wasMaximized = frame->isMaximized();
        w->normalGeometry = w->wasMaximized ? frame->normalGeometry() : frame->geometry();
        w->framedByManager = frame->frameGeometry() != frame->geometry();
        // Without a window manager nobody honours the request; cover the screen ourselves.
        if (QScreen* screen = ScreenOf(*w)) frame->setGeometry(screen->geometry());
        frame->showFullScreen();
        return;
    }
    const QRect covered = frame->geometry();
    frame->showNormal();
    frame->setGeometry(w->normalGeometry);
    if (w->wasMaximized) frame->showMaximized();
    // Nothing is painted until the window has its new size and the panes shown again have laid
    // themselves out (Qt does that from posted events), so the switch reaches the screen as one
    // frame. A window manager (it framed the window before) restores the frame in its own time:
    // then the hold lasts until the new size arrives, or a quarter of a second without one.
    const bool awaitManager = w->framedByManager && frame->geometry() == covered;
    w->holdingPaints = true;
    w->awaitingManager = awaitManager;
    frame->setUpdatesEnabled(false);
    QTimer::singleShot(awaitManager ? 250 : 0, frame, [w] { ReleasePaints(w); });
}

bool AwaitsManagerSize(HWND window) {
    CWindow* w = AsWindow(window);
    return w && w->alive() && w->awaitingManager;
}

RECT GetScreenRect(HWND window) {
    CWindow* w = AsWindow(window);
    QScreen* screen = w ? ScreenOf(*w) : QGuiApplication::primaryScreen();
    return screen ? ToRect(screen->geometry()) : RECT{0, 0, 0, 0};
}

RECT GetAvailableScreenRect(HWND window) {
    CWindow* w = AsWindow(window);
    QScreen* screen = w ? ScreenOf(*w) : QGuiApplication::primaryScreen();
    return screen ? ToRect(screen->availableGeometry()) : RECT{0, 0, 0, 0};
}

bool IsWindowVisible(HWND window) {
    CWindow* w = AsWindow(window);
    return w && w->alive() && w->frame_->isVisible();
}

void SetWindowText(HWND window, const std::string& text) {
    CWindow* w = AsWindow(window);
    if (w && w->alive()) w->frame_->setWindowTitle(QString::fromStdString(text));
}

void SetWindowIcon(HWND window, const std::string& resourcePath) {
    CWindow* w = AsWindow(window);
    if (w && w->alive()) w->frame_->setWindowIcon(QIcon(QString::fromStdString(resourcePath)));
}

bool GetClientRect(HWND window, RECT* rect) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return false;
    QWidget* inner = w->InputWidget();
    *rect = RECT{0, 0, inner->width(), inner->height()};
    return true;
}

bool GetWindowRect(HWND window, RECT* rect) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return false;
    const QPoint origin = w->frame_->mapToGlobal(QPoint(0, 0));
    *rect = RECT{origin.x(), origin.y(), origin.x() + w->frame_->width(),
                 origin.y() + w->frame_->height()};
    return true;
}

void InvalidateRect(HWND window, const RECT* rect) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    const QRect r = (rect ? ToQRect(*rect) : w->client_->rect()).intersected(w->client_->rect());
    if (r.isEmpty()) return;
    w->invalid += r;
    w->client_->update(r);
}

void ValidateRect(HWND window, const RECT* rect) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    if (rect)
        w->invalid = w->invalid.subtracted(QRegion(ToQRect(*rect)));
    else
        w->invalid = QRegion();
}

bool GetUpdateRect(HWND window, RECT* rect) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return false;
    const QRect r = w->invalid.boundingRect().intersected(w->client_->rect());
    if (rect) *rect = r.isEmpty() ? RECT{0, 0, 0, 0} : ToRect(r);
    return !r.isEmpty();
}

void UpdateWindow(HWND window) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive() || w->invalid.isEmpty() || !w->client_->isVisible()) return;
    w->client_->repaint(w->invalid);
}

void ScrollWindow(HWND window, int dx, int dy, const RECT* clip) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive() || (dx == 0 && dy == 0)) return;
    const QRect area = (clip ? ToQRect(*clip) : w->client_->rect()).intersected(w->client_->rect());
    if (area.isEmpty()) return;
    // Pending invalid parts move with the pixels; the uncovered strip becomes invalid.
    const QRegion inside = w->invalid.intersected(area);
    const QRegion outside = w->invalid.subtracted(QRegion(area));
    const QRegion uncovered = QRegion(area).subtracted(QRegion(area.translated(dx, dy)));
    w->invalid = outside + inside.translated(dx, dy).intersected(area) + uncovered;
    w->client_->scroll(dx, dy, area);
}

int SetScrollInfo(HWND window, int bar, const SCROLLINFO& info, bool) {
    CWindow* w = AsWindow(window);
    if (!w || (bar != SB_HORZ && bar != SB_VERT)) return 0;
    ScrollBarState& b = w->bars[bar];
    if (info.fMask & SIF_RANGE) {
        b.min = info.nMin;
        b.max = std::max(info.nMin, info.nMax);
    }
    const int64_t range = static_cast<int64_t>(b.max) - b.min + 1;
    if (info.fMask & SIF_PAGE) b.page = static_cast<uint32_t>(std::min<int64_t>(info.nPage, range));
    if (info.fMask & SIF_POS) b.pos = info.nPos;
    const int64_t last =
        static_cast<int64_t>(b.max) - std::max<int64_t>(static_cast<int64_t>(b.page) - 1, 0);
    b.pos = static_cast<int32_t>(std::clamp<int64_t>(b.pos, b.min, std::max<int64_t>(b.min, last)));
    const bool visible =
        b.max > b.min && static_cast<int64_t>(b.page) <= static_cast<int64_t>(b.max) - b.min;
    w->ApplyScrollBar(bar);
    if (visible != b.visible) {
        b.visible = visible;
        w->LayoutChildren();
    }
    return b.pos;
}

bool GetScrollInfo(HWND window, int bar, SCROLLINFO* info) {
    CWindow* w = AsWindow(window);
    if (!w || (bar != SB_HORZ && bar != SB_VERT) || !info) return false;
    const ScrollBarState& b = w->bars[bar];
    if (info->fMask & SIF_RANGE) {
        info->nMin = b.min;
        info->nMax = b.max;
    }
    if (info->fMask & SIF_PAGE) info->nPage = b.page;
    if (info->fMask & SIF_POS) info->nPos = b.pos;
    if (info->fMask & SIF_TRACKPOS) info->nTrackPos = b.trackPos;
    return true;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXVSCROLL:
        case SM_CYHSCROLL:
            if (g_scrollBarExtent > 0) return g_scrollBarExtent;
            return qApp ? QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 16;
        case SM_CXSCREEN:
        case SM_CYSCREEN: {
            QScreen* screen = QGuiApplication::primaryScreen();
            if (!screen) return 0;
            return index == SM_CXSCREEN ? screen->geometry().width() : screen->geometry().height();
        }
        default:
            return 0;
    }
}

void SetScrollBarExtent(int pixels) {
    g_scrollBarExtent = pixels;
}

void SetTimer(HWND window, uintptr_t id, unsigned milliseconds) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    KillTimer(window, id);
    const int qtId = w->client_->startTimer(static_cast<int>(milliseconds));
    if (qtId) w->timersByQtId[qtId] = id;
}

void KillTimer(HWND window, uintptr_t id) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    for (auto it = w->timersByQtId.begin(); it != w->timersByQtId.end();) {
        if (it->second == id) {
            w->client_->killTimer(it->first);
            it = w->timersByQtId.erase(it);
        } else {
            ++it;
        }
    }
}

void SetFocus(HWND window) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    QWidget* target = w->control && w->control->widget ? w->control->widget : w->client_;
    target->setFocus(Qt::OtherFocusReason);
}

HWND GetFocus() {
    // A hosted control, or a part of it, has the focus for its window.
    for (QWidget* widget = QApplication::focusWidget(); widget; widget = widget->parentWidget())
        if (auto* client = dynamic_cast<CClientWidget*>(widget)) return client->owner;
    return nullptr;
}

void SetCapture(HWND window) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    if (g_capture && g_capture != w) ReleaseCapture();
    g_capture = w;
    // Qt already sends every move to the widget a button went down in; an explicit grab is
    // only needed (and only possible) on a visible window.
    if (w->InputWidget()->isVisible() && QApplication::mouseButtons() == Qt::NoButton)
        w->InputWidget()->grabMouse();
}

void ReleaseCapture() {
    if (!g_capture) return;
    CWindow* w = g_capture;
    g_capture = nullptr;
    if (w->alive() && QWidget::mouseGrabber() == w->InputWidget()) w->InputWidget()->releaseMouse();
}

HWND GetCapture() {
    return g_capture;
}

void SetClassCursor(HWND window, HCURSOR cursor) {
    CWindow* w = AsWindow(window);
    if (!w || !cursor) return;
    w->classCursor = *cursor;
    if (w->alive()) w->InputWidget()->setCursor(*cursor);
}

HCURSOR GetClassCursor(HWND window) {
    CWindow* w = AsWindow(window);
    return w ? &w->classCursor : nullptr;
}

void SetCursor(HWND window, HCURSOR cursor) {
    CWindow* w = AsWindow(window);
    if (w && w->alive() && cursor) w->InputWidget()->setCursor(*cursor);
}

void ShowCursor(HWND window, bool show) {
    CWindow* w = AsWindow(window);
    if (w && w->alive())
        w->InputWidget()->setCursor(show ? w->classCursor : QCursor(Qt::BlankCursor));
}

void PostQuitMessage(int exitCode) {
    QCoreApplication::exit(exitCode);
}

QWidget* GetWindowWidget(HWND window) {
    CWindow* w = AsWindow(window);
    return w ? w->frame_ : nullptr;
}

QWidget* GetClientWidget(HWND window) {
    CWindow* w = AsWindow(window);
    return w ? w->client_ : nullptr;
}

void InitPlatform() {
    static bool done = false;
    if (done) return;
    done = true;
    InitResources();
    SetWaitHook(&ProcessSentMessagesOnGuiThread);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QObject::connect(app, &QGuiApplication::applicationStateChanged, app,
                         [](Qt::ApplicationState state) {
                             const std::set<CWindow*> windows = Windows();
                             for (CWindow* w : windows)
                                 if (w->style.topLevel && w->alive())
                                     w->Dispatch(WM_ACTIVATEAPP, state == Qt::ApplicationActive, 0);
                         });
    }
}

namespace {

void ProcessSentMessagesOnGuiThread() {
    if (QCoreApplication::instance() && OnGuiThread()) ProcessSentMessages();
}

}  // namespace
