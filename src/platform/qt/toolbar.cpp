#include "platform/qt/toolbar.h"

#include <QHelpEvent>
#include <QLayout>
#include <QPointer>
#include <QSlider>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <map>

#include "platform/qt/control_window.h"

namespace {

class CToolbarControl;

// A button whose pressed mark is set by the program alone.
class CToolbarButton : public QToolButton {
public:
    CToolbarButton(CToolbarControl* owner, int command) : owner_(owner), command_(command) {
        setCheckable(true);
        setAutoRaise(true);
        setFocusPolicy(Qt::NoFocus);
    }
    int command() const { return command_; }

protected:
    void nextCheckState() override {}
    bool event(QEvent* event) override;

private:
    CToolbarControl* owner_;
    int command_;
};

class CToolbarControl : public CControl {
public:
    // The text of a button's tooltip, asked from the owner now.
    QString TipText(int command) const {
        if (!tipOwner) return {};
        NMTTDISPINFO info;
        info.hdr = NMHDR{self, static_cast<uintptr_t>(command), TTN_GETDISPINFO};
        tipOwner->SendMessage(WM_NOTIFY, static_cast<WPARAM>(command),
                              reinterpret_cast<LPARAM>(&info));
        // The tooltip's own buffer holds 79 characters.
        std::string text = info.lpszText ? std::string(info.lpszText) : std::string(info.szText);
        if (text.size() > 79) text.resize(79);
        return QString::fromStdString(text);
    }

    void ShowTip(CToolbarButton* button, const QPoint& global) {
        const QString text = TipText(button->command());
        if (text.isEmpty()) {
            QToolTip::hideText();
            return;
        }
        tipButton = button;
        tipPosition = global;
        QToolTip::showText(global, text, button);
    }

    HWND self = nullptr;
    HWND tipOwner = nullptr;
    QToolBar* bar = nullptr;
    const CImageList* images = nullptr;
    std::map<int, CToolbarButton*> buttons;
    std::map<int, int> imageOf;
    QPointer<CToolbarButton> tipButton;
    QPoint tipPosition;
};

bool CToolbarButton::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        owner_->ShowTip(this, static_cast<QHelpEvent*>(event)->globalPos());
        return true;
    }
    return QToolButton::event(event);
}

CToolbarControl* ToolbarOf(HWND toolbar) {
    CWindow* w = AsWindow(toolbar);
    if (!w || !w->alive() || !w->control || !w->control->widget) return nullptr;
    return dynamic_cast<CToolbarControl*>(w->control.get());
}

class CTrackbarControl : public CControl {
public:
    QSlider* slider = nullptr;
};

QSlider* SliderOf(HWND trackbar) {
    CWindow* w = AsWindow(trackbar);
    if (!w || !w->alive() || !w->control || !w->control->widget) return nullptr;
    auto* c = dynamic_cast<CTrackbarControl*>(w->control.get());
    return c ? c->slider : nullptr;
}

int TrackbarCode(int action) {
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            return TB_LINEDOWN;
        case QAbstractSlider::SliderSingleStepSub:
            return TB_LINEUP;
        case QAbstractSlider::SliderPageStepAdd:
            return TB_PAGEDOWN;
        case QAbstractSlider::SliderPageStepSub:
            return TB_PAGEUP;
        case QAbstractSlider::SliderToMinimum:
            return TB_TOP;
        case QAbstractSlider::SliderToMaximum:
            return TB_BOTTOM;
        case QAbstractSlider::SliderMove:
            return TB_THUMBTRACK;
        default:
            return -1;
    }
}

}  // namespace

UniqueWindow CreateToolbar(HWND parent) {
    auto control = std::make_unique<CToolbarControl>();
    CToolbarControl* c = control.get();
    c->bar = new QToolBar();
    c->bar->setIconSize(QSize(17, 17));
    c->bar->setMovable(false);
    c->bar->setFloatable(false);
    c->bar->setContentsMargins(3, 0, 0, 0);
    control->widget = c->bar;
    UniqueWindow window = CreateControlWindow(parent, std::move(control));
    c->self = window.get();
    return window;
}

void Toolbar_SetImageList(HWND toolbar, const CImageList* images) {
    CToolbarControl* c = ToolbarOf(toolbar);
    if (!c) return;
    c->images = images;
    for (auto& [command, button] : c->buttons)
        button->setIcon(images ? images->Get(c->imageOf[command]) : QIcon());
}

