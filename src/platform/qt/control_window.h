#pragma once

// For the layer's own control sources: the window a control lives in.

#include <memory>

#include "platform/qt/window_impl.h"

// Makes a child window of parent whose client area the control fills, and routes the input of
// control->widget and control->input to the window's form. Created hidden, like every child.
UniqueWindow CreateControlWindow(HWND parent, std::unique_ptr<CControl> control);
// Routes the input of one more widget of the control (a button of a toolbar, say).
void WatchControlInput(CWindow* window, QWidget* widget);
