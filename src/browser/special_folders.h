#pragma once

#include <string>

// The user's documents and desktop folders (the XDG user folders) with a trailing "/", or ""
// when the folder is not set or does not exist.
std::string DocumentsFolder();
std::string DesktopFolder();