void Toolbar_AddButtons(HWND toolbar, const std::vector<TBBUTTON>& buttons) {
    CToolbarControl* c = ToolbarOf(toolbar);
    if (!c) return;
    CWindow* w = AsWindow(toolbar);
    for (const TBBUTTON& b : buttons) {
        if (b.fsStyle & BTNS_SEP) {
            c->bar->addSeparator();
            continue;
        }
        auto* button = new CToolbarButton(c, b.idCommand);
        c->buttons[b.idCommand] = button;
        c->imageOf[b.idCommand] = b.iBitmap;
        if (c->images) button->setIcon(c->images->Get(b.iBitmap));
        c->bar->addWidget(button);
        WatchControlInput(w, button);
        const int command = b.idCommand;
        QObject::connect(button, &QToolButton::clicked, button, [c, command] {
            if (HWND parent = GetParent(c->self))
                parent->SendMessage(WM_COMMAND, MAKEWPARAM(command, 0),
                                    reinterpret_cast<LPARAM>(c->self));
        });
        Toolbar_SetState(toolbar, b.idCommand, b.fsState);
    }
}

bool Toolbar_SetState(HWND toolbar, int command, uint8_t state) {
    CToolbarControl* c = ToolbarOf(toolbar);
    if (!c) return false;
    auto it = c->buttons.find(command);
    if (it == c->buttons.end()) return false;
    CToolbarButton* button = it->second;
    button->setEnabled(state & TBSTATE_ENABLED);
    button->setChecked(state & TBSTATE_PRESSED);
    if (!(state & TBSTATE_PRESSED) && button->isDown()) button->setDown(false);
    return true;
}

int Toolbar_GetState(HWND toolbar, int command) {
    CToolbarControl* c = ToolbarOf(toolbar);
    if (!c) return -1;
    auto it = c->buttons.find(command);
    if (it == c->buttons.end()) return -1;
    const CToolbarButton* button = it->second;
    int state = 0;
    if (button->isEnabled()) state |= TBSTATE_ENABLED;
    if (button->isChecked() || button->isDown()) state |= TBSTATE_PRESSED;
    return state;
}

bool Toolbar_GetRect(HWND toolbar, int command, RECT* rect) {
    CToolbarControl* c = ToolbarOf(toolbar);
    if (!c || !rect) return false;
    auto it = c->buttons.find(command);
    if (it == c->buttons.end()) return false;
    // Laid out now, even while the toolbar is hidden.
    if (c->bar->layout()) c->bar->layout()->activate();
    const QRect r(it->second->mapTo(c->bar, QPoint(0, 0)), it->second->size());
    *rect = RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    return true;
}

int Toolbar_GetButtonHeight(HWND toolbar) {
    CToolbarControl* c = ToolbarOf(toolbar);
    if (!c || c->buttons.empty()) return 0;
    return c->buttons.begin()->second->sizeHint().height();
}

void Toolbar_SetTooltipOwner(HWND toolbar, HWND owner) {
    if (CToolbarControl* c = ToolbarOf(toolbar)) c->tipOwner = owner;
}

void Toolbar_UpdateTooltip(HWND toolbar) {
    CToolbarControl* c = ToolbarOf(toolbar);
    if (c && c->tipButton && QToolTip::isVisible()) c->ShowTip(c->tipButton, c->tipPosition);
}

UniqueWindow CreateTrackbar(HWND parent, HWND reportTo) {
    auto control = std::make_unique<CTrackbarControl>();
    CTrackbarControl* c = control.get();
    c->slider = new QSlider(Qt::Horizontal);
    c->slider->setTickPosition(QSlider::NoTicks);
    c->slider->setFocusPolicy(Qt::NoFocus);
    control->widget = c->slider;
    UniqueWindow window = CreateControlWindow(parent, std::move(control));
    HWND self = window.get();
    QObject::connect(
        c->slider, &QAbstractSlider::actionTriggered, c->slider, [c, self, reportTo](int action) {
            const int code = TrackbarCode(action);
            if (code < 0 || !reportTo) return;
            reportTo->SendMessage(WM_HSCROLL, MAKEWPARAM(code, c->slider->sliderPosition()),
                                  reinterpret_cast<LPARAM>(self));
        });
    QObject::connect(c->slider, &QAbstractSlider::sliderReleased, c->slider, [c, self, reportTo] {
        if (!reportTo) return;
        reportTo->SendMessage(WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, c->slider->value()),
                              reinterpret_cast<LPARAM>(self));
        reportTo->SendMessage(WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                              reinterpret_cast<LPARAM>(self));
    });
    return window;
}

void Trackbar_SetRange(HWND trackbar, int minimum, int maximum) {
    if (QSlider* slider = SliderOf(trackbar)) slider->setRange(minimum, maximum);
}

void Trackbar_SetPos(HWND trackbar, int position) {
    if (QSlider* slider = SliderOf(trackbar)) {
        const QSignalBlocker quiet(slider);
        slider->setValue(position);
        slider->setSliderPosition(position);
    }
}

int Trackbar_GetPos(HWND trackbar) {
    QSlider* slider = SliderOf(trackbar);
    return slider ? slider->sliderPosition() : 0;
}

void SetToolTipText(HWND window, const std::string& text) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    QWidget* target = w->control && w->control->widget ? w->control->widget : w->client_;
    target->setToolTip(QString::fromStdString(text));
}
