#pragma once

#include <memory>

// Questions about other programs' X windows, asked over a display connection of its own
// (Qt's connection is not used, so this works under any Qt platform). The connection to
// $DISPLAY is opened on first use and never retried: when there is no display, or the
// connection breaks (the program goes on), every answer is "none". Used on one thread at
// a time (the GUI thread in the program).
class QXX11Windows {
public:
    QXX11Windows();
    ~QXX11Windows();
    QXX11Windows(const QXX11Windows&) = delete;
    QXX11Windows& operator=(const QXX11Windows&) = delete;

    // The id of the process that owns the window (an X window id, as the hook library
    // reports it), from the window's _NET_WM_PID. 0 when the window has no such property,
    // no longer exists, belongs to a client on another machine (WM_CLIENT_MACHINE), or
    // when there is no display.
    long windowProcessId(unsigned long window);

    // True while the display connection is open (opening it if this is the first use).
    bool hasDisplay();

private:
    struct Connection;

    Connection* connection();

    std::unique_ptr<Connection> m_connection;
    bool m_opened = false; // opening was tried; it is not tried again
};
