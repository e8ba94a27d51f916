#pragma once

// With LUMORA_PAINT_LOG set, the panes note on standard error what they do and when (wall-clock
// seconds), for the scripts in bench/ that measure how soon pictures reach the screen.

bool PaintLogOn();
// One line: "lumora-<what> <seconds> <a> <b> <c>".
void PaintLog(const char* what, int a, int b, int c);
