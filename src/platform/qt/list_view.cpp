#include "platform/qt/list_view.h"

#include <QAbstractListModel>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QListView>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <map>

#include "platform/qt/control_window.h"

namespace {

struct Item {
    std::string text;
    QString shown;
    int image = 0;
    LPARAM value = 0;
};

class CListModel : public QAbstractListModel {
public:
    explicit CListModel(QObject* parent) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(items.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount({})) return {};
        const Item& item = items[static_cast<size_t>(index.row())];
        switch (role) {
            case Qt::DisplayRole:
                return item.shown;
            case Qt::DecorationRole:
                return images ? images->Get(item.image) : QIcon();
            case Qt::ToolTipRole:
                return Fits(item) ? QVariant() : QVariant(item.shown);
            default:
                return {};
        }
    }

    void Insert(int row, Item item) {
        beginInsertRows({}, row, row);
        items.insert(items.begin() + row, std::move(item));
        endInsertRows();
    }
    void Remove(int row) {
        beginRemoveRows({}, row, row);
        items.erase(items.begin() + row);
        endRemoveRows();
    }
    void Clear() {
        beginResetModel();
        items.clear();
        endResetModel();
    }
    void Changed(int row) { emit dataChanged(index(row), index(row)); }

    std::vector<Item> items;
    const CImageList* images = nullptr;
    QListView* view = nullptr;

private:
    bool Fits(const Item& item) const {
        if (!view) return true;
        const int room = view->viewport()->width() - view->iconSize().width() - 12;
        return QFontMetrics(view->font()).horizontalAdvance(item.shown) <= room;
    }
};

// Every item as wide as the column; the view stretches narrower items to its own width.
class CColumnDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        // Icon view: every item as wide as its cell, so long names are shortened, not spilled.
        size.setWidth(cellWidth > 0 ? cellWidth : columnWidth);
        return size;
    }
    void InitOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
        initStyleOption(option, index);
    }
    int columnWidth = 0;
    int cellWidth = 0;
};

class CListControl : public CControl {
public:
    void BeforeOwnHandling() override { ++depth; }
    void AfterOwnHandling() override {
        if (--depth == 0) Notify();
    }

    // Selection or focus changed: tell the parent now, or once the control's handling ends.
    void Changed() {
        if (quiet == 0 && depth == 0) Notify();
    }

    std::map<int, UINT> Current() const {
        std::map<int, UINT> states;
        for (const QItemSelectionRange& range : view->selectionModel()->selection())
            for (int row = range.top(); row <= range.bottom(); ++row) states[row] |= LVIS_SELECTED;
        const QModelIndex current = view->selectionModel()->currentIndex();
        if (current.isValid()) states[current.row()] |= LVIS_FOCUSED;
        return states;
    }

    // Takes the states as they are without telling anyone (items inserted or removed).
    void Resync() { known = Current(); }

    void Notify() {
        const std::map<int, UINT> now = Current();
        struct Change {
            int row;
            UINT before;
            UINT after;
        };
        std::vector<Change> losses, gains;
        auto note = [&](int row, UINT before, UINT after) {
            if (before == after) return;
            ((after & ~before) ? gains : losses).push_back({row, before, after});
        };
        auto k = known.begin();
        auto n = now.begin();
        while (k != known.end() || n != now.end()) {
            if (n == now.end() || (k != known.end() && k->first < n->first)) {
                note(k->first, k->second, 0);
                ++k;
            } else if (k == known.end() || n->first < k->first) {
                note(n->first, 0, n->second);
                ++n;
            } else {
                note(n->first, k->second, n->second);
                ++k;
                ++n;
            }
        }
        known = now;
        HWND parent = GetParent(self);
        if (!parent) return;
        for (const auto* list : {&losses, &gains}) {
            for (const Change& c : *list) {
                if (c.row >= static_cast<int>(model->items.size())) continue;
                NMLISTVIEW notice;
                notice.hdr = NMHDR{self, 0, LVN_ITEMCHANGED};
                notice.iItem = c.row;
                notice.uNewState = c.after;
                notice.uOldState = c.before;
                notice.uChanged = LVIF_STATE;
                notice.lParam = model->items[static_cast<size_t>(c.row)].value;
                parent->SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notice));
            }
        }
    }

    void Tell(int32_t code, int row) {
        HWND parent = GetParent(self);
        if (!parent) return;
        NMLISTVIEW notice;
        notice.hdr = NMHDR{self, 0, code};
        notice.iItem = row;
        parent->SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notice));
    }

    HWND self = nullptr;
    QListView* view = nullptr;
    CListModel* model = nullptr;
    CColumnDelegate* delegate = nullptr;
    std::map<int, UINT> known;
    int depth = 0;
    int quiet = 0;
    bool enterPressed = false;
    bool iconView = false;
    bool paintNoticeQueued = false;
    COLORREF background = 0xFFFFFF;
};

