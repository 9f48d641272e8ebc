#pragma once

struct _XDisplay;

// Xlib reports protocol errors and lost connections to handlers that are global to the
// process, and its defaults end the process. The library installs its own pair once and
// keeps the ones it replaced: an error raised on a thread inside a QXXErrorScope (a
// thread working on one of the library's own connections) is dropped, since a window
// that vanished between an event and a query is nothing to die for; every other error
// goes on to the previous handler. A handler installed later by someone else that does
// not chain back takes these errors over.
class QXXErrorScope {
public:
    QXXErrorScope();
    ~QXXErrorScope();
    QXXErrorScope(const QXXErrorScope&) = delete;
    QXXErrorScope& operator=(const QXXErrorScope&) = delete;
};

// One connection of the library's own to $DISPLAY. Opened, used and closed only inside a
// QXXErrorScope, by one thread at a time. If the server goes away the process lives on:
// lost() becomes true and the connection only waits to be closed.
class QXXConnection {
public:
    QXXConnection();
    ~QXXConnection();
    QXXConnection(const QXXConnection&) = delete;
    QXXConnection& operator=(const QXXConnection&) = delete;

    // nullptr when DISPLAY is unset or the server cannot be reached.
    _XDisplay* display() const { return m_display; }
    bool lost() const { return m_lost; }

private:
    static void markLost(_XDisplay* display, void* connection);

    _XDisplay* m_display = nullptr;
    bool m_lost = false;
};
