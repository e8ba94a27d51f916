#pragma once

// The folder and file the viewer starts with, from the words of its command line.

#include <string>
#include <vector>

// A start path as the user gave it, made absolute (against the current folder) and normal
// ("." and ".." resolved, doubled separators merged, links kept); a path that names a folder
// ends in "/". An empty word stays empty; a path that cannot be made absolute stays as given.
std::string NormalizeStartPath(const std::string& word);

// The folder a listing opens: an existing folder with a trailing "/"; anything else (a missing
// folder, "C:\") gives the home folder.
std::string StartFolderOrHome(const std::string& folder);

struct StartChoice {
    bool fromCommandLine = false;  // a usable start path was given
    std::string folder;            // only when fromCommandLine: everything up to the last "/"
    std::string file;              // only when fromCommandLine: the whole path
};

// Exactly one word that, made absolute, contains a "/" is a start path; zero or several words
// give none.
StartChoice ChooseStartPath(const std::vector<std::string>& words);
