#pragma once

// Modal dialogs: one QDialog per dialog class, built from its dialog resource (controls, texts
// and ids, laid out with Qt layouts). The dialog's messages reach the object's DialogProc: the
// initialisation, being shown, activation, and WM_COMMAND with the control id for a button
// pressed or an edit changed.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/form_window.h"

class QWidget;

constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_INITDIALOG = 0x0110;
// Notices in the high word of WM_COMMAND's wParam.
constexpr uint16_t BN_CLICKED = 0;
constexpr uint16_t EN_CHANGE = 0x0300;

enum class DialogItemKind {
    kLabel,          // one line of text; with an id, one the dialog may change
    kText,           // text that wraps
    kEdit,           // a short field
    kReadOnlyEdit,   // a field that takes the rest of the row, not typed into
    kButton,         //
    kDefaultButton,  // pressed by Enter
    kProgress,       // a progress bar, range 0 to 100 and empty at first
};

struct DialogItem {
    DialogItemKind kind;
    int id = 0;  // 0: none
    std::string text;
};

// A group box (none when the title is empty) holding rows of items side by side, whose columns
// line up from row to row.
struct DialogGroup {
    std::string title;
    std::vector<std::vector<DialogItem>> rows;
};

struct DialogResource {
    std::string title;
    int width = 0;   // dialog units: a quarter of the average character width
    int height = 0;  // and an eighth of the line height
    bool closeBox = true;
    std::vector<DialogGroup> groups;
    std::vector<DialogItem> buttons;  // the bottom row, at the right
};

class CBaseDialog {
public:
    virtual ~CBaseDialog() = default;
    CBaseDialog(const CBaseDialog&) = delete;
    CBaseDialog& operator=(const CBaseDialog&) = delete;

    // Runs the dialog modally over parent's window and returns its end code.
    virtual intptr_t DoModal(HWND parent);
    // Non-zero when the message was handled.
    virtual intptr_t DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // The dialog while it runs (from WM_INITDIALOG on), else null.
    HWND window() const { return window_; }

protected:
    explicit CBaseDialog(DialogResource resource) : resource_(std::move(resource)) {}

private:
    friend class CDialogWindow;
    DialogResource resource_;
    HWND window_ = nullptr;
};

// Ends the modal run; DoModal returns result.
void EndDialog(HWND dialog, intptr_t result);
std::string GetDlgItemText(HWND dialog, int id);
// An edit's change notice follows, as when the user types.
void SetDlgItemText(HWND dialog, int id, const std::string& text);
void SetDlgItemToolTip(HWND dialog, int id, const std::string& text);
// A progress bar's range and position (PBM_SETRANGE, PBM_SETPOS); -1 when there is no such bar.
void SetDlgItemRange(HWND dialog, int id, int low, int high);
void SetDlgItemPos(HWND dialog, int id, int position);
int GetDlgItemPos(HWND dialog, int id);
// The control with the id, or null.
QWidget* GetDlgItem(HWND dialog, int id);
// The dialog's own widget (owner of message boxes and pickers), or null when dialog is none.
QWidget* GetDialogWidget(HWND dialog);
// The innermost dialog running now, or null.
HWND GetActiveDialog();
