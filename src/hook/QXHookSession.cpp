#include "hook/QXHookSession.h"

#include "hook/QXHookTarget.h"
#include "hook/QXModifierMask.h"
#include "hook/QXProcessWatcher.h"
#include "hook/QXXErrorTrap.h"
#include "hook/QXXkbState.h"
#include "platform/QXKeyboardLayouts.h"
#include "platform/QXMessages.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <array>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <string_view>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace QXModifierMask;

namespace {

// Processes are looked at again whenever the set of top-level windows changes (a
// program that starts usually opens one); otherwise this often, so a program that
// never opens a window is noticed too. Between these the thread sleeps in poll().
constexpr std::chrono::seconds kRescanPeriod(3);

class QXX11HookSession final : public QXHookSession {
public:
    QXX11HookSession(QXHookTarget& target, std::atomic<long>& mask)
        : m_target(target), m_mask(mask) {}
    ~QXX11HookSession() override;

    bool start();

private:
    void run();
    void handle(XkbEvent& event);
    void onKey(unsigned keycode, bool press);
    void onXkb(XkbEvent& event);
    void onIndicators(unsigned state, unsigned changed);
    void onActiveWindow();
    void readGroups();
    void rescanProcesses();
    uint32_t heldNow() const;
    Window activeWindow();
    bool isFullScreen(Window window);
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
        m_target.post(message, wParam, lParam);
    }

    QXHookTarget& m_target;
    std::atomic<long>& m_mask;
    std::unique_ptr<QXXConnection> m_connection;
    Display* m_display = nullptr;
    Window m_root = None;
    int m_xiOpcode = -1;
    int m_xkbEventBase = -1;
    Atom m_netActiveWindow = None;
    Atom m_netClientList = None;
    Atom m_netWmState = None;
    Atom m_netWmStateFullScreen = None;
    Atom m_xkbRulesNames = None;

    QXXkbLocks m_locks;
    std::bitset<256> m_down;                // keys seen pressed and not yet released
    std::array<uint32_t, 256> m_downBits{}; // held bits each of them gave when pressed
    int m_group = 0;
    std::vector<uint32_t> m_groupHandles; // layout handle of each XKB group
    Window m_activeWindow = None;

    QXProcessWatcher m_processes;
    bool m_rescanWanted = false;

    int m_stopFd = -1;
    std::thread m_thread;
};

QXX11HookSession::~QXX11HookSession() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        while (::write(m_stopFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    if (m_stopFd >= 0)
        ::close(m_stopFd);
    // Still open only when the thread never ran; then this is the thread that set it up.
    QXXErrorScope scope;
    m_connection.reset();
}

bool QXX11HookSession::start() {
    QXXErrorScope scope;
    m_connection = std::make_unique<QXXConnection>();
    m_display = m_connection->display();
    if (!m_display)
        return false;
    m_root = DefaultRootWindow(m_display);

    // Raw key events come from every keyboard whatever window has the focus or a grab.
    int event = 0, error = 0;
    if (XQueryExtension(m_display, "XInputExtension", &m_xiOpcode, &event, &error)) {
        int major = 2, minor = 2;
        if (XIQueryVersion(m_display, &major, &minor) == Success) {
            unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
            XISetMask(bits, XI_RawKeyPress);
            XISetMask(bits, XI_RawKeyRelease);
            XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
            XISelectEvents(m_display, m_root, &mask, 1);
        } else {
            m_xiOpcode = -1;
        }
    } else {
        m_xiOpcode = -1;
    }

    int xkbOpcode = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(m_display, &xkbOpcode, &m_xkbEventBase, &error, &major, &minor)) {
        XkbSelectEventDetails(m_display, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                              XkbGroupStateMask);
        XkbSelectEventDetails(m_display, XkbUseCoreKbd, XkbIndicatorStateNotify,
                              XkbAllIndicatorsMask, XkbAllIndicatorsMask);
        const unsigned long keymap = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(m_display, XkbUseCoreKbd, keymap, keymap);
        m_locks = QXXkbLocks(m_display);
        XkbStateRec state{};
        if (XkbGetState(m_display, XkbUseCoreKbd, &state) == Success)
            m_group = state.group;
    } else {
        m_xkbEventBase = -1;
    }

    // Root properties carry the active window, the client list and the keyboard
    // configuration; top-level windows appearing and going are the cue to look at the
    // processes again.
    XSelectInput(m_display, m_root, PropertyChangeMask | SubstructureNotifyMask);
    m_netActiveWindow = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
    m_netClientList = XInternAtom(m_display, "_NET_CLIENT_LIST", False);
    m_netWmState = XInternAtom(m_display, "_NET_WM_STATE", False);
    m_netWmStateFullScreen = XInternAtom(m_display, "_NET_WM_STATE_FULLSCREEN", False);
    m_xkbRulesNames = XInternAtom(m_display, "_XKB_RULES_NAMES", False);
    readGroups();
    m_activeWindow = activeWindow();

    // The starting mask, and the keys already down so that their releases count.
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    uint32_t mask = 0;
    for (unsigned keycode = 8; keycode < 256; ++keycode) {
        if (keys[keycode / 8] & (1 << (keycode % 8))) {
            m_down[keycode] = true;
            m_downBits[keycode] = keyRole(m_display, keycode, m_group).heldBits;
            mask |= m_downBits[keycode];
        }
    }
    if (m_xkbEventBase >= 0)
        mask |= m_locks.read(m_display);
    m_mask.store(long(mask));

    m_processes.reset();
    XSync(m_display, False);
    if (m_connection->lost())
        return false;
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0)
        return false;
    m_thread = std::thread(&QXX11HookSession::run, this);
    return true;
}

