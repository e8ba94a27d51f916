#include "platform/file_io.h"
#include "settings/helpers.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

namespace {

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

std::string VersionText() {
    return std::to_string(LUMORA_VERSION_MAJOR) + ", " + std::to_string(LUMORA_VERSION_MINOR) +
           ", " + std::to_string(LUMORA_VERSION_PATCH) + ", " +
           std::to_string(LUMORA_VERSION_TWEAK);
}

// The character that starts at text[i] and the number of bytes it takes; U+FFFD and 1 for a
// byte that does not start a valid sequence.
char32_t DecodeAt(std::string_view text, size_t i, size_t& length) {
    auto lead = static_cast<unsigned char>(text[i]);
    length = 1;
    size_t n = lead < 0x80                    ? 1
               : lead >= 0xC2 && lead <= 0xDF ? 2
               : lead >= 0xE0 && lead <= 0xEF ? 3
               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                              : 0;
    if (n == 1) return lead;
    if (n == 0 || i + n > text.size()) return 0xFFFD;
    char32_t value = lead & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0xFFFD;
        value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[n] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0xFFFD;
    length = n;
    return value;
}

bool MakeFolders(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
    }
    return IsDirectory(path);
}

// Folder part and name part of an absolute path without trailing "/".
std::string ParentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The top folder of the mounted volume that holds folder (itself on device dev).
std::string VolumeTop(std::string folder, dev_t dev) {
    while (folder != "/") {
        std::string parent = ParentOf(folder);
        struct stat st {};
        if (stat(parent.c_str(), &st) != 0 || st.st_dev != dev) break;
        folder = parent;
    }
    return folder;
}

// A trash folder a volume's top may offer: top/.Trash/$uid when top/.Trash is a real sticky
// folder, else top/.Trash-$uid; made when missing. Empty when neither can be used.
std::string VolumeTrash(const std::string& top) {
    const std::string uid = std::to_string(getuid());
    const std::string shared = Join(top, ".Trash");
    struct stat st {};
    if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        std::string mine = shared + "/" + uid;
        mkdir(mine.c_str(), 0700);
        struct stat own {};
        if (lstat(mine.c_str(), &own) == 0 && S_ISDIR(own.st_mode) && own.st_uid == getuid())
            return mine;
    }
    std::string mine = Join(top, ".Trash-" + uid);
    mkdir(mine.c_str(), 0700);
    struct stat own {};
    if (lstat(mine.c_str(), &own) == 0 && S_ISDIR(own.st_mode) && own.st_uid == getuid())
        return mine;
    return {};
}

// Percent-encoding of everything but unreserved characters and "/".
std::string EscapePath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// Moves the item into trash/files under a free name, with its info file written first: the
// exclusive creation of the info file is what reserves the name.
bool MoveIntoTrash(const std::string& trash, const std::string& item, const std::string& infoPath) {
    const std::string files = trash + "/files";
    const std::string info = trash + "/info";
    mkdir(trash.c_str(), 0700);
    mkdir(files.c_str(), 0700);
    mkdir(info.c_str(), 0700);
    if (!IsDirectory(files) || !IsDirectory(info)) return false;

    const std::string name = item.substr(item.find_last_of('/') + 1);
    size_t dot = name.find_last_of('.');
    if (dot == 0 || dot == std::string::npos) dot = name.size();
    const std::string stem = name.substr(0, dot), extension = name.substr(dot);

    char date[32] = "";
    time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local)) strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string content =
        "[Trash Info]\nPath=" + EscapePath(infoPath) + "\nDeletionDate=" + date + "\n";

    for (int n = 1; n < 10000; ++n) {
        std::string candidate = n == 1 ? name : stem + "." + std::to_string(n) + extension;
        std::string infoFile = info + "/" + candidate + ".trashinfo";
        int fd = open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        std::string target = files + "/" + candidate;
        struct stat st {};
        bool taken = lstat(target.c_str(), &st) == 0;
        bool written = !taken && WriteAll(fd, content);
        close(fd);
        if (taken) {
            unlink(infoFile.c_str());
            continue;
        }
        if (written && rename(item.c_str(), target.c_str()) == 0) return true;
        unlink(infoFile.c_str());
        return false;
    }
    return false;
}

}  // namespace

std::string GetVersionString(const std::string& name) {
    if (name == "FileVersion" || name == "ProductVersion") return VersionText();
    if (name == "ProductName" || name == "InternalName") return "Lumora";
    if (name == "OriginalFilename") return "lumora";
    if (name == "FileDescription") return "Lumora image viewer";
    return {};
}

std::string ToLowerString(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

std::string GetExtension(const std::string& path) {
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos) return {};
    return ToLowerString(path.substr(dot + 1));
}

bool TextLessNoCase(std::string_view a, std::string_view b) {
    size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        auto x = static_cast<signed char>(UpperAscii(a[i]));
        auto y = static_cast<signed char>(UpperAscii(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool TextEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

std::u16string ToWideText(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        char32_t code = DecodeAt(text, i, length);
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

bool ShellDelete(const std::string& path) {
    if (path.empty()) return false;
    std::string item = path;
    while (item.size() > 1 && item.back() == '/') item.pop_back();
    if (item[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (!cwd) return false;
        std::string base = cwd;
        free(cwd);
        item = Join(base, item);
    }
    if (item == "/") return false;
    // The folder part is resolved so that the volume and the recorded path are the real ones;
    // the item itself is not followed: a link goes to the trash as a link.
    char* parent = realpath(ParentOf(item).c_str(), nullptr);
    if (!parent) return false;
    std::string folder = parent;
    free(parent);
    item = Join(folder, item.substr(item.find_last_of('/') + 1));
    struct stat st {};
    if (lstat(item.c_str(), &st) != 0) return false;

    // The data folder may not exist yet on a fresh account.
    const std::string dataHome = DataHome();
    if (MakeFolders(dataHome)) {
        const std::string homeTrash = dataHome + "/Trash";
        mkdir(homeTrash.c_str(), 0700);
        struct stat trashStat {};
        if (stat(homeTrash.c_str(), &trashStat) == 0 && trashStat.st_dev == st.st_dev)
            return MoveIntoTrash(homeTrash, item, item);
    }
    const std::string top = VolumeTop(folder, st.st_dev);
    if (top == item) return false;
    const std::string trash = VolumeTrash(top);
    if (trash.empty()) return false;
    // Volume trashes record the path relative to the volume's top.
    std::string relative = top == "/" ? item.substr(1) : item.substr(top.size() + 1);
    return MoveIntoTrash(trash, item, relative);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string HomeFolder() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
        home = env;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    if (home.empty() || !IsDirectory(home)) return "/";
    if (home.back() != '/') home += '/';
    return home;
}

std::string DataHome() {
    if (const char* env = std::getenv("XDG_DATA_HOME"); env && env[0] == '/') return env;
    std::string home = HomeFolder();
    return home + ".local/share";
}
