#pragma once

// The keyboard table: key presses anywhere in a top-level window that match an entry become
// WM_COMMAND (id, 1) to that window before any other window sees them.

#include <vector>

#include "platform/qt/form_window.h"

constexpr uint8_t FVIRTKEY = 0x01;
constexpr uint8_t FSHIFT = 0x04;
constexpr uint8_t FCONTROL = 0x08;
constexpr uint8_t FALT = 0x10;

struct ACCEL {
    uint8_t fVirt;  // FVIRTKEY with FSHIFT, FCONTROL, FALT as required
    uint16_t key;   // virtual-key code
    uint16_t cmd;
};

class QObject;

class CAcceleratorTable {
public:
    CAcceleratorTable(HWND window, std::vector<ACCEL> entries);
    ~CAcceleratorTable();
    CAcceleratorTable(const CAcceleratorTable&) = delete;
    CAcceleratorTable& operator=(const CAcceleratorTable&) = delete;

    // The command of a key with its modifiers, or -1.
    int Lookup(WPARAM virtualKey, bool shift, bool control, bool alt) const;

private:
    HWND window_;
    std::vector<ACCEL> entries_;
    QObject* filter_;
};
