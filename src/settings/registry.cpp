#include "platform/file_io.h"
#include "settings/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

// The file is the registry's export syntax:
//
//     [Software\Lumora]
//     "AdjustType"=dword:00000000
//     "CacheDir"="/home/ann/.cache/LumoraCache"
//
// Writers take an exclusive lock on the folder, re-read the file, change one line and rename a
// complete new file over the old one, so readers never need a lock and never see half a file.
// Lines that cannot be understood are kept as they are.

namespace {

constexpr std::string_view kSection = "[Software\\Lumora]";

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.config";
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return std::string(pw->pw_dir) + "/.config";
    return "/tmp";
}

std::string SettingsFolder() { return ConfigHome() + "/Lumora"; }

bool MakeFolders(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool NamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\0': out += "\\0"; break;
            default: out += c;
        }
    }
    return out + "\"";
}

// Reads a quoted text starting at text[pos] == '"'; leaves pos after the closing quote.
std::optional<std::string> Unquote(std::string_view text, size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (++pos >= text.size()) return std::nullopt;
            char e = text[pos];
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == '0' ? '\0' : e;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

enum class Kind { kText, kNumber, kBadNumber, kOther };

struct Value {
    std::string name;
    Kind kind = Kind::kOther;
    std::string text;
    int32_t number = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool OnlySpaces(std::string_view rest) {
    for (char c : rest)
        if (c != ' ' && c != '\t' && c != '\r') return false;
    return true;
}

std::optional<Value> ParseValueLine(std::string_view line) {
    size_t pos = 0;
    Value value;
    auto name = Unquote(line, pos);
    if (!name || pos >= line.size() || line[pos] != '=') return std::nullopt;
    value.name = *name;
    std::string_view data = line.substr(pos + 1);
    if (!data.empty() && data[0] == '"') {
        size_t p = 0;
        auto text = Unquote(data, p);
        if (!text || !OnlySpaces(data.substr(p))) return std::nullopt;
        value.kind = Kind::kText;
        value.text = *text;
    } else if (data.substr(0, 6) == "dword:") {
        std::string_view digits = data.substr(6);
        while (!digits.empty() && (digits.back() == '\r' || digits.back() == ' ')) digits.remove_suffix(1);
        uint32_t bits = 0;
        bool ok = digits.size() == 8;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) ok = false;
            bits = (bits << 4) | static_cast<uint32_t>(d < 0 ? 0 : d);
        }
        value.kind = ok ? Kind::kNumber : Kind::kBadNumber;
        value.number = static_cast<int32_t>(bits);
    } else {
        value.kind = Kind::kOther;
    }
    return value;
}

bool IsSectionLine(std::string_view line) { return !line.empty() && line[0] == '['; }

bool IsOurSection(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    return NamesEqual(line, kSection);
}

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        lines.emplace_back(content.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}


// The first value of that name in our section, if any.
std::optional<Value> FindValue(const std::string& content, const std::string& name) {
    bool inSection = false;
    for (const std::string& line : SplitLines(content)) {
        if (IsSectionLine(line)) {
            inSection = IsOurSection(line);
            continue;
        }
        if (!inSection) continue;
        auto value = ParseValueLine(line);
        if (value && NamesEqual(value->name, name)) return value;
    }
    return std::nullopt;
}

// Replaces the file by a complete new one: a crash leaves the old or the new file, whole. The
// new file is made beside the one it replaces, on the same file system.
bool ReplaceFile(const std::string& settingsPath, const std::string& content) {
    const std::optional<std::string> target = FileToReplace(settingsPath);
    if (!target) return false;
    const std::string& path = *target;
    const std::string folder = path.substr(0, path.find_last_of('/'));
    std::string tmpl = folder + "/.Lumora.reg.XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) {
        struct stat st {};
        // Keep the permissions of the file being replaced.
        if (stat(path.c_str(), &st) == 0) chmod(tmpl.c_str(), st.st_mode & 07777);
        else chmod(tmpl.c_str(), 0600);
        ok = rename(tmpl.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        unlink(tmpl.c_str());
        return false;
    }
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// Holds the writers' lock: an exclusive lock on the settings folder itself, which survives the
// renames that replace the file.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (flock(fd_, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    close(fd_);
                    fd_ = -1;
                    break;
                }
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

