#include "platform/qt/menu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <memory>
#include <vector>

class CMenu {
public:
    CMenu() : menu(std::make_unique<QMenu>()) {}
    QAction* Find(int id) const {
        for (QAction* action : menu->actions()) {
            if (action->menu()) {
                for (const auto& sub : popups)
                    if (sub->menu.get() == action->menu())
                        if (QAction* found = sub->Find(id)) return found;
            } else if (!action->isSeparator() && action->data().isValid() &&
                       action->data().toInt() == id) {
                return action;
            }
        }
        return nullptr;
    }
    CMenu* PopupAt(int position) const {
        const QList<QAction*> actions = menu->actions();
        if (position < 0 || position >= actions.size() || !actions[position]->menu())
            return nullptr;
        for (const auto& sub : popups)
            if (sub->menu.get() == actions[position]->menu()) return sub.get();
        return nullptr;
    }

    std::unique_ptr<QMenu> menu;
    std::vector<std::unique_ptr<CMenu>> popups;
};

namespace {

QAction* MakeItem(HMENU menu, UINT flags, uintptr_t idOrPopup, const std::string& text) {
    if (flags & MF_SEPARATOR) {
        auto* action = new QAction(menu->menu.get());
        action->setSeparator(true);
        return action;
    }
    if (flags & MF_POPUP) {
        CMenu* popup = reinterpret_cast<CMenu*>(idOrPopup);
        popup->menu->setTitle(QString::fromStdString(text));
        menu->popups.emplace_back(popup);
        return popup->menu->menuAction();
    }
    auto* action = new QAction(QString::fromStdString(text), menu->menu.get());
    action->setData(static_cast<int>(idOrPopup));
    return action;
}

}  // namespace

HMENU CreateMenu() {
    return new CMenu();
}

HMENU CreatePopupMenu() {
    return new CMenu();
}

void DestroyMenu(HMENU menu) {
    delete menu;
}

void AppendMenu(HMENU menu, UINT flags, uintptr_t idOrPopup, const std::string& text) {
    if (!menu) return;
    menu->menu->addAction(MakeItem(menu, flags, idOrPopup, text));
}

void InsertMenuItem(HMENU menu, int position, UINT flags, uintptr_t id, const std::string& text) {
    if (!menu) return;
    const QList<QAction*> actions = menu->menu->actions();
    QAction* item = MakeItem(menu, flags, id, text);
    if (position >= 0 && position < actions.size())
        menu->menu->insertAction(actions[position], item);
    else
        menu->menu->addAction(item);
}

void RemoveMenu(HMENU menu, int position) {
    if (!menu) return;
    const QList<QAction*> actions = menu->menu->actions();
    if (position < 0 || position >= actions.size()) return;
    QAction* action = actions[position];
    if (action->menu()) {
        menu->menu->removeAction(action);
        std::erase_if(menu->popups,
                      [&](const auto& sub) { return sub->menu.get() == action->menu(); });
    } else {
        menu->menu->removeAction(action);
        delete action;
    }
}

HMENU GetSubMenu(HMENU menu, int position) {
    return menu ? menu->PopupAt(position) : nullptr;
}

int GetMenuItemCount(HMENU menu) {
    return menu ? static_cast<int>(menu->menu->actions().size()) : 0;
}

int GetMenuItemID(HMENU menu, int position) {
    if (!menu) return -1;
    const QList<QAction*> actions = menu->menu->actions();
    if (position < 0 || position >= actions.size()) return -1;
    QAction* action = actions[position];
    if (action->isSeparator() || action->menu() || !action->data().isValid()) return -1;
    return action->data().toInt();
}

void SetMenuItemChecked(HMENU menu, int id, bool on) {
    if (QAction* action = menu ? menu->Find(id) : nullptr) {
        action->setCheckable(true);
        action->setChecked(on);
    }
}

void SetMenuItemEnabled(HMENU menu, int id, bool on) {
    if (QAction* action = menu ? menu->Find(id) : nullptr) action->setEnabled(on);
}

void SetMenuItemText(HMENU menu, int id, const std::string& text) {
    if (QAction* action = menu ? menu->Find(id) : nullptr)
        action->setText(QString::fromStdString(text));
}

bool IsMenuItemChecked(HMENU menu, int id) {
    QAction* action = menu ? menu->Find(id) : nullptr;
    return action && action->isChecked();
}

bool IsMenuItemEnabled(HMENU menu, int id) {
    QAction* action = menu ? menu->Find(id) : nullptr;
    return action && action->isEnabled();
}

std::string GetMenuItemText(HMENU menu, int id) {
    QAction* action = menu ? menu->Find(id) : nullptr;
    return action ? action->text().toStdString() : std::string();
}

int TrackPopupMenu(HMENU popup, UINT flags, int x, int y, HWND owner) {
    if (!popup) return 0;
    const QPoint where = (x == -1 && y == -1) ? QCursor::pos() : QPoint(x, y);
    QAction* chosen = popup->menu->exec(where);
    if (!chosen || chosen->isSeparator() || chosen->menu() || !chosen->data().isValid()) return 0;
    const int id = chosen->data().toInt();
    if (flags & TPM_RETURNCMD) return id;
    if (owner) owner->PostMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return 1;
}
