#include "hook/QXXErrorTrap.h"

#include <X11/Xlib.h>
#include <cstdlib>
#include <mutex>

namespace {

thread_local int t_depth = 0;
XErrorHandler g_previousError = nullptr;
XIOErrorHandler g_previousIOError = nullptr;

int onError(Display* display, XErrorEvent* error) {
    if (t_depth > 0)
        return 0;
    return g_previousError ? g_previousError(display, error) : 0;
}

// Returning lets Xlib go on to the connection's exit handler (markLost) instead of
// ending the process.
int onIOError(Display* display) {
    if (t_depth > 0)
        return 0;
    return g_previousIOError ? g_previousIOError(display) : 0;
}

} // namespace

QXXErrorScope::QXXErrorScope() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_previousError = XSetErrorHandler(onError);
        g_previousIOError = XSetIOErrorHandler(onIOError);
    });
    ++t_depth;
}

QXXErrorScope::~QXXErrorScope() {
    --t_depth;
}

QXXConnection::QXXConnection() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return;
    m_display = XOpenDisplay(name);
    if (m_display)
        XSetIOErrorExitHandler(m_display, markLost, this);
}

QXXConnection::~QXXConnection() {
    if (m_display)
        XCloseDisplay(m_display);
}

void QXXConnection::markLost(Display*, void* connection) {
    static_cast<QXXConnection*>(connection)->m_lost = true;
}
