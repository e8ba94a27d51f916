#pragma once

// With LUMORA_PAINT_LOG set, the panes note on standard error what they do and when (wall-clock
// seconds), for the scripts in bench/ that measure how soon pictures reach the screen.

bool PaintLogOn();
// One line: "lumora-<what> <seconds> <a> <b> <c>".
void PaintLog(const char* what, int a, int b, int c);
// With the log on and LUMORA_WIDGET_LOG set too, from the first call: one line per widget paint of
// the program's windows, "lumora-widget <seconds> <kind> <x> <y> <width> <height>" in its window's
// coordinates, kind being "pane" (the image pane), "frame" (a top-level window's own client),
// "client" (another form) or the painted control's class; and "lumora-flush <seconds> <x> <y>
// <width> <height>" after each repaint of a top-level window that painted something (its frame
// geometry). Together they show what reached the screen, frame by frame.
void WatchPaints();
