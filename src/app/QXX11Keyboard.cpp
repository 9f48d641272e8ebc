#include "app/QXX11Keyboard.h"

#include "platform/QXKeyboardLayouts.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

struct QXX11Keyboard::Connection {
    Display* display = nullptr;
    ~Connection() {
        if (display)
            XCloseDisplay(display);
    }
};

QXX11Keyboard::QXX11Keyboard() = default;
QXX11Keyboard::~QXX11Keyboard() = default;

QXX11Keyboard::Connection* QXX11Keyboard::connection() {
    if (!m_opened) {
        m_opened = true;
        const char* name = std::getenv("DISPLAY");
        if (name && *name) {
            if (Display* display = XOpenDisplay(nullptr)) {
                m_connection = std::make_unique<Connection>();
                m_connection->display = display;
            }
        }
    }
    return m_connection.get();
}

std::optional<std::vector<QXX11Keyboard::Layout>> QXX11Keyboard::installedLayouts() {
    Connection* c = connection();
    if (!c)
        return std::nullopt;
    Atom names = XInternAtom(c->display, "_XKB_RULES_NAMES", True);
    if (names == None)
        return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(c->display, DefaultRootWindow(c->display), names, 0, 4096, False,
                           XA_STRING, &type, &format, &items, &after, &data) != Success ||
        !data || format != 8) {
        if (data)
            XFree(data);
        return std::nullopt;
    }
    const auto rules = QXKeyboardLayouts::parseXkbRulesNames(
        std::string_view(reinterpret_cast<const char*>(data), items));
    XFree(data);
    std::vector<Layout> layouts;
    for (size_t i = 0; i < rules.layouts.size(); ++i)
        layouts.emplace_back(rules.layouts[i], rules.variants[i]);
    return layouts;
}

std::optional<unsigned> QXX11Keyboard::currentGroup() {
    Connection* c = connection();
    if (!c)
        return std::nullopt;
    XkbStateRec state{};
    if (XkbGetState(c->display, XkbUseCoreKbd, &state) != Success)
        return std::nullopt;
    return state.group;
}

unsigned long QXX11Keyboard::activeWindow() {
    Connection* c = connection();
    if (!c)
        return 0;
    Atom active = XInternAtom(c->display, "_NET_ACTIVE_WINDOW", True);
    if (active == None)
        return 0;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long window = 0;
    if (XGetWindowProperty(c->display, DefaultRootWindow(c->display), active, 0, 1, False,
                           XA_WINDOW, &type, &format, &items, &after, &data) == Success &&
        data && format == 32 && items == 1)
        window = *reinterpret_cast<unsigned long*>(data);
    if (data)
        XFree(data);
    return window;
}
