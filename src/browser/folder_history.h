#pragma once

// The folders the user viewed images in, most recent last, at most 15; kept in the settings as
// "DirHistory0" to "DirHistory14". Back and forward rotate the list, so the folder a step makes
// current is always the last one.

#include <string>
#include <utility>
#include <vector>

class CFolderHistory {
public:
    static constexpr size_t kMaxFolders = 15;

    // Appends the folder, or moves it to the end when it is there; the oldest goes at 16.
    void Add(const std::string& folder);
    // Rotations by k steps; false (and no change) for fewer than two folders.
    bool Back(int steps);
    bool Forward(int steps);
    // The folder the current one would become: 0 or ±count the last, -m the one m steps back,
    // m the one m steps forward; without its trailing "/" unless it is "/". "" when empty.
    std::string EntryText(int offset) const;
    // (text of offset i + 1, i) for every folder, in name order of the texts; choosing entry i
    // is Forward(i + 1).
    std::vector<std::pair<std::string, int>> MenuEntries() const;

    // Every non-empty stored value in order, as it is.
    void Load();
    // Stores the folders from "DirHistory0" on; values past the count are left alone.
    void Save() const;

    size_t Count() const { return folders_.size(); }
    const std::string& Last() const { return folders_.back(); }
    const std::vector<std::string>& folders() const { return folders_; }

private:
    std::vector<std::string> folders_;
};
