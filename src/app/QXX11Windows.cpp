#include "app/QXX11Windows.h"

// Xlib's macros (None, Bool, Status, ...) clash with Qt: no Qt header in this file.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cctype>
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace {

// X errors and broken connections reach process-wide handlers. Ours are installed while
// any connection of ours is open; what happens on other connections (Qt's, the hook
// library's thread) goes on to the handlers that were there before, so installing ours
// changes nothing for them.
std::mutex g_errorMutex;
std::map<Display*, int> g_lastError; // our connections -> code of the last error, 0 none
XErrorHandler g_previousHandler = nullptr;
XIOErrorHandler g_previousIOHandler = nullptr;

int trapError(Display* display, XErrorEvent* event) {
    XErrorHandler previous;
    {
        std::lock_guard lock(g_errorMutex);
        if (auto it = g_lastError.find(display); it != g_lastError.end()) {
            it->second = event->error_code;
            return 0;
        }
        previous = g_previousHandler;
    }
    return previous ? previous(display, event) : 0;
}

// Xlib's own handler ends the program when a connection breaks. For ours it returns, and
// the connection's exit handler (Connection::connectionBroken) marks it dead instead.
int trapIOError(Display* display) {
    XIOErrorHandler previous;
    {
        std::lock_guard lock(g_errorMutex);
        if (g_lastError.contains(display))
            return 0;
        previous = g_previousIOHandler;
    }
    return previous ? previous(display) : 0;
}

void watchErrors(Display* display) {
    std::lock_guard lock(g_errorMutex);
    if (g_lastError.empty()) {
        g_previousHandler = XSetErrorHandler(trapError);
        g_previousIOHandler = XSetIOErrorHandler(trapIOError);
    }
    g_lastError[display] = 0;
}

void unwatchErrors(Display* display) {
    std::lock_guard lock(g_errorMutex);
    g_lastError.erase(display);
    if (!g_lastError.empty())
        return;
    // Put the earlier handlers back unless someone installed others over ours.
    if (XErrorHandler current = XSetErrorHandler(g_previousHandler); current != trapError)
        XSetErrorHandler(current);
    if (XIOErrorHandler current = XSetIOErrorHandler(g_previousIOHandler); current != trapIOError)
        XSetIOErrorHandler(current);
    g_previousHandler = nullptr;
    g_previousIOHandler = nullptr;
}

int takeLastError(Display* display) {
    std::lock_guard lock(g_errorMutex);
    int& code = g_lastError[display];
    return std::exchange(code, 0);
}

std::string lowerHostPart(std::string_view name) {
    std::string host(name.substr(0, name.find('.')));
    for (char& c : host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host;
}

} // namespace

struct QXX11Windows::Connection {
    Display* display = nullptr;
    Atom pidAtom = 0;
    bool broken = false;
    std::string host; // this machine's name, lower-cased, without its domain

    // Xlib calls this when the connection breaks (the server went away). Its default
    // ends the program; returning here leaves a dead connection that is closed when the
    // question that found it broken has been answered.
    static void connectionBroken(Display*, void* self) {
        static_cast<Connection*>(self)->broken = true;
    }

    ~Connection() {
        if (!display)
            return;
        XCloseDisplay(display);
        unwatchErrors(display);
    }
};

QXX11Windows::QXX11Windows() = default;

QXX11Windows::~QXX11Windows() = default;

QXX11Windows::Connection* QXX11Windows::connection() {
    if (m_connection && m_connection->broken)
        m_connection.reset();
    if (m_opened)
        return m_connection.get();
    m_opened = true;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->display = display;
    watchErrors(display);
    XSetIOErrorExitHandler(display, &Connection::connectionBroken, connection.get());
    connection->pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0)
        connection->host = lowerHostPart(host);
    if (connection->broken)
        return nullptr; // m_connection stays empty: the broken display closes here
    m_connection = std::move(connection);
    return m_connection.get();
}

bool QXX11Windows::hasDisplay() {
    return connection() != nullptr;
}

long QXX11Windows::windowProcessId(unsigned long window) {
    Connection* c = window ? connection() : nullptr;
    if (!c)
        return 0;
    Display* display = c->display;
    takeLastError(display);

    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, c->pidAtom, 0, 1, False, XA_CARDINAL,
                                          &type, &format, &count, &remaining, &data);
    long pid = 0;
    // Format-32 property data comes as an array of long, whatever the width of long.
    if (status == Success && !takeLastError(display) && !c->broken && data && type == XA_CARDINAL &&
        format == 32 && count == 1)
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data) & 0xFFFFFFFFul);
    if (data)
        XFree(data);

    // A process id is only meaningful on the machine that runs the client.
    if (pid > 0 && !c->host.empty()) {
        XTextProperty machine{};
        if (XGetWMClientMachine(display, window, &machine) && machine.value) {
            const std::string_view name(reinterpret_cast<const char*>(machine.value),
                                        machine.nitems);
            if (machine.format == 8 && lowerHostPart(name) != c->host &&
                lowerHostPart(name) != "localhost")
                pid = 0;
        }
        if (machine.value)
            XFree(machine.value);
        if (takeLastError(display) || c->broken)
            pid = 0;
    }
    if (c->broken)
        m_connection.reset();
    return pid;
}
