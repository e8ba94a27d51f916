#include "browser/special_folders.h"

#include <QFile>
#include <QStandardPaths>

#include "settings/helpers.h"

namespace {

std::string Existing(QStandardPaths::StandardLocation location) {
    const QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty()) return {};
    std::string folder = QFile::encodeName(path).toStdString();
    if (!IsDirectory(folder)) return {};
    if (folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

std::string DocumentsFolder() {
    return Existing(QStandardPaths::DocumentsLocation);
}

std::string DesktopFolder() {
    return Existing(QStandardPaths::DesktopLocation);
}
