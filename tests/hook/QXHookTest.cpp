#include "hook/qxhk.h"
#include "platform/QXMessages.h"
#include "platform/QXWin32.h"
#include "support/QXTestSupport.h"
#include "support/QXXvfb.h"

// clang-format off
// gtest comes before Xlib, whose None and Bool macros break gtest's declarations.
#include <gtest/gtest.h>
// clang-format on

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <csignal>
#include <mutex>
#include <ostream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using qxtest::QXXvfb;
using namespace qxwin;

namespace {

// X keycodes of a PC keyboard (evdev code + 8).
constexpr unsigned kShiftL = 50, kShiftR = 62, kControlL = 37, kAltL = 64, kAltR = 108;
constexpr unsigned kSuperL = 133, kSuperR = 134, kCapsLock = 66, kScrollLock = 78;
constexpr unsigned kA = 38;
constexpr unsigned kFence = 52; // Z, used by no test

struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    bool operator==(const Message&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Message& m) {
    return out << "{" << m.message << ", 0x" << std::hex << m.wParam << ", 0x" << m.lParam
               << std::dec << "}";
}

// What the hook posted, in order. post() runs on the hook thread.
class Inbox {
public:
    static void post(void* target, uint32_t message, uintptr_t wParam, intptr_t lParam) {
        auto* inbox = static_cast<Inbox*>(target);
        std::lock_guard lock(inbox->m_mutex);
        inbox->m_messages.push_back({message, wParam, lParam});
    }

    std::vector<Message> messages() const {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

    size_t count(const Message& wanted) const {
        const std::vector<Message> all = messages();
        return size_t(std::count(all.begin(), all.end(), wanted));
    }

    // For failure messages.
    std::string describe() const {
        std::ostringstream out;
        for (const Message& m : messages())
            out << m << " ";
        return out.str();
    }

    bool waitFor(const Message& wanted, size_t times = 1) const {
        return qxtest::waitFor([&] { return count(wanted) >= times; }, std::chrono::seconds(30));
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
};

// The test's own connection to the server: key input through XTest, windows, groups.
class XClient {
public:
    XClient() : m_display(XOpenDisplay(nullptr)) {}
    ~XClient() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    Display* display() const { return m_display; }

    void key(unsigned keycode, bool press) {
        XTestFakeKeyEvent(m_display, keycode, press, CurrentTime);
        XSync(m_display, False);
    }
    void tap(unsigned keycode) {
        key(keycode, true);
        key(keycode, false);
    }
    void lockGroup(unsigned group) {
        XkbLockGroup(m_display, XkbUseCoreKbd, group);
        XSync(m_display, False);
    }

    // A mapped top-level window that takes the focus; full-screen from the start if asked.
    Window createWindow(bool fullScreen = false) {
        const Window window =
            XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 200, 100, 0, 0, 0);
        XWMHints hints{};
        hints.flags = InputHint;
        hints.input = True;
        XSetWMHints(m_display, window, &hints);
        if (fullScreen) {
            const Atom state = XInternAtom(m_display, "_NET_WM_STATE_FULLSCREEN", False);
            XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_STATE", False),
                            XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&state), 1);
        }
        XMapWindow(m_display, window);
        XSync(m_display, False);
        return window;
    }