// Opening the key: the folder and the file are made when missing. Returns false when the
// store cannot be used at all.
bool OpenKey() {
    const std::string folder = SettingsFolder();
    const std::string path = SettingsFilePath();
    if (access(path.c_str(), F_OK) == 0) return true;
    if (!MakeFolders(folder)) return false;
    FolderLock lock(folder);
    if (!lock.Held()) return false;
    if (access(path.c_str(), F_OK) == 0) return true;
    return ReplaceFile(path, std::string(kSection) + "\n");
}

// Sets one value line under the writers' lock.
void StoreLine(const std::string& name, const std::string& valueLine) {
    if (!OpenKey()) return;
    const std::string folder = SettingsFolder();
    const std::string path = SettingsFilePath();
    FolderLock lock(folder);
    if (!lock.Held()) return;
    auto content = ReadWholeFile(path);
    // A file that exists but cannot be read is left alone rather than replaced blindly.
    if (!content) {
        if (access(path.c_str(), F_OK) == 0) return;
        content = std::string();
    }
    std::vector<std::string> lines = SplitLines(*content);
    bool inSection = false;
    long lastOfSection = -1;
    bool replaced = false;
    for (size_t i = 0; i < lines.size() && !replaced; ++i) {
        if (IsSectionLine(lines[i])) {
            inSection = IsOurSection(lines[i]);
            if (inSection) lastOfSection = static_cast<long>(i);
            continue;
        }
        if (!inSection) continue;
        if (!lines[i].empty()) lastOfSection = static_cast<long>(i);
        auto value = ParseValueLine(lines[i]);
        if (value && NamesEqual(value->name, name)) {
            lines[i] = valueLine;
            replaced = true;
        }
    }
    if (!replaced) {
        if (lastOfSection >= 0) {
            lines.insert(lines.begin() + lastOfSection + 1, valueLine);
        } else {
            if (!lines.empty() && !lines.back().empty()) lines.emplace_back();
            lines.emplace_back(kSection);
            lines.push_back(valueLine);
        }
    }
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    ReplaceFile(path, out);
}

}  // namespace

std::string SettingsFilePath() { return SettingsFolder() + "/Lumora.reg"; }

int32_t ReadRegDword(const std::string& name, int32_t defaultValue) {
    if (!OpenKey()) return defaultValue;
    auto content = ReadWholeFile(SettingsFilePath());
    if (!content) return defaultValue;
    auto value = FindValue(*content, name);
    if (!value || value->kind != Kind::kNumber) return defaultValue;
    return value->number;
}

void WriteRegDword(const std::string& name, int32_t value) {
    static const char* kHex = "0123456789abcdef";
    uint32_t bits = static_cast<uint32_t>(value);
    std::string digits(8, '0');
    for (int i = 7; i >= 0; --i, bits >>= 4) digits[static_cast<size_t>(i)] = kHex[bits & 15];
    StoreLine(name, Quote(name) + "=dword:" + digits);
}

std::string ReadRegString(const std::string& name, const std::string& defaultValue) {
    if (!OpenKey()) return defaultValue;
    auto content = ReadWholeFile(SettingsFilePath());
    if (!content) return defaultValue;
    auto value = FindValue(*content, name);
    if (!value || value->kind != Kind::kText) return defaultValue;
    // A stored text ends at its first zero byte, as the registry's texts do.
    return value->text.substr(0, value->text.find('\0'));
}

void WriteRegString(const std::string& name, const std::string& value) {
    StoreLine(name, Quote(name) + "=" + Quote(value));
}
