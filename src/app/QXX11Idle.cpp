#include "app/QXX11Idle.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

struct QXX11Idle::Connection {
    Display* display = nullptr;
    XScreenSaverInfo* info = nullptr;
    ~Connection() {
        if (info)
            XFree(info);
        if (display)
            XCloseDisplay(display);
    }
};

QXX11Idle::QXX11Idle() = default;
QXX11Idle::~QXX11Idle() = default;

std::optional<unsigned> QXX11Idle::idleSeconds() {
    if (!m_opened) {
        m_opened = true;
        auto connection = std::make_unique<Connection>();
        connection->display = XOpenDisplay(nullptr);
        int event = 0, error = 0;
        if (connection->display &&
            XScreenSaverQueryExtension(connection->display, &event, &error)) {
            connection->info = XScreenSaverAllocInfo();
            if (connection->info)
                m_connection = std::move(connection);
        }
    }
    if (!m_connection)
        return std::nullopt;
    Display* display = m_connection->display;
    if (!XScreenSaverQueryInfo(display, DefaultRootWindow(display), m_connection->info))
        return std::nullopt;
    return static_cast<unsigned>(m_connection->info->idle / 1000);
}
