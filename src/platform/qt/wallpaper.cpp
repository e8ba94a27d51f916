#include "platform/qt/wallpaper.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <cstdlib>

namespace {

// Receives the portal's answer to one request.
class CPortalResponse : public QObject {
    Q_OBJECT
public:
    bool answered = false;
    uint code = 2;
    QEventLoop* loop = nullptr;

public slots:
    void Answer(uint response, const QVariantMap&) {
        answered = true;
        code = response;
        if (loop) loop->quit();
    }
};

// Runs the event loop until it is quit or the time is up. The user's input waits meanwhile, so
// no second command starts inside this one, but the windows keep painting and timers run: a
// desktop that is slow to answer does not freeze the window.
void AwaitWithoutInput(QEventLoop& loop, int timeoutMs) {
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

bool ThroughPortal(const QString& uri, int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // The request's path is known before the call, so an answer that comes at once is not missed.
    const QString token = QStringLiteral("lumora%1").arg(QRandomGenerator::global()->generate());
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender +
                     QLatin1Char('/') + token;
    CPortalResponse response;
    const char* slot = SLOT(Answer(uint, QVariantMap));
    bus.connect(QString(), handle, kRequestInterface, QStringLiteral("Response"), &response, slot);

    QDBusMessage call = QDBusMessage::createMethodCall(
        kPortalService, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Wallpaper"), QStringLiteral("SetWallpaperURI"));
    QVariantMap options;
    options.insert(QStringLiteral("show-preview"), false);
    options.insert(QStringLiteral("set-on"), QStringLiteral("background"));
    options.insert(QStringLiteral("handle_token"), token);
    call << QString() << uri << options;
    QDBusPendingCall pending = bus.asyncCall(call, timeoutMs);
    {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!pending.isFinished()) AwaitWithoutInput(loop, timeoutMs);
    }
    const QDBusMessage reply = pending.isFinished() ? pending.reply() : QDBusMessage();
    bool ok = false;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        // Older portals choose a path of their own.
        const QString given = reply.arguments().first().value<QDBusObjectPath>().path();
        if (!given.isEmpty() && given != handle) {
            bus.disconnect(QString(), handle, kRequestInterface, QStringLiteral("Response"),
                           &response, slot);
            handle = given;
            bus.connect(QString(), handle, kRequestInterface, QStringLiteral("Response"), &response,
                        slot);
        }
        if (!response.answered) {
            QEventLoop loop;
            response.loop = &loop;
            AwaitWithoutInput(loop, timeoutMs);
            response.loop = nullptr;
        }
        ok = response.answered && response.code == 0;
    }
    bus.disconnect(QString(), handle, kRequestInterface, QStringLiteral("Response"), &response,
                   slot);
    return ok;
}

// Runs the program with its arguments as a list, no shell; true when it exited with 0 in time.
bool Run(const QString& program, const QStringList& arguments, int timeoutMs,
         QByteArray* output = nullptr) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!output) process.setStandardOutputFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    process.start();
    // A program that is not there fails at once.
    if (process.state() != QProcess::NotRunning) AwaitWithoutInput(loop, timeoutMs);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (process.error() == QProcess::FailedToStart) return false;
    if (output) *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool GSettingsSet(const QString& schema, const QString& key, const QString& value, int timeoutMs) {
    return Run(QStringLiteral("gsettings"), {QStringLiteral("set"), schema, key, value}, timeoutMs);
}

bool ThroughXfconf(const QString& path, int timeoutMs) {
    const QString channel = QStringLiteral("xfce4-desktop");
    QByteArray listing;
    if (!Run(QStringLiteral("xfconf-query"), {QStringLiteral("-c"), channel, QStringLiteral("-l")},
             timeoutMs, &listing))
        return false;
    bool any = false;
    for (const QByteArray& line : listing.split('\n')) {
        const QString property = QString::fromUtf8(line).trimmed();
        if (!property.endsWith(QStringLiteral("/last-image"))) continue;
        if (!Run(QStringLiteral("xfconf-query"),
                 {QStringLiteral("-c"), channel, QStringLiteral("-p"), property,
                  QStringLiteral("-s"), path},
                 timeoutMs))
            return false;
        any = true;
    }
    return any;
}

bool ThroughDesktopSetter(const QString& path, const WallpaperEnvironment& environment) {
    const QString uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    const int t = environment.timeoutMs;
    const QStringList desktops =
        QString::fromStdString(environment.desktop).toLower().split(QLatin1Char(':'));
    for (const QString& desktop : desktops) {
        if (desktop == QLatin1String("kde"))
            return Run(QStringLiteral("plasma-apply-wallpaperimage"), {path}, t);
        // Without a session bus these setters exit with 0 and keep nothing.
        if (!environment.sessionBus) continue;
        if (desktop == QLatin1String("gnome") || desktop == QLatin1String("unity")) {
            const QString schema = QStringLiteral("org.gnome.desktop.background");
            if (!GSettingsSet(schema, QStringLiteral("picture-uri"), uri, t)) return false;
            // Desktops before the dark style have no such key.
            GSettingsSet(schema, QStringLiteral("picture-uri-dark"), uri, t);
            return true;
        }
        if (desktop == QLatin1String("x-cinnamon") || desktop == QLatin1String("cinnamon"))
            return GSettingsSet(QStringLiteral("org.cinnamon.desktop.background"),
                                QStringLiteral("picture-uri"), uri, t);
        if (desktop == QLatin1String("mate"))
            return GSettingsSet(QStringLiteral("org.mate.background"),
                                QStringLiteral("picture-filename"), path, t);
        if (desktop == QLatin1String("xfce")) return ThroughXfconf(path, t);
    }
    return false;
}

}  // namespace

WallpaperEnvironment CurrentWallpaperEnvironment() {
    WallpaperEnvironment environment;
    if (const char* desktop = std::getenv("XDG_CURRENT_DESKTOP")) environment.desktop = desktop;
    environment.sessionBus = QDBusConnection::sessionBus().isConnected();
    return environment;
}

bool SetDesktopWallpaper(const std::string& path, const WallpaperEnvironment& environment) {
    if (path.empty() || path[0] != '/') return false;
    const QString file = QString::fromStdString(path);
    if (environment.tryPortal && environment.sessionBus &&
        ThroughPortal(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded),
                      environment.timeoutMs))
        return true;
    return ThroughDesktopSetter(file, environment);
}

#include "wallpaper.moc"
