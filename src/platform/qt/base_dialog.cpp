#include "platform/qt/base_dialog.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "platform/qt/window_impl.h"

class CDialogWidget;

// The dialog as a window: messages sent or posted to it go to the object's DialogProc through
// the shared dialog procedure.
class CDialogWindow final : public IWindow {
public:
    CDialogWindow(CBaseDialog* object, HWND parent);
    ~CDialogWindow();

    // Safe from any thread: a dialog's loaders post it image-done.
    void PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        return Dispatch(message, wParam, lParam);
    }
    void UpdateWindow() override;

    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void Command(int id, uint16_t notice) { Dispatch(WM_COMMAND, MAKEWPARAM(id, notice), 0); }

    CBaseDialog* object = nullptr;  // known from WM_INITDIALOG on
    CBaseDialog* creator;
    QPointer<CDialogWidget> widget;
    std::map<int, QWidget*> items;
    bool ended = false;
    bool closeBox = true;
    // What posts from other threads reach, under the lock, until the window goes.
    std::mutex postLock;
    QObject* postTarget = nullptr;

private:
    void Build(const DialogResource& resource);
};

class CDialogWidget : public QDialog {
public:
    CDialogWidget(CDialogWindow* owner, QWidget* parent) : QDialog(parent), owner_(owner) {}

    // Esc (and the close box) ask for Cancel; only EndDialog ends the run.
    void reject() override { owner_->Command(IDCANCEL, BN_CLICKED); }
    void accept() override { owner_->Command(IDOK, BN_CLICKED); }

protected:
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        owner_->Dispatch(WM_SHOWWINDOW, 1, 0);
    }
    void hideEvent(QHideEvent* event) override {
        if (!owner_->ended) owner_->Dispatch(WM_SHOWWINDOW, 0, 0);
        QDialog::hideEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (owner_->closeBox) reject();
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::WindowActivate)
            owner_->Dispatch(WM_ACTIVATE, WA_ACTIVE, 0);
        else if (event->type() == QEvent::WindowDeactivate)
            owner_->Dispatch(WM_ACTIVATE, WA_INACTIVE, 0);
        return QDialog::event(event);
    }

private:
    CDialogWindow* owner_;
};

namespace {

// The dialogs running now, innermost last.
std::vector<CDialogWindow*> g_running;

CDialogWindow* AsDialog(HWND dialog) {
    return dynamic_cast<CDialogWindow*>(dialog);
}

// The shared dialog procedure: it learns the object at initialisation, centres the dialog on
// the screen as it is shown, and hands every message to the object.
LRESULT BaseDialogProc(CDialogWindow* dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SHOWWINDOW && wParam == 1 && dialog->widget) {
        CDialogWidget* widget = dialog->widget;
        QScreen* screen = widget->parentWidget() ? widget->parentWidget()->screen()
                                                 : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->geometry();
            const QSize size = widget->frameGeometry().size();
            widget->move(area.x() + area.width() / 2 - size.width() / 2,
                         area.y() + area.height() / 2 - size.height() / 2);
        }
    }
    // Activation needs nothing more here: the dialog is owned by its parent's window, so the
    // window manager keeps it above that window even in fullscreen.
    return dialog->object ? dialog->object->DialogProc(dialog, message, wParam, lParam) : 0;
}

QWidget* MakeItem(CDialogWindow* dialog, const DialogItem& item, QWidget* parent) {
    QWidget* made = nullptr;
    const QString text = QString::fromStdString(item.text);
    switch (item.kind) {
        case DialogItemKind::kLabel:
            made = new QLabel(text, parent);
            break;
        case DialogItemKind::kText: {
            auto* label = new QLabel(text, parent);
            label->setWordWrap(true);
            made = label;
            break;
        }
        case DialogItemKind::kEdit:
        case DialogItemKind::kReadOnlyEdit: {
            auto* edit = new QLineEdit(text, parent);
            if (item.kind == DialogItemKind::kReadOnlyEdit) {
                edit->setReadOnly(true);
                edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 30);
            } else {
                edit->setMaximumWidth(edit->fontMetrics().averageCharWidth() * 12);
            }
            const int id = item.id;
            QObject::connect(edit, &QLineEdit::textChanged, edit,
                             [dialog, id] { dialog->Command(id, EN_CHANGE); });
            made = edit;
            break;
        }
        case DialogItemKind::kButton:
        case DialogItemKind::kDefaultButton: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(item.kind == DialogItemKind::kDefaultButton);
            button->setAutoDefault(false);
            const int id = item.id;
            QObject::connect(button, &QPushButton::clicked, button,
                             [dialog, id] { dialog->Command(id, BN_CLICKED); });
            made = button;
            break;
        }
        case DialogItemKind::kProgress: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            made = bar;
            break;
        }
    }
    if (item.id) dialog->items[item.id] = made;
    return made;
}

}  // namespace

CDialogWindow::CDialogWindow(CBaseDialog* creatorObject, HWND parent) : creator(creatorObject) {
    QWidget* parentWidget =
        GetDialogWidget(parent) ? GetDialogWidget(parent) : GetWindowWidget(parent);
    widget = new CDialogWidget(this, parentWidget ? parentWidget->window() : nullptr);
    postTarget = widget.data();
    Build(creator->resource_);
}

CDialogWindow::~CDialogWindow() {
    {
        std::lock_guard<std::mutex> lock(postLock);
        postTarget = nullptr;
    }
    delete widget.data();
}

