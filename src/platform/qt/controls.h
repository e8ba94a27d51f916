#pragma once

// Controls: Qt widgets in windows of their own, which forms subclass. The mouse and key input of
// a control reaches its window's form (SetWindowForm) as messages before the control sees it;
// the form passes on what it does not handle with CallWindowProc, and only then does the control
// act on it. A control without a form gets its input directly.

#include <QIcon>
#include <string>
#include <vector>

#include "platform/qt/form_window.h"

// The control's own handling of a message. Input that arrived as a Qt event is handed to the
// control as it came; a key or mouse message from elsewhere (posted, sent, or another message
// than the one being handled) becomes the matching event. A button-down made up this way is a
// whole click, as the control's own button-down waits for the release. Other messages give 0.
LRESULT CallWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

void EnableWindow(HWND window, bool enable);
bool IsWindowEnabled(HWND window);
// Between screen coordinates and the window's client coordinates.
void ScreenToClient(HWND window, POINT* point);
void ClientToScreen(HWND window, POINT* point);

// Small pictures by index, for list views and toolbars.
class CImageList {
public:
    // Returns the new image's index.
    int Add(const QIcon& icon);
    // A picture of the program's resources (":/res/..."); a missing one adds an empty image.
    int AddResource(const std::string& path);
    // An empty icon for an index out of range.
    QIcon Get(int index) const;
    // Out of range: nothing happens.
    void Replace(int index, const QIcon& icon);
    // Grows with empty images or drops the last ones.
    void SetCount(int count);
    int Count() const { return static_cast<int>(icons_.size()); }

private:
    std::vector<QIcon> icons_;
};
