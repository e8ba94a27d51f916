#include "browser/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "settings/helpers.h"

namespace {

constexpr std::array<std::string_view, 13> kTypes = {
    "avif", "bmp", "cur", "gif", "heic", "heif", "ico", "jp2", "jpg", "jxl", "png", "tif", "webp"};

enum class EntryKind { kOther, kFolder, kFile };

EntryKind KindOf(const std::string& folder, const dirent* entry) {
    switch (entry->d_type) {
        case DT_DIR:
            return EntryKind::kFolder;
        case DT_REG:
            return EntryKind::kFile;
        case DT_LNK:
        case DT_UNKNOWN:
            break;
        default:
            // Pipes, sockets and devices: opening one as an image could block forever.
            return EntryKind::kOther;
    }
    struct stat st {};
    if (stat((folder + entry->d_name).c_str(), &st) != 0) return EntryKind::kOther;
    if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
    return S_ISREG(st.st_mode) ? EntryKind::kFile : EntryKind::kOther;
}

}  // namespace

int ImageTypeGroup(const std::string& extension) {
    for (size_t i = 0; i < kTypes.size(); ++i)
        if (extension == kTypes[i]) return static_cast<int>(i);
    return -1;
}

void SortByName(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return TextLessNoCase(a, b);
    });
}

void SortByType(std::vector<std::string>& names) {
    std::vector<std::pair<int, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names)
        keyed.emplace_back(ImageTypeGroup(GetExtension(name)), std::move(name));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return TextLessNoCase(a.second, b.second);
    });
    for (size_t i = 0; i < keyed.size(); ++i) names[i] = std::move(keyed[i].second);
}

FolderContents ReadFolder(const std::string& folder, int sortType) {
    FolderContents contents;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return contents;
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        switch (KindOf(base, entry)) {
            case EntryKind::kFolder:
                if (name[0] != '.') contents.folders.push_back(name);
                break;
            case EntryKind::kFile:
                if (ImageTypeGroup(GetExtension(name)) >= 0) contents.files.push_back(name);
                break;
            case EntryKind::kOther:
                break;
        }
    }
    closedir(dir);
    SortByName(contents.folders);
    if (sortType == kSortByType)
        SortByType(contents.files);
    else
        SortByName(contents.files);
    return contents;
}
