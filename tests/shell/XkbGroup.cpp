// Locks an XKB group the way a layout switch does (kept apart: Xlib clashes with Qt).
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

bool lockXkbGroup(unsigned group) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const bool ok = XkbLockGroup(display, XkbUseCoreKbd, group);
    XSync(display, False);
    XCloseDisplay(display);
    return ok;
}
