// The WinTweak plug-in's keys through the library's exports, as the program presses them, on
// a private X server run by openbox. The windows they act on belong to the test's own X
// connection but, unless a case says otherwise, name another process in _NET_WM_PID, as a
// window of another program would.

#include "kit/KitTestContext.h"
#include "support/QXXvfb.h"

// Xlib defines None and Bool as macros: gtest comes first.
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using qxtest::waitFor;

QXCreateActionFunction createAction() {
    static const QXCreateActionFunction function = [] {
        void* handle = dlopen(QX_WINTWEAK_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << dlerror();
        return handle ? reinterpret_cast<QXCreateActionFunction>(dlsym(handle, "createAction"))
                      : nullptr;
    }();
    return function;
}

// One key of the library, given back at the end as the program would.
class Key {
public:
    explicit Key(const char16_t* id) : m_instance(createAction()(id, &m_context)) {}
    ~Key() {
        if (m_instance)
            m_instance->Release();
        EXPECT_EQ(m_context.destroyedCount(), m_instance ? 1 : 0);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool made() const { return m_instance != nullptr; }
    void press() {
        m_instance->KeyDown();
        m_instance->KeyUp();
    }

private:
    kittest::KitTestContext m_context;
    IQXActionPluginInstance* m_instance;
};

std::optional<unsigned long> cardinal(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<unsigned long> value;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 1)
        // Xlib hands 32-bit items out as sign-extended longs.
        value = *reinterpret_cast<unsigned long*>(data) & 0xffffffffUL;
    if (data)
        XFree(data);
    return value;
}

bool hasProperty(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 0, False,
                       AnyPropertyType, &type, &format, &count, &after, &data);
    if (data)
        XFree(data);
    return type != None;
}

// The child of the root window holding window: the window manager's frame once managed.
Window topLevelOf(Display* display, Window window) {
    for (;;) {
        Window root = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            return None;
        if (children)
            XFree(children);
        if (parent == root)
            return window;
        window = parent;
    }
}

struct Point {
    int x = 0;
    int y = 0;
};

Point rootPosition(Display* display, Window window) {
    Point point;
    Window child = None;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &point.x, &point.y,
                          &child);
    return point;
}

Point pointer(Display* display) {
    Window root = None;
    Window child = None;
    Point point;
    Point inWindow;
    unsigned int mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &point.x, &point.y,
                  &inWindow.x, &inWindow.y, &mask);
    return point;
}

bool pointerIsOver(Display* display, Window window) {
    Window root = None;
    Window child = None;
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &x, &y, &mask);
    return child != None && child == topLevelOf(display, window);
}

class WinTweakOnX : public testing::Test {
protected:
    void SetUp() override {
        if (!qxtest::QXXvfb::available())
            GTEST_SKIP() << "needs Xvfb";
        ASSERT_NE(createAction(), nullptr);
        m_xvfb = std::make_unique<qxtest::QXXvfb>(qxtest::QXXvfb::Options{.windowManager = true});
        ASSERT_EQ(m_xvfb->error(), "") << m_xvfb->error();
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
    }
    void TearDown() override {
        if (m_display)
            XCloseDisplay(m_display);
        m_xvfb.reset();
    }

    // A top-level window at (x, y) whose _NET_WM_PID names pid, once openbox manages it.
    Window managedWindow(int x, int y, unsigned long pid) {
        const Window window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), x, y,
                                                  300, 200, 0, 0, 0xffffff);
        XStoreName(m_display, window, "wintweak test window");
        XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_PID", False),
                        XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
        XMapWindow(m_display, window);
        XSync(m_display, False);
        EXPECT_TRUE(waitFor([&] { return hasProperty(m_display, window, "WM_STATE"); }))
            << "openbox never managed the window";
        return window;
    }

    void pointTo(Window window) {
        XWarpPointer(m_display, None, window, 0, 0, 0, 0, 150, 100);
        XSync(m_display, False);
        EXPECT_TRUE(waitFor([&] { return pointerIsOver(m_display, window); }));
    }

    std::unique_ptr<qxtest::QXXvfb> m_xvfb;
    Display* m_display = nullptr;
};

TEST_F(WinTweakOnX, XRayTogglesTheClientUnderThePointerAndNeverThisProgramsOwnWindow) {
    const Window other = managedWindow(100, 100, static_cast<unsigned long>(getppid()));
    const Window own = managedWindow(600, 500, static_cast<unsigned long>(getpid()));
    ASSERT_NE(topLevelOf(m_display, other), other) << "openbox frames its clients";
    Key xray(u"XRaywindow.action");
    ASSERT_TRUE(xray.made());
    // The program's own X error handler, which the key must leave in place.
    const XErrorHandler programs = [](Display*, XErrorEvent*) { return 0; };
    const XErrorHandler before = XSetErrorHandler(programs);

    // The press returns once the server has the change: no waiting needed to read it back.
    pointTo(other);
    xray.press();
    EXPECT_EQ(cardinal(m_display, other, "_NET_WM_WINDOW_OPACITY"), 0x80808080UL)
        << "half transparent, on the client below the frame";
    xray.press();
    EXPECT_FALSE(hasProperty(m_display, other, "_NET_WM_WINDOW_OPACITY"))
        << "a second press makes it opaque again";

    pointTo(own);
    xray.press();
    xray.press();
    xray.press();
    EXPECT_FALSE(hasProperty(m_display, own, "_NET_WM_WINDOW_OPACITY"));
    EXPECT_FALSE(hasProperty(m_display, other, "_NET_WM_WINDOW_OPACITY"));

    // Over the bare desktop, or with the window gone under the pointer: nothing, no error.
    XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, 1200, 20);
    XSync(m_display, False);
    xray.press();
    pointTo(other);
    XDestroyWindow(m_display, other);
    XSync(m_display, False);
    xray.press();
    EXPECT_FALSE(hasProperty(m_display, own, "_NET_WM_WINDOW_OPACITY"));
    EXPECT_EQ(XSetErrorHandler(before), programs) << "the key left a handler of its own behind";
}