void QXX11HookSession::run() {
    QXXErrorScope scope;
    const int xfd = ConnectionNumber(m_display);
    auto nextScan = std::chrono::steady_clock::now() + kRescanPeriod;
    for (;;) {
        // Xlib may already hold events read along with a reply: drain its queue
        // before sleeping on the socket.
        while (!m_connection->lost() && XPending(m_display) > 0) {
            XkbEvent event;
            XNextEvent(m_display, &event.core);
            handle(event);
        }
        auto now = std::chrono::steady_clock::now();
        if (m_rescanWanted || now >= nextScan) {
            rescanProcesses();
            nextScan = now + kRescanPeriod;
        }
        // A lost connection leaves only the stop request to wait for.
        const bool watching = !m_connection->lost();
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {watching ? xfd : -1, POLLIN, 0}};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextScan - now);
        if (::poll(fds, 2, watching ? int(wait.count()) : -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
    }
    // Closed here: after losing the server Xlib keeps the connection locked for the
    // thread that saw the loss, and any other thread would wait for it forever.
    m_connection.reset();
    m_display = nullptr;
}

void QXX11HookSession::handle(XkbEvent& event) {
    if (event.type == GenericEvent && event.core.xcookie.extension == m_xiOpcode) {
        XGenericEventCookie& cookie = event.core.xcookie;
        if (XGetEventData(m_display, &cookie)) {
            const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
            // The repeat flag is not set on every server; onKey also drops a press of
            // a key that is already down.
            if (cookie.evtype == XI_RawKeyPress && !(raw->flags & XIKeyRepeat))
                onKey(unsigned(raw->detail), true);
            else if (cookie.evtype == XI_RawKeyRelease)
                onKey(unsigned(raw->detail), false);
            XFreeEventData(m_display, &cookie);
        }
        return;
    }
    if (m_xkbEventBase >= 0 && event.type == m_xkbEventBase) {
        onXkb(event);
        return;
    }
    switch (event.type) {
    case PropertyNotify:
        if (event.core.xproperty.window != m_root)
            break;
        if (event.core.xproperty.atom == m_netActiveWindow)
            onActiveWindow();
        else if (event.core.xproperty.atom == m_netClientList)
            m_rescanWanted = true;
        else if (event.core.xproperty.atom == m_xkbRulesNames)
            readGroups();
        break;
    case CreateNotify:
        if (event.core.xcreatewindow.parent == m_root)
            m_rescanWanted = true;
        break;
    case DestroyNotify:
        if (event.core.xdestroywindow.event == m_root)
            m_rescanWanted = true;
        break;
    case MappingNotify:
        XRefreshKeyboardMapping(&event.core.xmapping);
        break;
    default:
        break;
    }
}

uint32_t QXX11HookSession::heldNow() const {
    uint32_t bits = 0;
    for (uint32_t keyBits : m_downBits)
        bits |= keyBits;
    return bits;
}

// One fresh press or release: the mask's table of keys decides between a modifier
// change (2025) and a plain key message (2026).
void QXX11HookSession::onKey(unsigned keycode, bool press) {
    if (keycode >= m_down.size())
        return;
    const QXKeyRole role = keyRole(m_display, keycode, m_group);
    if (press) {
        if (m_down[keycode])
            return;
        m_down[keycode] = true;
        m_downBits[keycode] = role.heldBits;
    }
    // A release takes back the bits the key gave when it went down, even if the group
    // (and with it what the key means) changed in between.
    const uint32_t keyBits = m_downBits[keycode];
    if (!press) {
        m_down[keycode] = false;
        m_downBits[keycode] = 0;
    }
    if (role.virtualKey == 0)
        return;

    const uint32_t old = uint32_t(m_mask.load());
    uint32_t next = old;
    bool tabled = keyBits != 0;
    if (keyBits)
        next = (next & ~keyBits) | (heldNow() & keyBits);
    const uint32_t lockBit = bitOf(role.virtualKey) & kToggles;
    if (lockBit) {
        tabled = true;
        if (lockBit & (kCaps | kNum)) {
            // The server has already applied this key to its lock state when its
            // answer comes, so this is the state after the press.
            next = (next & ~lockBit) | (m_locks.read(m_display) & lockBit);
        } else if (press) {
            // Default keymaps tie Scroll Lock and Kana to no modifier, so their
            // indicators need not move: the library keeps these two toggles itself,
            // flipped by each press and corrected by the indicators when they do move.
            next ^= lockBit;
        }
    }
    if (tabled && next != old) {
        m_mask.store(long(next));
        post(QXM_HOOK_MODIFIERS, next, intptr_t(role.virtualKey));
    } else {
        post(QXM_HOOK_KEY, press ? 0 : 1, intptr_t(role.virtualKey));
    }
}

