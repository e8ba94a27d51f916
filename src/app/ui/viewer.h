#pragma once

#include <string>
#include <vector>

// Runs the viewer: the application object, the main window and its message loop, then the
// teardown that writes the settings. words: the command line after the program name, already
// known not to ask for resize mode. Returns the process's exit code.
int RunViewer(int argc, char** argv, const std::vector<std::string>& words);

// The same, as the program finds it in the viewer module it loads (by this unmangled name).
extern "C" int LumoraRunViewer(int argc, char** argv, const std::vector<std::string>* words);
