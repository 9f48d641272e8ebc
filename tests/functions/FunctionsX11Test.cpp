// The Functions plug-in's actions on a private X server (layouts "us,de"): text typed into a
// real X window and read back there, hot-keys observed as the raw key events the server
// sees, and the layout switch. Kept apart from the Qt sources: Xlib's macros clash with Qt.

#include "FunctionsLibrary.h"

// Qt before Xlib, whose macros Qt's headers refuse.
#include <QCoreApplication>
#include "KitTestContext.h"
#include "support/QXXvfb.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

using kittest::KitTestContext;
using qxtest::QXXvfb;

// Reads the events of its own connection on a thread of its own until destroyed.
class EventReader {
public:
    explicit EventReader(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {}
    virtual ~EventReader() {
        stop();
        if (m_display)
            XCloseDisplay(m_display);
    }
    Display* display() const { return m_display; }

protected:
    // Every derived class stops the thread in its destructor: the thread uses its members.
    void stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    void start(std::function<void(XEvent&)> handle) {
        m_thread = std::thread([this, handle = std::move(handle)] {
            pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
            while (!m_stop) {
                while (XPending(m_display)) {
                    XEvent event;
                    XNextEvent(m_display, &event);
                    handle(event);
                }
                ::poll(&fd, 1, 20);
            }
        });
    }
    std::mutex m_mutex;

private:
    Display* m_display;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A focused window that collects the characters typed into it, as an X program reads them.
class TextWindow : public EventReader {
public:
    explicit TextWindow(const std::string& name) : EventReader(name) {
        Display* d = display();
        m_window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(d, m_window, KeyPressMask | StructureNotifyMask);
        XMapWindow(d, m_window);
        XEvent event;
        do
            XNextEvent(d, &event);
        while (event.type != MapNotify);
        XSetInputFocus(d, m_window, RevertToParent, CurrentTime);
        XSync(d, False);
        start([this](XEvent& e) {
            if (e.type == MappingNotify) {
                XRefreshKeyboardMapping(&e.xmapping);
            } else if (e.type == KeyPress) {
                char bytes[8];
                KeySym sym = NoSymbol;
                XLookupString(&e.xkey, bytes, sizeof bytes, &sym, nullptr);
                if (IsModifierKey(sym))
                    return; // Shift for a capital letter is no character
                char32_t c = sym < 0x100 ? static_cast<char32_t>(sym)
                             : (sym & 0xFF000000) == 0x01000000
                                 ? static_cast<char32_t>(sym & 0xFFFFFF)
                                 : U'?';
                std::lock_guard lock(m_mutex);
                m_text += c;
            }
        });
    }
    ~TextWindow() override { stop(); }
    std::u32string text() {
        std::lock_guard lock(m_mutex);
        return m_text;
    }

private:
    Window m_window = 0;
    std::u32string m_text;
};

// The raw key events of the server's keyboards, as (X keycode, pressed).
class RawKeys : public EventReader {
public:
    using Events = std::vector<std::pair<int, bool>>;
    static constexpr int kMarker = 96; // F12, sent by the test to close a stretch of events

    explicit RawKeys(const std::string& name) : EventReader(name) {
        Display* d = display();
        int event = 0, error = 0, major = 2, minor = 2;
        m_ok = XQueryExtension(d, "XInputExtension", &m_opcode, &event, &error) &&
               XIQueryVersion(d, &major, &minor) == Success;
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
        XSync(d, False);
        start([this](XEvent& e) {
            if (e.xcookie.type != GenericEvent || e.xcookie.extension != m_opcode ||
                !XGetEventData(display(), &e.xcookie))
                return;
            auto* raw = static_cast<XIRawEvent*>(e.xcookie.data);
            {
                std::lock_guard lock(m_mutex);
                m_events.emplace_back(raw->detail, raw->evtype == XI_RawKeyPress);
            }
            XFreeEventData(display(), &e.xcookie);
        });
    }
    ~RawKeys() override { stop(); }
    bool ok() const { return m_ok; }

    // The events since the last mark: sends the marker key from a connection of its own and
    // waits until the server reported it back.
    Events mark(Display* sender) {
        XTestFakeKeyEvent(sender, kMarker, True, CurrentTime);
        XTestFakeKeyEvent(sender, kMarker, False, CurrentTime);
        XSync(sender, False);
        EXPECT_TRUE(qxtest::waitFor([&] {
            std::lock_guard lock(m_mutex);
            return !m_events.empty() && m_events.back() == std::make_pair(kMarker, false);
        })) << "the marker key never came back";
        std::lock_guard lock(m_mutex);
        Events stretch(m_events.begin(), m_events.end() - std::min<size_t>(2, m_events.size()));
        m_events.clear();
        return stretch;
    }

private:
    int m_opcode = 0;
    bool m_ok = false;
    Events m_events;
};

std::vector<KeySym> keyboardMapping(Display* d) {
    int min = 0, max = 0, per = 0;
    XDisplayKeycodes(d, &min, &max);
    KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &per);
    std::vector<KeySym> all(syms, syms + (max - min + 1) * per);
    XFree(syms);
    return all;
}

class FunctionsOnX : public testing::Test {
protected:
    static void SetUpTestSuite() {
        XInitThreads(); // the readers' connections live on threads of their own
        if (QXXvfb::available())
            s_xvfb = new QXXvfb({.layouts = "us,de"});
    }
    static void TearDownTestSuite() {
        delete s_xvfb;
        s_xvfb = nullptr;
    }