void QXX11HookSession::onXkb(XkbEvent& event) {
    switch (event.any.xkb_type) {
    case XkbStateNotify:
        if ((event.state.changed & XkbGroupStateMask) && event.state.group != m_group) {
            m_group = event.state.group;
            const uint32_t handle =
                size_t(m_group) < m_groupHandles.size() ? m_groupHandles[size_t(m_group)] : 0;
            post(QXM_HOOK_LANGUAGE, handle, intptr_t(m_activeWindow));
        }
        break;
    case XkbIndicatorStateNotify:
        onIndicators(event.indicators.state, event.indicators.changed);
        break;
    case XkbMapNotify:
        XkbRefreshKeyboardMapping(&event.map);
        break;
    case XkbNewKeyboardNotify:
        m_locks = QXXkbLocks(m_display);
        break;
    default:
        break;
    }
}

// Locks switched by any means (a key, another program, a second keyboard) reach the
// mask here; a change the key handler already made finds the mask up to date.
void QXX11HookSession::onIndicators(unsigned state, unsigned changed) {
    static constexpr struct {
        uint32_t bit;
        uint32_t virtualKey;
    } kLocks[] = {{kCaps, qxwin::VK_CAPITAL},
                  {kNum, qxwin::VK_NUMLOCK},
                  {kScroll, qxwin::VK_SCROLL},
                  {kKana, qxwin::VK_KANA}};
    const uint32_t affected = m_locks.toggles(changed);
    const uint32_t values = m_locks.toggles(state);
    for (const auto& lock : kLocks) {
        if (!(affected & lock.bit))
            continue;
        const uint32_t old = uint32_t(m_mask.load());
        const uint32_t next = (old & ~lock.bit) | (values & lock.bit);
        if (next != old) {
            m_mask.store(long(next));
            post(QXM_HOOK_MODIFIERS, next, intptr_t(lock.virtualKey));
        }
    }
}

void QXX11HookSession::onActiveWindow() {
    const Window window = activeWindow();
    if (window == m_activeWindow)
        return;
    m_activeWindow = window;
    // Between two windows the focus may rest on none; only windows are reported.
    if (window == None)
        return;
    post(QXM_HOOK_ACTIVATE, uintptr_t(window), 0);
    post(QXM_HOOK_WINDOW_ACTIVATED, uintptr_t(window), isFullScreen(window) ? 1 : 0);
}

Window QXX11HookSession::activeWindow() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window window = None;
    if (XGetWindowProperty(m_display, m_root, m_netActiveWindow, 0, 1, False, XA_WINDOW, &type,
                           &format, &count, &after, &data) == Success &&
        data && type == XA_WINDOW && format == 32 && count == 1)
        window = Window(reinterpret_cast<const unsigned long*>(data)[0]);
    if (data)
        XFree(data);
    return window;
}

// The window may be gone already; the error is trapped and it counts as not full-screen.
bool QXX11HookSession::isFullScreen(Window window) {
    if (window == None)
        return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool fullScreen = false;
    if (XGetWindowProperty(m_display, window, m_netWmState, 0, 64, False, XA_ATOM, &type, &format,
                           &count, &after, &data) == Success &&
        data && type == XA_ATOM && format == 32) {
        const auto* atoms = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i < count; ++i)
            fullScreen = fullScreen || atoms[i] == m_netWmStateFullScreen;
    }
    if (data)
        XFree(data);
    return fullScreen;
}

// The groups of the keyboard are the layouts of the server's XKB configuration, in
// order. Without the property every group reports handle 0.
void QXX11HookSession::readGroups() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    m_groupHandles.clear();
    if (XGetWindowProperty(m_display, m_root, m_xkbRulesNames, 0, 1024, False, XA_STRING, &type,
                           &format, &count, &after, &data) == Success &&
        data && type == XA_STRING && format == 8) {
        const std::string_view value(reinterpret_cast<const char*>(data), count);
        m_groupHandles =
            QXKeyboardLayouts::groupHandles(QXKeyboardLayouts::parseXkbRulesNames(value));
    }
    if (data)
        XFree(data);
}

void QXX11HookSession::rescanProcesses() {
    m_rescanWanted = false;
    m_processes.rescan([this](bool started, pid_t pid) {
        post(QXM_HOOK_PROCESS, started ? 1 : 0, intptr_t(pid));
    });
}

} // namespace

std::unique_ptr<QXHookSession> QXHookSession::start(QXHookTarget& target, std::atomic<long>& mask) {
    auto session = std::make_unique<QXX11HookSession>(target, mask);
    if (!session->start())
        return nullptr;
    return session;
}
