#include "CWinTweakActions.h"

#include "QXPointerWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

namespace {

// Compositing window managers read the window's opacity as a fraction of 0xffffffff: alpha
// 128 of 255 is 0x80808080. Without the property a window is opaque.
constexpr unsigned long kHalfOpacity = 0x80808080UL;

// _NET_WM_MOVERESIZE: a move with the pointer, started as if by button 1 of an ordinary
// application (source indication 1).
constexpr long kMoveResizeMove = 8;
constexpr long kMoveButton = 1;
constexpr long kSourceApplication = 1;

} // namespace

void CXRayWindowAction::KeyDown() {
    QXPointerWindow x;
    const auto target = x.clientUnderPointer();
    Display* display = x.display();
    if (!display || target.window == None)
        return;
    // Making the program's own windows (the editor, the virtual keyboard) see-through is never
    // what the user asked for.
    if (x.cardinal(target.window, x.atom("_NET_WM_PID")) == static_cast<unsigned long>(getpid()))
        return;
    const Atom opacity = x.atom("_NET_WM_WINDOW_OPACITY");
    if (x.cardinal(target.window, opacity)) {
        XDeleteProperty(display, target.window, opacity);
    } else {
        const unsigned long value = kHalfOpacity;
        XChangeProperty(display, target.window, opacity, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&value), 1);
    }
    XFlush(display);
}

// A key has no child controls to drag and no window to disable while dragging: the window
// manager owns the frame under X11, so the key asks it to run its own move, as a title-bar
// drag would.
void CWindowMoverAction::KeyDown() {
    QXPointerWindow x;
    const auto target = x.clientUnderPointer();
    Display* display = x.display();
    if (!display || target.window == None)
        return;
    // The window manager's move grabs the pointer, which fails while a client holds a grab;
    // clients are asked to let theirs go before the request. This fresh connection holds
    // none, so this only keeps to the protocol.
    XUngrabPointer(display, CurrentTime);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target.window;
    event.xclient.message_type = x.atom("_NET_WM_MOVERESIZE");
    event.xclient.format = 32;
    event.xclient.data.l[0] = target.rootX;
    event.xclient.data.l[1] = target.rootY;
    event.xclient.data.l[2] = kMoveResizeMove;
    event.xclient.data.l[3] = kMoveButton;
    event.xclient.data.l[4] = kSourceApplication;
    XSendEvent(display, x.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}
