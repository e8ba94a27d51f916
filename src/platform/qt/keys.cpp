// Qt's keys and buttons in the codes the forms compare against.

#include <QGuiApplication>
#include <QKeyEvent>

#include "platform/qt/window_impl.h"

WPARAM VirtualKeyFromQt(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return '0' + (key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + (key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Backspace:
            return VK_BACK;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Shift:
            return VK_SHIFT;
        case Qt::Key_Control:
            return VK_CONTROL;
        case Qt::Key_Alt:
            return VK_MENU;
        case Qt::Key_Pause:
            return VK_PAUSE;
        case Qt::Key_CapsLock:
            return VK_CAPITAL;
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Space:
            return VK_SPACE;
        case Qt::Key_PageUp:
            return VK_PRIOR;
        case Qt::Key_PageDown:
            return VK_NEXT;
        case Qt::Key_End:
            return VK_END;
        case Qt::Key_Home:
            return VK_HOME;
        case Qt::Key_Left:
            return VK_LEFT;
        case Qt::Key_Up:
            return VK_UP;
        case Qt::Key_Right:
            return VK_RIGHT;
        case Qt::Key_Down:
            return VK_DOWN;
        case Qt::Key_Insert:
            return VK_INSERT;
        case Qt::Key_Delete:
            return VK_DELETE;
        case Qt::Key_Menu:
            return VK_APPS;
        case Qt::Key_Asterisk:
            return VK_MULTIPLY;
        case Qt::Key_Plus:
            return VK_ADD;
        case Qt::Key_Minus:
            return VK_SUBTRACT;
        case Qt::Key_Slash:
            return VK_DIVIDE;
        default:
            return 0;
    }
}

LPARAM KeyMessageLParam(const QKeyEvent* event, bool up) {
    // X11 key codes are the PC scan codes plus 8.
    const uint32_t native = event->nativeScanCode();
    const uint32_t scan = native > 8 ? (native - 8) & 0xFF : 0;
    uint32_t l = 1u | (scan << 16);
    if (up)
        l |= (1u << 30) | (1u << 31);
    else if (event->isAutoRepeat())
        l |= 1u << 30;
    return static_cast<LPARAM>(l);
}

WPARAM MouseKeyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    WPARAM state = 0;
    if (buttons & Qt::LeftButton) state |= MK_LBUTTON;
    if (buttons & Qt::RightButton) state |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) state |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier) state |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier) state |= MK_CONTROL;
    return state;
}

int16_t GetKeyState(int virtualKey) {
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
    bool down = false;
    if (virtualKey == static_cast<int>(VK_SHIFT)) down = held & Qt::ShiftModifier;
    if (virtualKey == static_cast<int>(VK_CONTROL)) down = held & Qt::ControlModifier;
    if (virtualKey == static_cast<int>(VK_MENU)) down = held & Qt::AltModifier;
    return down ? static_cast<int16_t>(0x8000) : 0;
}

int QtKeyFromVirtual(WPARAM virtualKey) {
    if (virtualKey >= 'A' && virtualKey <= 'Z') return Qt::Key_A + static_cast<int>(virtualKey - 'A');
    if (virtualKey >= '0' && virtualKey <= '9') return Qt::Key_0 + static_cast<int>(virtualKey - '0');
    if (virtualKey >= VK_F1 && virtualKey <= VK_F24)
        return Qt::Key_F1 + static_cast<int>(virtualKey - VK_F1);
    // Every other code the forms use maps back through the table above.
    static const int kKeys[] = {
        Qt::Key_Backspace, Qt::Key_Tab,      Qt::Key_Return,   Qt::Key_Shift,  Qt::Key_Control,
        Qt::Key_Alt,       Qt::Key_Pause,    Qt::Key_CapsLock, Qt::Key_Escape, Qt::Key_Space,
        Qt::Key_PageUp,    Qt::Key_PageDown, Qt::Key_End,      Qt::Key_Home,   Qt::Key_Left,
        Qt::Key_Up,        Qt::Key_Right,    Qt::Key_Down,     Qt::Key_Insert, Qt::Key_Delete,
        Qt::Key_Menu,      Qt::Key_Asterisk, Qt::Key_Plus,     Qt::Key_Minus,  Qt::Key_Slash};
    for (int key : kKeys)
        if (VirtualKeyFromQt(key) == virtualKey) return key;
    return 0;
}
