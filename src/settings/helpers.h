#pragma once

#include <string>
#include <string_view>

// Small support functions shared by several parts of the program. None reports an error beyond
// its result.

// A named string of the program's version information: "FileVersion" and "ProductVersion" give
// the compiled-in version as "2, 4, 0, 0"; an unknown name gives "".
std::string GetVersionString(const std::string& name);

// A to Z mapped to a to z; every other byte unchanged.
std::string ToLowerString(std::string text);

// The lower-cased text after the last "." of the path, or "" when there is none. The dot is
// searched in the whole path, so "a.b/c" gives "b/c".
std::string GetExtension(const std::string& path);

// Comparisons with a to z mapped to A to Z. Bytes compare as signed values, so bytes from 0x80
// up (the lead and trail bytes of non-ASCII UTF-8 characters) sort before every ASCII one.
bool TextLessNoCase(std::string_view a, std::string_view b);
bool TextEqualNoCase(std::string_view a, std::string_view b);

// UTF-8 text as UTF-16; each byte that does not start or continue a valid sequence becomes
// U+FFFD.
std::u16string ToWideText(std::string_view text);

// Moves one file or folder to the freedesktop.org trash of its volume: the user's trash for files
// on the volume of $XDG_DATA_HOME, otherwise the volume's own .Trash/$uid or .Trash-$uid. True
// when the item was moved; nothing is ever deleted outright.
bool ShellDelete(const std::string& path);

bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);

// The user's home folder with a trailing "/"; "/" when it does not exist.
std::string HomeFolder();
// $XDG_DATA_HOME when it is an absolute path, otherwise ~/.local/share.
std::string DataHome();

// File-type icons: there is no registry of file types to read in the core. The desktop layer finds
// a file's icon through the MIME database and the icon theme (type of the name, its icon name,
// then the generic icon name), once per extension.
