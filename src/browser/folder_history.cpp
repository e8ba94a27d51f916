#include "browser/folder_history.h"

#include <algorithm>

#include "settings/helpers.h"
#include "settings/registry.h"
#include "settings/settings.h"

void CFolderHistory::Add(const std::string& folder) {
    if (!folders_.empty() && folders_.back() == folder) return;
    auto it = std::find(folders_.begin(), folders_.end(), folder);
    if (it != folders_.end())
        folders_.erase(it);
    else if (folders_.size() >= kMaxFolders)
        folders_.erase(folders_.begin());
    folders_.push_back(folder);
}

bool CFolderHistory::Back(int steps) {
    if (folders_.size() < 2) return false;
    for (int i = 0; i < steps; ++i)
        std::rotate(folders_.rbegin(), folders_.rbegin() + 1, folders_.rend());
    return true;
}

bool CFolderHistory::Forward(int steps) {
    if (folders_.size() < 2) return false;
    for (int i = 0; i < steps; ++i)
        std::rotate(folders_.begin(), folders_.begin() + 1, folders_.end());
    return true;
}

std::string CFolderHistory::EntryText(int offset) const {
    const int count = static_cast<int>(folders_.size());
    if (count == 0) return {};
    int index = count - 1;
    if (offset != 0 && offset != count && offset != -count) {
        index = offset < 0 ? count + offset - 1 : offset - 1;
        // Offsets beyond the count have no folder of their own; they give the last one.
        if (index < 0 || index >= count) index = count - 1;
    }
    std::string text = folders_[static_cast<size_t>(index)];
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::vector<std::pair<std::string, int>> CFolderHistory::MenuEntries() const {
    std::vector<std::pair<std::string, int>> entries;
    for (int i = 0; i < static_cast<int>(folders_.size()); ++i)
        entries.emplace_back(EntryText(i + 1), i);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return TextLessNoCase(a.first, b.first); });
    return entries;
}

void CFolderHistory::Load() {
    folders_.clear();
    for (int i = 0; i < settings::kDirHistoryCount; ++i) {
        std::string folder =
            ReadRegString(DirHistoryName(i), std::string(settings::kDirHistoryDefault));
        if (!folder.empty()) folders_.push_back(std::move(folder));
    }
}

void CFolderHistory::Save() const {
    for (size_t i = 0; i < folders_.size(); ++i)
        WriteRegString(DirHistoryName(static_cast<int>(i)), folders_[i]);
}