CListControl* ListOf(HWND list) {
    CWindow* w = AsWindow(list);
    if (!w || !w->alive() || !w->control || !w->control->widget) return nullptr;
    return dynamic_cast<CListControl*>(w->control.get());
}

bool ValidRow(const CListControl* c, int index) {
    return index >= 0 && index < static_cast<int>(c->model->items.size());
}

// The view with the Enter key noted, so that activation by Enter can be told from a click.
class CListWidget : public QListView {
public:
    explicit CListWidget(CListControl* control) : control_(control) {}

    // Where the view draws the icon and the text of an item, from the style that draws them.
    QRect PartRect(const QModelIndex& index, QStyle::SubElement part) const {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        control_->delegate->InitOption(&option, index);
        return style()->subElementRect(part, &option, this);
    }

    // The icon's place in its item: in the icon view every item has the same size and its icon
    // at the same place above the text, so the style lays it out once per item size instead of
    // once per item, which over thousands of items on every paint held up the event loop.
    QRect IconRect(const QModelIndex& index) const {
        const QRect item = visualRect(index);
        const CListModel* model = control_->model;
        const size_t row = static_cast<size_t>(index.row());
        const bool hasIcon = model->images && row < model->items.size() &&
                             !model->images->Get(model->items[row].image).isNull();
        if (!control_->iconView || !hasIcon)
            return PartRect(index, QStyle::SE_ItemViewItemDecoration);
        if (item.size() != iconOfSize_ || iconSize() != iconSizeUsed_) {
            const QRect icon = PartRect(index, QStyle::SE_ItemViewItemDecoration);
            iconOfSize_ = item.size();
            iconSizeUsed_ = iconSize();
            iconInItem_ = icon.translated(-item.topLeft());
        }
        return iconInItem_.translated(item.topLeft());
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        control_->enterPressed = enter;
        QListView::keyPressEvent(event);
        control_->enterPressed = false;
    }

    void paintEvent(QPaintEvent* event) override {
        QListView::paintEvent(event);
        CListControl* c = control_;
        if (!c->iconView || c->paintNoticeQueued) return;
        // After the paint, not inside it: the form may change items, which paints again.
        c->paintNoticeQueued = true;
        QMetaObject::invokeMethod(
            this,
            [c] {
                c->paintNoticeQueued = false;
                if (c->self) c->self->SendMessage(WM_PAINT, 0, 0);
            },
            Qt::QueuedConnection);
    }

private:
    CListControl* control_;
    mutable QSize iconOfSize_;
    mutable QSize iconSizeUsed_;
    mutable QRect iconInItem_;
};

}  // namespace

namespace {

UniqueWindow MakeListView(HWND parent, int iconSize) {
    auto control = std::make_unique<CListControl>();
    CListControl* c = control.get();
    auto* view = new CListWidget(c);
    c->view = view;
    c->model = new CListModel(view);
    c->model->view = view;
    c->delegate = new CColumnDelegate(view);
    view->setModel(c->model);
    view->setItemDelegate(c->delegate);
    view->setUniformItemSizes(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    if (iconSize > 0) {
        c->iconView = true;
        view->setViewMode(QListView::IconMode);
        view->setMovement(QListView::Static);
        view->setResizeMode(QListView::Adjust);
        view->setFlow(QListView::LeftToRight);
        view->setWrapping(true);
        view->setWordWrap(false);
        view->setIconSize(QSize(iconSize, iconSize));
        view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setTextElideMode(Qt::ElideMiddle);
        c->delegate->cellWidth = iconSize;
    } else {
        view->setIconSize(QSize(17, 17));
        view->setTextElideMode(Qt::ElideRight);
    }
    view->viewport()->setMouseTracking(true);
    view->setFrameShape(QFrame::StyledPanel);
    control->widget = view;
    control->input = view->viewport();

    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view,
                     [c] { c->Changed(); });
    QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, view,
                     [c] { c->Changed(); });
    QObject::connect(view, &QAbstractItemView::doubleClicked, view,
                     [c](const QModelIndex& index) { c->Tell(NM_DBLCLK, index.row()); });
    QObject::connect(view, &QAbstractItemView::activated, view, [c](const QModelIndex& index) {
        if (c->enterPressed) c->Tell(NM_RETURN, index.row());
    });

