#include "QXPointerWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <map>
#include <mutex>

namespace {

std::mutex g_mutex;
// The connections open now; errors on them are dropped.
std::map<Display*, bool> g_watched;
XErrorHandler g_previous = nullptr;
XIOErrorHandler g_previousIO = nullptr;

int onError(Display* display, XErrorEvent* event) {
    XErrorHandler previous;
    {
        std::lock_guard lock(g_mutex);
        if (g_watched.contains(display))
            return 0;
        previous = g_previous;
    }
    return previous ? previous(display, event) : 0;
}

// Returning lets Xlib go on to the connection's exit handler (markLost) instead of ending
// the process.
int onIOError(Display* display) {
    XIOErrorHandler previous;
    {
        std::lock_guard lock(g_mutex);
        if (g_watched.contains(display))
            return 0;
        previous = g_previousIO;
    }
    return previous ? previous(display) : 0;
}

void markLost(Display* display, void*) {
    std::lock_guard lock(g_mutex);
    if (auto it = g_watched.find(display); it != g_watched.end())
        it->second = true;
}

void watch(Display* display) {
    std::lock_guard lock(g_mutex);
    if (g_watched.empty()) {
        g_previous = XSetErrorHandler(onError);
        g_previousIO = XSetIOErrorHandler(onIOError);
    }
    g_watched[display] = false;
}

void unwatch(Display* display) {
    std::lock_guard lock(g_mutex);
    g_watched.erase(display);
    if (!g_watched.empty())
        return;
    // Put the earlier handlers back unless someone installed others over ours meanwhile.
    if (XErrorHandler current = XSetErrorHandler(g_previous); current != onError)
        XSetErrorHandler(current);
    if (XIOErrorHandler current = XSetIOErrorHandler(g_previousIO); current != onIOError)
        XSetIOErrorHandler(current);
    g_previous = nullptr;
    g_previousIO = nullptr;
}

bool lost(Display* display) {
    std::lock_guard lock(g_mutex);
    auto it = g_watched.find(display);
    return it == g_watched.end() || it->second;
}

// Frames nest the client a level or two down; this bounds the search in odd trees.
constexpr int kMaxDepth = 8;

} // namespace

QXPointerWindow::QXPointerWindow() {
    m_display = XOpenDisplay(nullptr);
    if (!m_display)
        return;
    watch(m_display);
    XSetIOErrorExitHandler(m_display, markLost, nullptr);
    m_root = DefaultRootWindow(m_display);
    m_wmState = atom("WM_STATE");
}

QXPointerWindow::~QXPointerWindow() {
    if (!m_display)
        return;
    // Closing waits for the server to have handled every request, so errors of this press
    // still arrive while the handler is in place.
    XCloseDisplay(m_display);
    unwatch(m_display);
}

Display* QXPointerWindow::display() const {
    return m_display && !lost(m_display) ? m_display : nullptr;
}

unsigned long QXPointerWindow::atom(const char* name) {
    Display* connection = display();
    return connection ? XInternAtom(connection, name, False) : None;
}

std::optional<unsigned long> QXPointerWindow::cardinal(unsigned long window,
                                                       unsigned long property) {
    Display* connection = display();
    if (!connection || window == None || property == None)
        return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<unsigned long> value;
    if (XGetWindowProperty(connection, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 1 && data)
        // Xlib hands 32-bit items out as longs, sign-extended.
        value = *reinterpret_cast<unsigned long*>(data) & 0xffffffffUL;
    if (data)
        XFree(data);
    return value;
}

bool QXPointerWindow::hasWMState(unsigned long window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(m_display, window, m_wmState, 0, 0, False,
                                          AnyPropertyType, &type, &format, &count, &after, &data);
    if (data)
        XFree(data);
    return status == Success && type != None;
}

// Each level's children are asked first, then searched in turn; the first window found
// carrying WM_STATE is the client.
unsigned long QXPointerWindow::findClient(unsigned long window, int depth) {
    if (depth > kMaxDepth || !display())
        return None;
    Window rootReturn = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(m_display, window, &rootReturn, &parent, &children, &count))
        return None;
    Window found = None;
    for (unsigned int i = 0; i < count && found == None; ++i)
        if (hasWMState(children[i]))
            found = children[i];
    for (unsigned int i = 0; i < count && found == None; ++i)
        found = findClient(children[i], depth + 1);
    if (children)
        XFree(children);
    return found;
}

QXPointerWindow::Target QXPointerWindow::clientUnderPointer() {
    Display* connection = display();
    if (!connection)
        return {};
    Window rootReturn = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    // False: the pointer is on another screen than the default one.
    if (!XQueryPointer(connection, m_root, &rootReturn, &child, &rootX, &rootY, &windowX, &windowY,
                       &mask) ||
        child == None)
        return {};
    Window client = hasWMState(child) ? child : findClient(child, 0);
    if (client == None)
        client = child;
    if (!display())
        return {};
    return {client, rootX, rootY};
}
