#include <QCursor>
#include <QPixmap>
#include <map>

#include "platform/qt/form_window.h"

HCURSOR LoadCursor(int id) {
    static std::map<int, QCursor> cursors;
    auto it = cursors.find(id);
    if (it != cursors.end()) return &it->second;
    QCursor cursor;
    switch (id) {
        case IDC_ARROW:
            cursor = QCursor(Qt::ArrowCursor);
            break;
        case IDC_WAIT:
            cursor = QCursor(Qt::WaitCursor);
            break;
        case IDC_SIZEWE:
            cursor = QCursor(Qt::SizeHorCursor);
            break;
        default: {
            // The program's own cursors have their hot spot in the middle.
            const QPixmap picture(QStringLiteral(":/res/cursor-%1.png").arg(id));
            if (picture.isNull()) return LoadCursor(IDC_ARROW);
            cursor = QCursor(picture);
        }
    }
    return &cursors.emplace(id, cursor).first->second;
}