    if (c->iconView) {
        // Only the user's own moves of the bar are scroll messages; the position is already the
        // new one when the form hears of it.
        QObject::connect(view->verticalScrollBar(), &QAbstractSlider::actionTriggered, view,
                         [c](int action) {
                             const int known = ScrollCodeOf(action);
                             const int code = known < 0 ? SB_THUMBTRACK : known;
                             if (c->self) c->self->SendMessage(WM_VSCROLL, MAKEWPARAM(code, 0), 0);
                         });
    }

    UniqueWindow window = CreateControlWindow(parent, std::move(control));
    c->self = window.get();
    return window;
}

}  // namespace

UniqueWindow CreateListView(HWND parent) {
    return MakeListView(parent, 0);
}

UniqueWindow CreateIconListView(HWND parent, int iconSize) {
    return MakeListView(parent, std::max(iconSize, 1));
}

void ListView_SetImageList(HWND list, const CImageList* images) {
    if (CListControl* c = ListOf(list)) {
        c->model->images = images;
        c->view->viewport()->update();
    }
}

int ListView_InsertItem(HWND list, int index, const std::string& text, int image, LPARAM value) {
    CListControl* c = ListOf(list);
    if (!c) return -1;
    const int count = static_cast<int>(c->model->items.size());
    const int row = index < 0 || index > count ? count : index;
    Item item;
    item.text = text;
    item.shown = QFile::decodeName(QByteArray::fromStdString(text));
    item.image = image;
    item.value = value;
    ++c->quiet;
    c->model->Insert(row, std::move(item));
    --c->quiet;
    // Rows after it moved down with their states.
    if (!c->known.empty()) c->Resync();
    return row;
}

bool ListView_SetItemText(HWND list, int index, const std::string& text) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return false;
    Item& item = c->model->items[static_cast<size_t>(index)];
    item.text = text;
    item.shown = QFile::decodeName(QByteArray::fromStdString(text));
    c->model->Changed(index);
    return true;
}

std::string ListView_GetItemText(HWND list, int index) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return {};
    return c->model->items[static_cast<size_t>(index)].text;
}

LPARAM ListView_GetItemParam(HWND list, int index) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return 0;
    return c->model->items[static_cast<size_t>(index)].value;
}

int ListView_GetItemCount(HWND list) {
    CListControl* c = ListOf(list);
    return c ? static_cast<int>(c->model->items.size()) : 0;
}

bool ListView_DeleteItem(HWND list, int index) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return false;
    ++c->quiet;
    c->model->Remove(index);
    --c->quiet;
    c->Resync();
    return true;
}

void ListView_DeleteAllItems(HWND list) {
    CListControl* c = ListOf(list);
    if (!c) return;
    ++c->quiet;
    c->model->Clear();
    --c->quiet;
    c->known.clear();
}

void ListView_SetItemState(HWND list, int index, UINT state, UINT mask) {
    CListControl* c = ListOf(list);
    if (!c || (index != -1 && !ValidRow(c, index))) return;
    QItemSelectionModel* selection = c->view->selectionModel();
    c->BeforeOwnHandling();
    if (index == -1) {
        if (mask & LVIS_SELECTED) {
            if (state & LVIS_SELECTED)
                c->view->selectAll();
            else
                selection->clearSelection();
        }
        if ((mask & LVIS_FOCUSED) && !(state & LVIS_FOCUSED))
            selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    } else {
        const QModelIndex item = c->model->index(index);
        if (mask & LVIS_SELECTED)
            selection->select(item, (state & LVIS_SELECTED) ? QItemSelectionModel::Select
                                                            : QItemSelectionModel::Deselect);
        if (mask & LVIS_FOCUSED) {
            if (state & LVIS_FOCUSED)
                selection->setCurrentIndex(item, QItemSelectionModel::NoUpdate);
            else if (selection->currentIndex() == item)
                selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
    }
    c->AfterOwnHandling();
}

UINT ListView_GetItemState(HWND list, int index, UINT mask) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return 0;
    const QModelIndex item = c->model->index(index);
    UINT state = 0;
    if (c->view->selectionModel()->isSelected(item)) state |= LVIS_SELECTED;
    if (c->view->selectionModel()->currentIndex() == item) state |= LVIS_FOCUSED;
    return state & mask;
}