    void SetUp() override {
        if (!s_xvfb)
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_EQ(s_xvfb->error(), "");
        m_display = XOpenDisplay(s_xvfb->display().c_str());
        ASSERT_NE(m_display, nullptr);
        XkbLockGroup(m_display, XkbUseCoreKbd, 0);
        XSync(m_display, False);
    }
    void TearDown() override {
        if (m_display)
            XCloseDisplay(m_display);
    }

    // Makes the action with the property, presses its key and lets it go.
    void press(const char16_t* id, const char16_t* name, const char16_t* value) {
        KitTestContext context;
        if (name)
            context.SetProperty(name, value);
        IQXActionPluginInstance* action = functionstest::createAction()(id, &context);
        ASSERT_NE(action, nullptr);
        action->KeyDown();
        action->KeyUp();
        action->Release();
    }

    unsigned group() {
        XkbStateRec state{};
        XkbGetState(m_display, XkbUseCoreKbd, &state);
        return state.group;
    }

    static QXXvfb* s_xvfb;
    Display* m_display = nullptr;
};

QXXvfb* FunctionsOnX::s_xvfb = nullptr;

TEST_F(FunctionsOnX, TypesTextIntoAWindowIncludingACharacterTheLayoutLacks) {
    TextWindow window(s_xvfb->display());
    std::vector<KeySym> before = keyboardMapping(m_display);

    press(u"string.action", u"String", u"aB");
    EXPECT_TRUE(qxtest::waitFor([&] { return window.text().size() >= 2; }));
    EXPECT_EQ(window.text(), U"aB");

    press(u"string.action", u"String", u"\u00DFx\u00DF");
    EXPECT_TRUE(qxtest::waitFor([&] { return window.text().size() >= 5; }));
    EXPECT_EQ(window.text(), U"aB\u00DFx\u00DF") << "ß is not on the US layout";
    // The borrowed keycode keeps its character a while after typing stops, for a program
    // slow to read its keys, then is emptied again.
    EXPECT_NE(keyboardMapping(m_display), before) << "still lent right after typing";
    EXPECT_TRUE(qxtest::waitFor([&] {
        QCoreApplication::processEvents();
        return keyboardMapping(m_display) == before;
    })) << "the borrowed keycode is emptied again";

    press(u"string.action", nullptr, nullptr);
    XkbLockModifiers(m_display, XkbUseCoreKbd, LockMask, LockMask);
    XSync(m_display, False);
    press(u"string.action", u"String", u"aB");
    XkbLockModifiers(m_display, XkbUseCoreKbd, LockMask, 0);
    XSync(m_display, False);
    EXPECT_TRUE(qxtest::waitFor([&] { return window.text().size() >= 7; }));
    EXPECT_EQ(window.text(), U"aB\u00DFx\u00DFaB") << "Caps Lock on types the same text";
    press(u"string.action", u"String", u"!");
    EXPECT_TRUE(qxtest::waitFor([&] { return window.text().size() >= 8; }));
    EXPECT_EQ(window.text(), U"aB\u00DFx\u00DFaB!") << "an empty text types nothing";
}

TEST_F(FunctionsOnX, HotkeySendsModifiersInOrderAndGivesBackAHeldShift) {
    RawKeys keys(s_xvfb->display());
    ASSERT_TRUE(keys.ok()) << "no XInput 2.2 on the test server";
    const int ctrl = 37, alt = 64, shift = 50, a = 38, c = 54;
    keys.mark(m_display);

    press(u"hotkey.action", u"Hotkey", u"3:65");
    EXPECT_EQ(keys.mark(m_display),
              (RawKeys::Events{
                  {alt, true}, {ctrl, true}, {a, true}, {a, false}, {ctrl, false}, {alt, false}}));

    XTestFakeKeyEvent(m_display, shift, True, CurrentTime);
    keys.mark(m_display);
    press(u"hotkey.action", u"Hotkey", u"2:67");
    EXPECT_EQ(
        keys.mark(m_display),
        (RawKeys::Events{
            {shift, false}, {ctrl, true}, {c, true}, {c, false}, {ctrl, false}, {shift, true}}));
    char held[32] = {};
    XQueryKeymap(m_display, held);
    EXPECT_TRUE(held[shift / 8] & (1 << (shift % 8))) << "Shift is held again afterwards";
    XTestFakeKeyEvent(m_display, shift, False, CurrentTime);
    XSync(m_display, False);
}

TEST_F(FunctionsOnX, LayoutSwitchGoesToTheNextGroupAndWraps) {
    ASSERT_EQ(group(), 0u);
    press(u"switchlayout.action", nullptr, nullptr);
    EXPECT_EQ(group(), 1u);
    press(u"switchlayout.action", nullptr, nullptr);
    EXPECT_EQ(group(), 0u) << "from the last layout back to the first";
}

} // namespace
