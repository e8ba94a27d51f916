#pragma once

// Pictures of the file list: the four of its own (file, drive, folder, special folder) and one
// per image type, from the icon theme's icon for the type, looked up once per extension.

#include <map>
#include <string>

#include "platform/qt/controls.h"

constexpr int kImageFile = 0;
constexpr int kImageDrive = 1;
constexpr int kImageFolder = 2;
constexpr int kImageSpecialFolder = 3;

class CFileIcons {
public:
    CFileIcons();
    // The image index for a file entry: its type's icon, else the file image. Keyed by the last
    // four characters of the name in lower case; names shorter than five get the file image.
    int IconFor(const std::string& name);

    const CImageList& images() const { return images_; }
    // Extensions looked up so far.
    const std::map<std::string, int>& iconMap() const { return iconMap_; }
    int lookups() const { return lookups_; }

private:
    CImageList images_;
    std::map<std::string, int> iconMap_;
    int lookups_ = 0;
};