    // Sets the root's active window as a window manager would.
    void setActiveWindow(Window window) {
        const unsigned long id = window;
        XChangeProperty(m_display, DefaultRootWindow(m_display),
                        XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
        XSync(m_display, False);
    }

    // Whether the window manager has taken the window on (_NET_CLIENT_LIST).
    bool managed(Window window) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool found = false;
        if (XGetWindowProperty(m_display, DefaultRootWindow(m_display),
                               XInternAtom(m_display, "_NET_CLIENT_LIST", False), 0, 1024, False,
                               XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
            data && format == 32) {
            const auto* windows = reinterpret_cast<const unsigned long*>(data);
            found = std::find(windows, windows + count, window) != windows + count;
        }
        if (data)
            XFree(data);
        return found;
    }

    // Asks the window manager to activate a window, as a pager would.
    void activate(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(m_display, DefaultRootWindow(m_display), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(m_display, False);
    }

private:
    Display* m_display;
};

pid_t startSleeper() {
    char sleep[] = "/bin/sleep", duration[] = "300";
    char* argv[] = {sleep, duration, nullptr};
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

void endChild(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

class HookTest : public ::testing::Test {
protected:
    virtual QXXvfb::Options serverOptions() const { return {}; }

    void SetUp() override {
        if (!QXXvfb::available())
            GTEST_SKIP() << "Xvfb is not installed";
        m_xvfb = std::make_unique<QXXvfb>(serverOptions());
        ASSERT_EQ(m_xvfb->error(), "");
        m_x = std::make_unique<XClient>();
        ASSERT_NE(m_x->display(), nullptr);
    }

    // Before the server goes (the fixture's members end after this).
    void TearDown() override { UnHook(); }

    void hook() { ASSERT_EQ(Hook(&m_inbox, &Inbox::post), 1); }

    // Taps a key no test uses and waits for its release: the hook handles events in
    // order, so by then everything sent before has been handled. Returns the key
    // messages (2025, 2026) posted since the last call, without the fence's own.
    std::vector<Message> takeKeyMessages() {
        const size_t fences = m_inbox.count({QXM_HOOK_KEY, 1, 'Z'});
        m_x->tap(kFence);
        EXPECT_TRUE(m_inbox.waitFor({QXM_HOOK_KEY, 1, 'Z'}, fences + 1)) << "the fence key";
        std::vector<Message> keys;
        const std::vector<Message> all = m_inbox.messages();
        for (size_t i = m_taken; i < all.size(); ++i) {
            if (all[i].message != QXM_HOOK_MODIFIERS && all[i].message != QXM_HOOK_KEY)
                continue;
            if (all[i].message == QXM_HOOK_KEY && all[i].lParam == 'Z') {
                if (all[i].wParam == 1) {
                    m_taken = i + 1;
                    break;
                }
                continue;
            }
            keys.push_back(all[i]);
        }
        return keys;
    }

    std::unique_ptr<QXXvfb> m_xvfb;
    std::unique_ptr<XClient> m_x;
    Inbox m_inbox;
    Inbox m_otherInbox;
    size_t m_taken = 0;
};

class HookLayoutTest : public HookTest {
    QXXvfb::Options serverOptions() const override { return {.layouts = "us,de"}; }
};

class HookWindowTest : public HookTest {
    QXXvfb::Options serverOptions() const override { return {.windowManager = true}; }
};

TEST(HookWithoutDisplayTest, InstallsNothingAndReportsAnEmptyMask) {
    Inbox inbox;
    {
        qxtest::ScopedEnv noDisplay("DISPLAY", "");
        EXPECT_EQ(Hook(&inbox, &Inbox::post), 0);
        EXPECT_EQ(GetSystemModifiersState(), 0);
    }
    {
        qxtest::ScopedEnv unreachable("DISPLAY", ":999");
        EXPECT_EQ(Hook(&inbox, &Inbox::post), 0);
        EXPECT_EQ(GetSystemModifiersState(), 0);
    }
    EXPECT_EQ(GetHookModifiersState(), 0);
    UnHook();
    EXPECT_TRUE(inbox.messages().empty());
}

TEST_F(HookTest, HeldModifiersChangeTheMaskOnceEachWayWhateverTheRepeats) {
    hook();
    const struct {
        unsigned keycode;
        uintptr_t bit;
        intptr_t vk;
    } keys[] = {{kShiftL, 4, VK_SHIFT}, {kShiftR, 4, VK_SHIFT}, {kControlL, 2, VK_CONTROL},
                {kAltL, 1, VK_MENU},    {kAltR, 1, VK_MENU},    {kSuperL, 8, VK_LWIN}};
    std::vector<Message> expected;
    for (const auto& key : keys) {
        for (int repeat = 0; repeat < 3; ++repeat)
            m_x->key(key.keycode, true);
        m_x->key(key.keycode, false);
        expected.push_back({QXM_HOOK_MODIFIERS, key.bit, key.vk});
        expected.push_back({QXM_HOOK_MODIFIERS, 0, key.vk});
    }
    EXPECT_EQ(takeKeyMessages(), expected);
    EXPECT_EQ(GetHookModifiersState(), 0);
}

TEST_F(HookTest, ABitStaysWhileEitherKeyOfItsKindIsDown) {
    hook();
    m_x->key(kShiftL, true);
    m_x->key(kShiftR, true);
    m_x->key(kShiftL, false);
    EXPECT_EQ(takeKeyMessages(), (std::vector<Message>{{QXM_HOOK_MODIFIERS, 4, VK_SHIFT},
                                                       {QXM_HOOK_KEY, 0, VK_SHIFT},
                                                       {QXM_HOOK_KEY, 1, VK_SHIFT}}));
    EXPECT_EQ(GetHookModifiersState(), 4);
    m_x->key(kShiftR, false);
    EXPECT_EQ(takeKeyMessages(), (std::vector<Message>{{QXM_HOOK_MODIFIERS, 0, VK_SHIFT}}));
}

TEST_F(HookTest, LettersAndTheRightSuperKeyPostKeyMessagesOnly) {
    hook();
    for (int repeat = 0; repeat < 3; ++repeat)
        m_x->key(kA, true);
    m_x->key(kA, false);
    m_x->tap(kSuperR);
    EXPECT_EQ(takeKeyMessages(), (std::vector<Message>{{QXM_HOOK_KEY, 0, 'A'},
                                                       {QXM_HOOK_KEY, 1, 'A'},
                                                       {QXM_HOOK_KEY, 0, VK_RWIN},
                                                       {QXM_HOOK_KEY, 1, VK_RWIN}}));
}

TEST_F(HookTest, LockKeysToggleTheirBits) {
    hook();
    m_x->tap(kCapsLock);
    EXPECT_TRUE(qxtest::waitFor([] { return GetSystemModifiersState() == 16; }))
        << GetSystemModifiersState();
    EXPECT_TRUE(qxtest::waitFor([] { return GetHookModifiersState() == 16; }))
        << GetHookModifiersState();
    EXPECT_EQ(takeKeyMessages(), (std::vector<Message>{{QXM_HOOK_MODIFIERS, 16, VK_CAPITAL},
                                                       {QXM_HOOK_KEY, 1, VK_CAPITAL}}));

    // The default keymap ties Scroll Lock to no modifier; its bit still toggles.
    m_x->tap(kScrollLock);
    m_x->tap(kScrollLock);
    EXPECT_EQ(takeKeyMessages(), (std::vector<Message>{{QXM_HOOK_MODIFIERS, 16 | 128, VK_SCROLL},
                                                       {QXM_HOOK_KEY, 1, VK_SCROLL},
                                                       {QXM_HOOK_MODIFIERS, 16, VK_SCROLL},
                                                       {QXM_HOOK_KEY, 1, VK_SCROLL}}));
}

TEST_F(HookTest, StartsFromTheSystemMask) {
    m_x->tap(kCapsLock);
    m_x->key(kShiftL, true);
    ASSERT_TRUE(qxtest::waitFor([] { return GetSystemModifiersState() == 16 + 4; }))
        << GetSystemModifiersState();
    hook();
    EXPECT_EQ(GetHookModifiersState(), 16 + 4);
    m_x->key(kShiftL, false);
    EXPECT_EQ(takeKeyMessages(), (std::vector<Message>{{QXM_HOOK_MODIFIERS, 16, VK_SHIFT}}));
}

TEST_F(HookTest, NothingIsPostedAfterUnHook) {
    hook();
    EXPECT_EQ(Hook(&m_otherInbox, &Inbox::post), 0) << "a second Hook while hooked";
    m_x->tap(kA);
    ASSERT_TRUE(m_inbox.waitFor({QXM_HOOK_KEY, 1, 'A'}));
    UnHook();
    const std::vector<Message> before = m_inbox.messages();

    m_x->tap(kShiftL);
    const pid_t child = startSleeper();
    ASSERT_GT(child, 0);
    m_x->createWindow();
    // Hooking again proves the server has seen all of the above; the new hook takes the
    // running processes as known and reports none of them.
    ASSERT_EQ(Hook(&m_otherInbox, &Inbox::post), 1);
    m_x->tap(kFence);
    EXPECT_TRUE(m_otherInbox.waitFor({QXM_HOOK_KEY, 1, 'Z'}));
    endChild(child);
    UnHook();

    EXPECT_EQ(m_inbox.messages(), before);
    EXPECT_EQ(m_otherInbox.count({QXM_HOOK_PROCESS, 1, child}), 0u);
}

TEST_F(HookTest, TheServerGoingAwayLeavesTheProgramRunning) {
    hook();
    m_x->key(kShiftL, true);
    ASSERT_TRUE(m_inbox.waitFor({QXM_HOOK_MODIFIERS, 4, VK_SHIFT}));
    m_x.reset();
    m_xvfb.reset();
    UnHook(); // returns, and the process is still here
    EXPECT_EQ(GetHookModifiersState(), 4) << "the last mask seen";
}

TEST_F(HookTest, AnActiveWindowThatIsAlreadyGoneCountsAsNotFullScreen) {
    hook();
    const Window gone = m_x->createWindow(/*fullScreen=*/true);
    XDestroyWindow(m_x->display(), gone);
    m_x->setActiveWindow(gone);
    EXPECT_TRUE(m_inbox.waitFor({QXM_HOOK_WINDOW_ACTIVATED, gone, 0})) << m_inbox.describe();
    EXPECT_EQ(m_inbox.count({QXM_HOOK_ACTIVATE, gone, 0}), 1u);
}

TEST_F(HookTest, ReportsProcessesThatStartAndEnd) {
    hook();
    const pid_t child = startSleeper();
    ASSERT_GT(child, 0);
    // A new top-level window makes the hook look at the processes at once.
    m_x->createWindow();
    EXPECT_TRUE(m_inbox.waitFor({QXM_HOOK_PROCESS, 1, child}));
    endChild(child);
    m_x->createWindow();
    EXPECT_TRUE(m_inbox.waitFor({QXM_HOOK_PROCESS, 0, child}));
    EXPECT_EQ(m_inbox.count({QXM_HOOK_PROCESS, 1, ::getpid()}), 0u)
        << "processes running at Hook are not reported";
}

TEST_F(HookLayoutTest, GroupSwitchesReportTheLayoutHandle) {
    hook();
    m_x->lockGroup(1);
    EXPECT_TRUE(m_inbox.waitFor({QXM_HOOK_LANGUAGE, 0x04070407, 0}));
    m_x->lockGroup(0);
    EXPECT_TRUE(m_inbox.waitFor({QXM_HOOK_LANGUAGE, 0x04090409, 0}));
}

TEST_F(HookLayoutTest, AltGrCountsAsCtrlAlt) {
    hook();
    m_x->tap(kAltR);
    m_x->lockGroup(1);
    ASSERT_TRUE(m_inbox.waitFor({QXM_HOOK_LANGUAGE, 0x04070407, 0}));
    m_x->tap(kAltR);
    EXPECT_EQ(takeKeyMessages(), (std::vector<Message>{{QXM_HOOK_MODIFIERS, 1, VK_MENU},
                                                       {QXM_HOOK_MODIFIERS, 0, VK_MENU},
                                                       {QXM_HOOK_MODIFIERS, 3, VK_MENU},
                                                       {QXM_HOOK_MODIFIERS, 0, VK_MENU}}));
}

TEST_F(HookWindowTest, ActivationPostsTheWindowAndItsFullScreenState) {
    hook();
    // Whether the window manager gives new windows the focus by itself does not matter:
    // each one is activated on request once it is managed.
    const auto open = [this](bool fullScreen) {
        const Window window = m_x->createWindow(fullScreen);
        EXPECT_TRUE(qxtest::waitFor([&] { return m_x->managed(window); })) << "managed " << window;
        m_x->activate(window);
        return window;
    };
    const Window first = open(false);
    ASSERT_TRUE(m_inbox.waitFor({QXM_HOOK_WINDOW_ACTIVATED, first, 0})) << m_inbox.describe();
    const Window second = open(true);
    ASSERT_TRUE(m_inbox.waitFor({QXM_HOOK_WINDOW_ACTIVATED, second, 1})) << m_inbox.describe();
    m_x->activate(first);
    ASSERT_TRUE(m_inbox.waitFor({QXM_HOOK_WINDOW_ACTIVATED, first, 0}, 2)) << m_inbox.describe();

    std::vector<Message> activations;
    for (const Message& m : m_inbox.messages()) {
        if (m.message == QXM_HOOK_ACTIVATE || m.message == QXM_HOOK_WINDOW_ACTIVATED)
            activations.push_back(m);
    }
    EXPECT_EQ(activations, (std::vector<Message>{{QXM_HOOK_ACTIVATE, first, 0},
                                                 {QXM_HOOK_WINDOW_ACTIVATED, first, 0},
                                                 {QXM_HOOK_ACTIVATE, second, 0},
                                                 {QXM_HOOK_WINDOW_ACTIVATED, second, 1},
                                                 {QXM_HOOK_ACTIVATE, first, 0},
                                                 {QXM_HOOK_WINDOW_ACTIVATED, first, 0}}));
}

} // namespace