int ListView_GetNextItem(HWND list, int start, UINT flags) {
    CListControl* c = ListOf(list);
    if (!c) return -1;
    const int count = static_cast<int>(c->model->items.size());
    for (int row = start + 1; row < count; ++row) {
        const UINT state = ListView_GetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED);
        if ((flags & LVNI_SELECTED) && !(state & LVIS_SELECTED)) continue;
        if ((flags & LVNI_FOCUSED) && !(state & LVIS_FOCUSED)) continue;
        return row;
    }
    return -1;
}

int ListView_GetSelectedCount(HWND list) {
    CListControl* c = ListOf(list);
    if (!c) return 0;
    int count = 0;
    for (const QItemSelectionRange& range : c->view->selectionModel()->selection())
        count += range.height();
    return count;
}

int ListView_HitTest(HWND list, POINT point) {
    CListControl* c = ListOf(list);
    if (!c) return -1;
    const QPoint p(point.x, point.y);
    const QModelIndex item = c->view->indexAt(p);
    if (!item.isValid()) return -1;
    if (c->iconView) {
        auto* view = static_cast<CListWidget*>(c->view);
        if (!view->PartRect(item, QStyle::SE_ItemViewItemDecoration).contains(p) &&
            !view->PartRect(item, QStyle::SE_ItemViewItemText).contains(p))
            return -1;
    }
    return item.row();
}

bool ListView_GetItemRect(HWND list, int index, RECT* rect, int part) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index) || !rect) return false;
    const QModelIndex item = c->model->index(index);
    auto* view = static_cast<CListWidget*>(c->view);
    QRect r = view->visualRect(item);
    if (part == LVIR_ICON)
        r = view->IconRect(item);
    else if (part == LVIR_LABEL)
        r = view->PartRect(item, QStyle::SE_ItemViewItemText);
    *rect = RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    return true;
}

bool ListView_SetItemImage(HWND list, int index, int image) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return false;
    c->model->items[static_cast<size_t>(index)].image = image;
    c->model->Changed(index);
    return true;
}

int ListView_GetItemImage(HWND list, int index) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return 0;
    return c->model->items[static_cast<size_t>(index)].image;
}

bool ListView_SetItemParam(HWND list, int index, LPARAM value) {
    CListControl* c = ListOf(list);
    if (!c || !ValidRow(c, index)) return false;
    c->model->items[static_cast<size_t>(index)].value = value;
    return true;
}

void ListView_SetItemCount(HWND list, int count) {
    if (CListControl* c = ListOf(list))
        c->model->items.reserve(static_cast<size_t>(std::max(count, 0)));
}

void ListView_SetIconSpacing(HWND list, int width, int height) {
    CListControl* c = ListOf(list);
    if (!c) return;
    c->delegate->cellWidth = std::max(width - 8, 1);
    c->view->setGridSize(QSize(width, height));
}

void ListView_SetBkColor(HWND list, COLORREF colour) {
    CListControl* c = ListOf(list);
    if (!c) return;
    c->background = colour;
    const QColor base(GetRValue(colour), GetGValue(colour), GetBValue(colour));
    QPalette palette = c->view->palette();
    palette.setColor(QPalette::Base, base);
    // The names stay readable on a dark background.
    palette.setColor(QPalette::Text, base.lightness() < 128 ? Qt::white : Qt::black);
    c->view->setPalette(palette);
    c->view->viewport()->update();
}

COLORREF ListView_GetBkColor(HWND list) {
    CListControl* c = ListOf(list);
    return c ? c->background : 0;
}

int ListView_GetScrollPos(HWND list) {
    CListControl* c = ListOf(list);
    return c ? c->view->verticalScrollBar()->sliderPosition() : 0;
}

void ListView_EnsureVisible(HWND list, int index) {
    CListControl* c = ListOf(list);
    if (c && ValidRow(c, index))
        c->view->scrollTo(c->model->index(index), QAbstractItemView::EnsureVisible);
}

void ListView_SetColumnWidth(HWND list, int width) {
    CListControl* c = ListOf(list);
    if (!c || c->delegate->columnWidth == width) return;
    c->delegate->columnWidth = std::max(0, width);
    static_cast<QAbstractItemView*>(c->view)->doItemsLayout();
}

int ListView_GetColumnWidth(HWND list) {
    CListControl* c = ListOf(list);
    return c ? c->delegate->columnWidth : 0;
}

void SetRedraw(HWND window, bool on) {
    CWindow* w = AsWindow(window);
    if (!w || !w->alive()) return;
    QWidget* widget = w->control && w->control->widget ? w->control->widget : w->frame_;
    widget->setUpdatesEnabled(on);
    if (on && widget->isVisible()) widget->repaint();
}
