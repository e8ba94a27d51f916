#include "browser/drives.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace {

// File systems that hold no user files, or mounts not ready to be read (an idle automount).
const std::set<std::string>& PseudoTypes() {
    static const std::set<std::string> types = {
        "proc",    "sysfs",    "devtmpfs",    "devpts",     "tmpfs",      "cgroup",
        "cgroup2", "autofs",   "debugfs",     "tracefs",    "securityfs", "configfs",
        "fusectl", "mqueue",   "pstore",      "bpf",        "ramfs",      "hugetlbfs",
        "nsfs",    "efivarfs", "binfmt_misc", "rpc_pipefs", "selinuxfs"};
    return types;
}

// Bytes written as a marker and a fixed number of digits: mountinfo writes blanks, tabs,
// newlines and backslashes in paths as "\" and three octal digits, the labels folder unsafe
// bytes as "\x" and two hexadecimal ones.
std::string Unescape(const std::string& text, const std::string& marker, size_t digits, int base) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, marker.size(), marker) == 0 &&
            i + marker.size() + digits <= text.size()) {
            const std::string number = text.substr(i + marker.size(), digits);
            char* end = nullptr;
            const long value = std::strtol(number.c_str(), &end, base);
            const bool allDigits = std::all_of(number.begin(), number.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) != 0;
            });
            if (allDigits && end == number.c_str() + digits && value <= 0xFF) {
                out += static_cast<char>(value);
                i += marker.size() + digits - 1;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool IsUserMount(const std::string& path) {
    auto under = [&](const std::string& top) {
        return path == top || path.compare(0, top.size() + 1, top + "/") == 0;
    };
    return path == "/home" || under("/media") || under("/run/media") || under("/mnt");
}

std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return {};
    std::string out = resolved;
    free(resolved);
    return out;
}

}  // namespace

std::vector<MountedDrive> ParseMountedDrives(const std::string& mountInfo) {
    std::vector<MountedDrive> drives;
    std::istringstream lines(mountInfo);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, mountPoint;
        if (!(fields >> id >> parent >> numbers >> root >> mountPoint)) continue;
        // Optional fields end with a lone "-"; the type and source follow.
        std::string field, type, source;
        while (fields >> field && field != "-") {
        }
        if (field != "-" || !(fields >> type >> source)) continue;
        const std::string path = Unescape(mountPoint, "\\", 3, 8);
        if (path != "/" && (!IsUserMount(path) || PseudoTypes().count(type))) continue;
        MountedDrive drive;
        drive.root = path == "/" ? path : path + "/";
        drive.source = Unescape(source, "\\", 3, 8);
        unsigned major = 0, minor = 0;
        if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) == 2)
            drive.device = makedev(major, minor);
        auto same = std::find_if(drives.begin(), drives.end(),
                                 [&](const MountedDrive& d) { return d.root == drive.root; });
        if (same != drives.end())
            *same = drive;
        else
            drives.push_back(drive);
    }
    if (std::none_of(drives.begin(), drives.end(),
                     [](const MountedDrive& d) { return d.root == "/"; }))
        drives.push_back(MountedDrive{"/", "", 0});
    std::sort(drives.begin(), drives.end(),
              [](const MountedDrive& a, const MountedDrive& b) { return a.root < b.root; });
    return drives;
}

std::vector<MountedDrive> ReadMountedDrives(const std::string& table) {
    std::ifstream in(table);
    std::stringstream text;
    text << in.rdbuf();
    return ParseMountedDrives(text.str());
}

std::string VolumeLabel(const MountedDrive& drive, const std::string& labelsFolder) {
    DIR* dir = opendir(labelsFolder.c_str());
    if (!dir) return {};
    const std::string source =
        drive.source.empty() || drive.source[0] != '/' ? std::string() : RealPath(drive.source);
    std::string label;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = labelsFolder + "/" + name;
        struct stat st {};
        const bool byNumber = drive.device != 0 && stat(path.c_str(), &st) == 0 &&
                              S_ISBLK(st.st_mode) && st.st_rdev == drive.device;
        if (byNumber || (!source.empty() && RealPath(path) == source)) {
            label = Unescape(name, "\\x", 2, 16);
            break;
        }
    }
    closedir(dir);
    return label;
}

CDriveLabelJob::CDriveLabelJob(std::vector<MountedDrive> drives, uint32_t jobGeneration, HWND list,
                               std::string labelsFolder)
    : generation(jobGeneration),
      drives_(std::move(drives)),
      list_(list),
      labelsFolder_(std::move(labelsFolder)) {
    for (const MountedDrive& d : drives_) texts.push_back(d.root);
}

CDriveLabelJob::~CDriveLabelJob() {
    CancelAndWait();
}

void CDriveLabelJob::Start() {
    thread_.Start([this] { Run(); }, THREAD_PRIORITY_BELOW_NORMAL);
}

void CDriveLabelJob::CancelAndWait() {
    cancel_ = 1;
    thread_.WaitUntilStopped(std::chrono::milliseconds(100));
}

void CDriveLabelJob::Run() {
    for (size_t i = 0; i < texts.size(); ++i) {
        if (cancel_) break;
        const std::string label = VolumeLabel(drives_[i], labelsFolder_);
        if (!label.empty()) texts[i] = drives_[i].root + " - " + label;
        if (list_) list_->PostMessage(WM_DRIVE_LABEL, i, static_cast<LPARAM>(generation));
    }
}
