#include "app/ui/viewer.h"

#include <QApplication>
#include <QIcon>

#include "app/ui/main_form.h"
#include "app/ui/resources.h"
#include "image/resample.h"
#include "platform/qt/quit_signals.h"

int RunViewer(int argc, char** argv, const std::vector<std::string>& words) {
    BuildGammaTables();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumora"));
    InitPlatform();
    QIcon icon(QString::fromLatin1(kIconResource));
    icon.addFile(QString::fromLatin1(kLargeIconResource));
    QApplication::setWindowIcon(icon);
    {
        CMainForm form(words, SW_SHOWNORMAL);
        // Logout and Ctrl+C close the window like its close button, so settings are written.
        CQuitSignals quitSignals(form.window());
        QApplication::exec();
        DestroyWindow(form.window());
    }
    return 0;
}