TEST_F(WinTweakOnX, MoverStartsTheWindowManagersMoveOfTheWindowUnderThePointer) {
    const Window window = managedWindow(100, 100, static_cast<unsigned long>(getppid()));
    pointTo(window);
    // A second client watching the root, as the window manager does.
    Display* observer = XOpenDisplay(nullptr);
    ASSERT_NE(observer, nullptr);
    XSelectInput(observer, DefaultRootWindow(observer), SubstructureNotifyMask);
    XSync(observer, False);
    const Atom moveResize = XInternAtom(observer, "_NET_WM_MOVERESIZE", False);
    const Point start = rootPosition(m_display, window);
    const Point at = pointer(m_display);

    Key mover(u"windowmover.action");
    ASSERT_TRUE(mover.made());
    mover.press();

    XClientMessageEvent request{};
    EXPECT_TRUE(waitFor([&] {
        while (XPending(observer)) {
            XEvent event;
            XNextEvent(observer, &event);
            if (event.type == ClientMessage && event.xclient.message_type == moveResize)
                request = event.xclient;
        }
        return request.message_type == moveResize;
    })) << "no _NET_WM_MOVERESIZE reached the root window";
    XCloseDisplay(observer);
    EXPECT_EQ(request.window, window) << "the client window, not its frame";
    EXPECT_EQ(request.format, 32);
    EXPECT_EQ(request.data.l[0], at.x);
    EXPECT_EQ(request.data.l[1], at.y);
    EXPECT_EQ(request.data.l[2], 8) << "_NET_WM_MOVERESIZE_MOVE";
    EXPECT_EQ(request.data.l[3], 1) << "button 1";
    EXPECT_EQ(request.data.l[4], 1) << "asked for by an application";

    // openbox took the move: the window now follows the pointer. The move starts when openbox
    // has read the request and grabbed the pointer, which the test cannot see, so the pointer
    // keeps going back and forth by a pixel until motion arrives after the grab.
    Point now = start;
    int step = 0;
    EXPECT_TRUE(waitFor([&] {
        XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0,
                     at.x + 120 + (++step % 2), at.y + 80);
        XSync(m_display, False);
        now = rootPosition(m_display, window);
        return now.x - start.x >= 120 && now.y - start.y == 80;
    })) << "the window went from "
        << start.x << "," << start.y << " to " << now.x << "," << now.y;
}

// The names a shared library asks the loader for (its DT_NEEDED entries), from its file.
std::vector<std::string> neededLibraries(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file{std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>()};
    auto read = [&file]<typename T>(T& out, size_t offset) {
        if (offset + sizeof(T) > file.size())
            return false;
        std::memcpy(&out, file.data() + offset, sizeof(T));
        return true;
    };
    std::vector<std::string> needed;
    Elf64_Ehdr header{};
    if (!read(header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64)
        return needed;
    auto section = [&](size_t index) {
        Elf64_Shdr result{};
        read(result, header.e_shoff + index * header.e_shentsize);
        return result;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr dynamic = section(i);
        if (dynamic.sh_type != SHT_DYNAMIC)
            continue;
        const Elf64_Shdr strings = section(dynamic.sh_link);
        for (size_t offset = 0; offset + sizeof(Elf64_Dyn) <= dynamic.sh_size;
             offset += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry{};
            if (!read(entry, dynamic.sh_offset + offset) || entry.d_tag == DT_NULL)
                break;
            const size_t name = strings.sh_offset + entry.d_un.d_val;
            if (entry.d_tag == DT_NEEDED && name < file.size())
                needed.emplace_back(file.data() + name);
        }
    }
    return needed;
}

TEST(WinTweakLibrary, NeedsNothingButXlibAndTheRuntimes) {
    const auto needed = neededLibraries(QX_WINTWEAK_PLUGIN);
    ASSERT_FALSE(needed.empty()) << "not an ELF library with a dynamic section";
    bool xlib = false;
    for (const std::string& name : needed) {
        xlib = xlib || name.starts_with("libX11.so");
        // The C and C++ runtimes, and those of the sanitizers a checking build adds.
        bool allowed = false;
        for (const char* prefix :
             {"libX11.so", "libstdc++.so", "libgcc_s.so", "libm.so", "libc.so", "ld-linux",
              "libasan.so", "libubsan.so", "libtsan.so", "liblsan.so"})
            allowed = allowed || name.starts_with(prefix);
        EXPECT_TRUE(allowed) << "the library needs " << name;
    }
    EXPECT_TRUE(xlib) << "it talks to the X server through Xlib";
    EXPECT_EQ(createAction()(u"XRaywindow.action", nullptr), nullptr);
    EXPECT_EQ(createAction()(u"unknown.action", nullptr), nullptr);
}

TEST(WinTweakLibrary, WithoutADisplayAPressDoesNothing) {
    ASSERT_NE(createAction(), nullptr);
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    Key xray(u"XRaywindow.action");
    Key mover(u"windowmover.action");
    ASSERT_TRUE(xray.made() && mover.made());
    xray.press();
    mover.press();
}

} // namespace
