#pragma once

// Inside of the layer's window object; only the layer's own sources include this.

#include <QCursor>
#include <QEvent>
#include <QPointer>
#include <QRegion>
#include <QScrollBar>
#include <QWidget>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/qt/form_window.h"

struct CPaintContext;
class CClientWidget;
class CFrameWidget;

// A posted message on its way through Qt's event queue.
class CMessageEvent : public QEvent {
public:
    static QEvent::Type Type();
    CMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(Type()), message(message), wParam(wParam), lParam(lParam) {}
    // A message that never reached its window still frees what it carries.
    ~CMessageEvent() override;

    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool delivered = false;
};

// The SB_* code of a scroll bar's action (QAbstractSlider::SliderAction), or -1 for none.
int ScrollCodeOf(int sliderAction);

struct ScrollBarState {
    QScrollBar* widget = nullptr;
    int32_t min = 0;
    int32_t max = 0;
    uint32_t page = 0;
    int32_t pos = 0;
    int32_t trackPos = 0;
    bool visible = false;
};

// A Qt control hosted in a window of its own (list view, toolbar, trackbar). The control fills
// the window's client area; its input reaches the window's form first, as messages, and what the
// form passes on with CallWindowProc gets the control's own handling (controls.cpp).
class CControl {
public:
    virtual ~CControl() = default;
    // Around the control's own handling of input: a control that reports its changes as notices
    // collects them here, so that one user action gives one notice per item.
    virtual void BeforeOwnHandling() {}
    virtual void AfterOwnHandling() {}

    QWidget* widget = nullptr;  // the control
    QWidget* input = nullptr;   // where its mouse input lands and its coordinates count from
};

class CWindow final : public IWindow {
public:
    CWindow(HWND parent, const std::string& title, const WindowStyle& style);
    ~CWindow();

    void PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateWindow() override;

    // On the GUI thread: the form's window procedure, or the default one.
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    bool alive() const { return frame_ != nullptr; }
    // Called as the widgets go away, before Qt drops the events still queued for them.
    void WidgetsGone();
    void DestroyWidgets();

    void LayoutChildren();
    void ReportSizeIfChanged();
    void ScrollBarAction(int bar, int action);
    void ScrollBarReleased(int bar);
    void ApplyScrollBar(int bar);

    CBaseForm* form = nullptr;
    CBaseForm* creationForm = nullptr;
    HWND parent = nullptr;
    WindowStyle style;
    CFrameWidget* frame_ = nullptr;
    CClientWidget* client_ = nullptr;
    QWidget* corner_ = nullptr;
    ScrollBarState bars[2];
    std::map<int, uintptr_t> timersByQtId;
    QRegion invalid;  // invalidated and not yet painted
    CPaintContext* painting = nullptr;
    QCursor classCursor;
    // What a top-level window returns to when it leaves fullscreen.
    QRect normalGeometry;
    bool wasMaximized = false;
    // A window manager decorated the window before it went fullscreen.
    bool framedByManager = false;
    // Leaving fullscreen, until the window manager has restored the frame: nothing is painted.
    bool holdingPaints = false;
    // Meanwhile the window still has its fullscreen size, and the manager's is to come.
    bool awaitingManager = false;
    bool fullscreen = false;
    QSize reportedSize{-1, -1};
    QSize reportedClientSize{-1, -1};
    std::unique_ptr<CControl> control;

    // The widget whose coordinates are the window's client coordinates: the control's input
    // area, else the client widget.
    QWidget* InputWidget() const;
    // Tells the form of a changed client size (WM_SIZE), once per size.
    void ReportClientSize();

private:
    std::mutex postLock_;  // posts from workers against the widgets going away
};

CWindow* AsWindow(HWND window);

class CFrameWidget : public QWidget {
public:
    CFrameWidget(CWindow* owner, QWidget* parent);
    ~CFrameWidget() override;
    CWindow* owner;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class CClientWidget : public QWidget {
public:
    CClientWidget(CWindow* owner, QWidget* parent);
    ~CClientWidget() override;
    CWindow* owner;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool IgnoredUnderControl(QEvent* event);
};

bool OnGuiThread();
// A worker's send: queued for the GUI thread, which answers it from its event loop or from
// ProcessSentMessages; the worker waits for the answer.
LRESULT SendFromWorker(CWindow* window, UINT message, WPARAM wParam, LPARAM lParam);
// Answers 0 to every send still waiting for a window that goes away.
void ForgetSentMessagesTo(CWindow* window);

// Qt key to virtual-key code (0 when there is none) and the lParam of a key message.
WPARAM VirtualKeyFromQt(int key);
// The Qt key of a virtual-key code (0 when there is none).
int QtKeyFromVirtual(WPARAM virtualKey);
LPARAM KeyMessageLParam(const QKeyEvent* event, bool up);
WPARAM MouseKeyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
