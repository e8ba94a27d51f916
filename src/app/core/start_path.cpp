#include "app/core/start_path.h"

#include <filesystem>
#include <system_error>

#include "settings/helpers.h"

namespace fs = std::filesystem;

namespace {

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_directory(path, error);
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

std::string NormalizeStartPath(const std::string& word) {
    if (word.empty()) return word;
    std::error_code error;
    fs::path path(word);
    if (path.is_relative()) {
        const fs::path here = fs::current_path(error);
        if (error) return word;
        path = here / path;
    }
    std::string result = path.lexically_normal().string();
    if (IsFolder(result)) result = WithSlash(result);
    return result;
}

std::string StartFolderOrHome(const std::string& folder) {
    return IsFolder(folder) ? WithSlash(folder) : HomeFolder();
}

StartChoice ChooseStartPath(const std::vector<std::string>& words) {
    StartChoice choice;
    if (words.size() != 1) return choice;
    const std::string path = NormalizeStartPath(words[0]);
    const size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos) return choice;
    choice.fromCommandLine = true;
    // Up to and including the last "/", so a file in the root folder opens the root.
    choice.folder = path.substr(0, slash + 1);
    choice.file = path;
    return choice;
}
