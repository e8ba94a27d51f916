#include "platform/qt/dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

#include "platform/qt/base_dialog.h"
#include "platform/qt/window_impl.h"

namespace {

QWidget* OwnerWidget(HWND owner) {
    if (QWidget* dialog = GetDialogWidget(owner)) return dialog;
    CWindow* w = AsWindow(owner);
    return (w && w->alive()) ? w->frame_->window() : nullptr;
}

QColor ToQColor(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

COLORREF ToColorRef(const QColor& c) {
    return RGB(c.red(), c.green(), c.blue());
}

}  // namespace

int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    QMessageBox box(OwnerWidget(owner));
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (type & 0xF0) {
        case MB_ICONHAND:
            box.setIcon(QMessageBox::Critical);
            break;
        case MB_ICONQUESTION:
            box.setIcon(QMessageBox::Question);
            break;
        case MB_ICONEXCLAMATION:
            box.setIcon(QMessageBox::Warning);
            break;
        case MB_ICONASTERISK:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            break;
    }
    switch (type & 0x0F) {
        case MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MB_YESNOCANCEL:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return IDOK;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return IDCANCEL;
    }
}

bool ChooseColor(CHOOSECOLOR* choose) {
    if (!choose) return false;
    if (choose->lpCustColors)
        for (int i = 0; i < 16; ++i)
            QColorDialog::setCustomColor(i, ToQColor(choose->lpCustColors[i]));
    QColorDialog dialog(OwnerWidget(choose->hwndOwner));
    // The same dialog on every desktop, and one that tests can drive.
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    dialog.setCurrentColor((choose->Flags & CC_RGBINIT) ? ToQColor(choose->rgbResult)
                                                        : QColor(Qt::black));
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    if (choose->lpCustColors)
        for (int i = 0; i < 16; ++i)
            choose->lpCustColors[i] = ToColorRef(QColorDialog::customColor(i));
    if (confirmed) choose->rgbResult = ToColorRef(dialog.selectedColor());
    return confirmed;
}

std::string BrowseForFolder(HWND owner, const std::string& title, const std::string& start) {
    const QString folder = QFileDialog::getExistingDirectory(
        OwnerWidget(owner), QString::fromStdString(title), QString::fromStdString(start));
    return folder.toStdString();
}
