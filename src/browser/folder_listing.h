#pragma once

// What one folder holds for the file browser: its visible sub-folders and its image files, in
// the browser's orders. Names are the bytes the file system gives, whatever their encoding.

#include <string>
#include <vector>

constexpr int kSortByName = 0;
constexpr int kSortByType = 1;

struct FolderContents {
    std::vector<std::string> folders;  // name order
    std::vector<std::string> files;    // by name, or by type then name
};

// Position of the extension (lower case, without the dot) in the by-type order avif, bmp, cur,
// gif, heic, heif, ico, jp2, jpg, png, tif, webp; -1 for every other extension, which the
// browser does not list.
int ImageTypeGroup(const std::string& extension);

// Hidden folders (names starting with ".") are skipped, hidden image files are listed. Links
// count as what they point to; only regular files are image files. A folder that cannot be read
// gives nothing.
FolderContents ReadFolder(const std::string& folder, int sortType);

// The two orders on their own, for names already gathered.
void SortByName(std::vector<std::string>& names);
void SortByType(std::vector<std::string>& names);
