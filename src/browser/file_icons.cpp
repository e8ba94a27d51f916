#include "browser/file_icons.h"

#include <QDir>
#include <QMimeDatabase>

#include "settings/helpers.h"

namespace {

// Desktops name their icon theme; without one (the offscreen platform, a bare X server) the
// freedesktop hierarchy is searched under the breeze theme.
void EnsureIconTheme() {
    static bool done = false;
    if (done) return;
    done = true;
    const QString name = QIcon::themeName();
    if (!name.isEmpty() && name != QLatin1String("hicolor")) return;
    QStringList paths = QIcon::themeSearchPaths();
    for (const char* folder : {"/usr/share/icons", "/usr/local/share/icons"})
        if (!paths.contains(QLatin1String(folder)) && QDir(QLatin1String(folder)).exists())
            paths << QLatin1String(folder);
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(QStringLiteral("breeze"));
}

}  // namespace

CFileIcons::CFileIcons() {
    images_.AddResource(":/res/list-103.png");
    images_.AddResource(":/res/list-102.png");
    images_.AddResource(":/res/list-104.png");
    images_.AddResource(":/res/list-105.png");
}

int CFileIcons::IconFor(const std::string& name) {
    if (name.size() < 5) return kImageFile;
    // The extension with its dot: four characters for the classic types, five for the newer
    // ones the file list shows (".webp", ".heic", ".avif"), whose last four lack the dot.
    const size_t dot = name.rfind('.');
    const size_t from = dot != std::string::npos && dot > 0 && dot == name.size() - 5
                            ? dot
                            : name.size() - 4;
    const std::string key = ToLowerString(name.substr(from));
    auto it = iconMap_.find(key);
    if (it != iconMap_.end()) return it->second;
    ++lookups_;
    EnsureIconTheme();
    static const QMimeDatabase mimeTypes;
    const QMimeType type =
        mimeTypes.mimeTypeForFile(QString::fromStdString("x" + key), QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    // A type without an icon keeps the file image; it is remembered too, so a folder of such
    // files does not search the theme once per file.
    const int index = icon.isNull() ? kImageFile : images_.Add(icon);
    iconMap_[key] = index;
    return index;
}
