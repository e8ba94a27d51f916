// A stand-in for the desktop portal's wallpaper service on a private session bus: records what
// it was asked in the file named by its first argument and answers with the response code of
// its second (0 when absent).

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QFile>
#include <QVariantMap>
#include <cstdio>

namespace {

class CWallpaperPortal : public QDBusVirtualObject {
public:
    CWallpaperPortal(QString log, uint code) : log_(std::move(log)), code_(code) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.portal.Wallpaper") ||
            message.member() != QLatin1String("SetWallpaperURI") || message.arguments().size() != 3)
            return false;
        const QList<QVariant> args = message.arguments();
        QVariantMap options = qdbus_cast<QVariantMap>(args[2]);
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender +
                               QLatin1Char('/') +
                               options.value(QStringLiteral("handle_token")).toString();
        QFile file(log_);
        if (file.open(QIODevice::Append)) {
            const QString line =
                QStringLiteral("parent=%1 uri=%2 show-preview=%3 set-on=%4 token=%5\n")
                    .arg(args[0].toString(), args[1].toString(),
                         options.value(QStringLiteral("show-preview")).toBool()
                             ? QStringLiteral("true")
                             : QStringLiteral("false"),
                         options.value(QStringLiteral("set-on")).toString(),
                         options.contains(QStringLiteral("handle_token")) ? QStringLiteral("yes")
                                                                          : QStringLiteral("no"));
            file.write(line.toUtf8());
            file.close();  // before the answer, so whoever asked finds it written
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
        QDBusMessage response = QDBusMessage::createSignal(
            handle, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << code_ << QVariantMap();
        connection.send(response);
        return true;
    }

private:
    QString log_;
    uint code_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    const uint code = argc > 2 ? static_cast<uint>(std::atoi(argv[2])) : 0;
    QDBusConnection bus = QDBusConnection::sessionBus();
    CWallpaperPortal portal(QString::fromLocal8Bit(argv[1]), code);
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
