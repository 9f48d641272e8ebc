#pragma once

#include <optional>

struct _XDisplay;

// One connection to $DISPLAY for the length of one key press, and the questions the window
// keys ask through it.
//
// Key presses arrive on the program's GUI thread while other parts of the program keep
// connections of their own, so a press opens its own connection and closes it when done.
// Xlib reports errors to handlers global to the process whose defaults end the process, and
// a window may vanish between two requests. While a connection lives, a handler of this
// library drops the errors of this connection and hands every other one to the handler it
// replaced; the last connection to close puts that handler back, so nothing of the library
// stays installed after a press (the library may be unloaded).
class QXPointerWindow {
public:
    QXPointerWindow();
    ~QXPointerWindow();
    QXPointerWindow(const QXPointerWindow&) = delete;
    QXPointerWindow& operator=(const QXPointerWindow&) = delete;

    // Null when there is no display or the server went away.
    _XDisplay* display() const;
    unsigned long root() const { return m_root; }

    // The application's own top-level window under the pointer: the child of the root window
    // the pointer is in (usually the window manager's frame), then the window below it that
    // carries WM_STATE, which the window manager puts on the windows it manages; the root's
    // child itself when none does (no window manager, or a window it does not manage).
    struct Target {
        unsigned long window = 0; // 0: the pointer is over no window (or no display)
        int rootX = 0;
        int rootY = 0;
    };
    Target clientUnderPointer();

    unsigned long atom(const char* name);
    // A 32-bit CARDINAL property's first value; empty when absent, of another type, or when
    // the window is gone.
    std::optional<unsigned long> cardinal(unsigned long window, unsigned long property);

private:
    bool hasWMState(unsigned long window);
    unsigned long findClient(unsigned long window, int depth);

    _XDisplay* m_display = nullptr;
    unsigned long m_root = 0;
    unsigned long m_wmState = 0;
};
