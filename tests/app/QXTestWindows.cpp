#include "QXTestWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cstring>

namespace {

Display* display(void* handle) {
    return static_cast<Display*>(handle);
}

} // namespace

QXTestWindows::QXTestWindows(const std::string& name)
    : m_display(name.empty() ? nullptr : XOpenDisplay(name.c_str())) {}

void QXTestWindows::keepWindows() {
    XSetCloseDownMode(display(m_display), RetainPermanent);
}

QXTestWindows::~QXTestWindows() {
    if (m_display)
        XCloseDisplay(display(m_display));
}

unsigned long QXTestWindows::create(long pid, const char* machine) {
    Display* d = display(m_display);
    Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 50, 50, 0, 0, 0);
    if (pid > 0) {
        const unsigned long value = static_cast<unsigned long>(pid);
        XChangeProperty(d, window, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
    }
    if (machine)
        XChangeProperty(d, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(machine),
                        static_cast<int>(std::strlen(machine)));
    XMapWindow(d, window);
    XSync(d, False);
    return window;
}

void QXTestWindows::destroy(unsigned long window) {
    XDestroyWindow(display(m_display), window);
    XSync(display(m_display), False);
}