void CDialogWindow::Build(const DialogResource& resource) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (resource.closeBox) flags |= Qt::WindowCloseButtonHint;
    widget->setWindowFlags(flags);
    closeBox = resource.closeBox;
    widget->setWindowTitle(QString::fromStdString(resource.title));
    auto* layout = new QVBoxLayout(widget);
    for (const DialogGroup& group : resource.groups) {
        QWidget* holder = widget;
        auto* rows = new QVBoxLayout;
        if (!group.title.empty()) {
            auto* box = new QGroupBox(QString::fromStdString(group.title), widget);
            box->setLayout(rows);
            layout->addWidget(box);
            holder = box;
        } else {
            layout->addLayout(rows);
        }
        for (const std::vector<DialogItem>& items : group.rows) {
            auto* row = new QHBoxLayout;
            rows->addLayout(row);
            // A row without a long field keeps its items together at the left, a button at its
            // end going to the right edge.
            const bool hasLongField =
                std::any_of(items.begin(), items.end(), [](const DialogItem& item) {
                    return item.kind == DialogItemKind::kReadOnlyEdit ||
                           item.kind == DialogItemKind::kText;
                });
            for (size_t i = 0; i < items.size(); ++i) {
                const bool last = i + 1 == items.size();
                if (last && !hasLongField && items[i].kind == DialogItemKind::kButton)
                    row->addStretch(1);
                row->addWidget(MakeItem(this, items[i], holder),
                               items[i].kind == DialogItemKind::kReadOnlyEdit ? 1 : 0);
                if (last && !hasLongField && items[i].kind != DialogItemKind::kButton)
                    row->addStretch(1);
            }
        }
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (const DialogItem& item : resource.buttons)
        buttons->addWidget(MakeItem(this, item, widget));
    layout->addStretch(1);
    layout->addLayout(buttons);

    const QFontMetrics metrics(widget->font());
    const QSize units(resource.width * metrics.averageCharWidth() / 4,
                      resource.height * metrics.height() / 8);
    widget->resize(units.expandedTo(widget->sizeHint()));
}

void CDialogWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(postLock);
    if (!postTarget) return;
    // A post still queued when the widget goes is dropped with it.
    QMetaObject::invokeMethod(
        postTarget, [this, message, wParam, lParam] { Dispatch(message, wParam, lParam); },
        Qt::QueuedConnection);
}

void CDialogWindow::UpdateWindow() {
    if (widget) widget->update();
}

LRESULT CDialogWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        object = reinterpret_cast<CBaseDialog*>(lParam);
        if (object) object->window_ = this;
    }
    return BaseDialogProc(this, message, wParam, lParam);
}

intptr_t CBaseDialog::DoModal(HWND parent) {
    CDialogWindow dialog(this, parent);
    dialog.Dispatch(WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(this));
    g_running.push_back(&dialog);
    const int code = dialog.widget->exec();
    g_running.pop_back();
    window_ = nullptr;
    return code;
}

void EndDialog(HWND dialog, intptr_t result) {
    CDialogWindow* d = AsDialog(dialog);
    if (!d || !d->widget || d->ended) return;
    d->ended = true;
    d->widget->done(static_cast<int>(result));
}

std::string GetDlgItemText(HWND dialog, int id) {
    QWidget* item = GetDlgItem(dialog, id);
    if (auto* edit = qobject_cast<QLineEdit*>(item)) return edit->text().toStdString();
    if (auto* label = qobject_cast<QLabel*>(item)) return label->text().toStdString();
    if (auto* button = qobject_cast<QPushButton*>(item)) return button->text().toStdString();
    return {};
}

void SetDlgItemText(HWND dialog, int id, const std::string& text) {
    QWidget* item = GetDlgItem(dialog, id);
    const QString value = QString::fromStdString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(item))
        edit->setText(value);
    else if (auto* label = qobject_cast<QLabel*>(item))
        label->setText(value);
    else if (auto* button = qobject_cast<QPushButton*>(item))
        button->setText(value);
}

void SetDlgItemRange(HWND dialog, int id, int low, int high) {
    if (auto* bar = qobject_cast<QProgressBar*>(GetDlgItem(dialog, id))) bar->setRange(low, high);
}

void SetDlgItemPos(HWND dialog, int id, int position) {
    if (auto* bar = qobject_cast<QProgressBar*>(GetDlgItem(dialog, id))) bar->setValue(position);
}

int GetDlgItemPos(HWND dialog, int id) {
    auto* bar = qobject_cast<QProgressBar*>(GetDlgItem(dialog, id));
    return bar ? bar->value() : -1;
}

void SetDlgItemToolTip(HWND dialog, int id, const std::string& text) {
    if (QWidget* item = GetDlgItem(dialog, id)) item->setToolTip(QString::fromStdString(text));
}

QWidget* GetDlgItem(HWND dialog, int id) {
    CDialogWindow* d = AsDialog(dialog);
    if (!d) return nullptr;
    const auto it = d->items.find(id);
    return it == d->items.end() ? nullptr : it->second;
}

QWidget* GetDialogWidget(HWND dialog) {
    CDialogWindow* d = AsDialog(dialog);
    return d ? d->widget.data() : nullptr;
}

HWND GetActiveDialog() {
    return g_running.empty() ? nullptr : g_running.back();
}
