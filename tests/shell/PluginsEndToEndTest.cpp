// The shipped plug-ins end to end. Functions and Modes: qxcfg, run as its own program on a
// private X server, drives a virtual keyboard from a profile whose keys show a text, type
// a text, send a hot-key and toggle a layer; the keys are pressed on the virtual keyboard
// and what they do is seen by a window of the test and on the keyboard's displays.
#include "app/QXSingleInstance.h"
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "platform/QXText.h"
#include "platform/QXWin32.h"
#include "store/QXProfile.h"
#include "store/QXPropertyList.h"
#include "PrivateDovecot.h"
#include "support/QXTestSupport.h"
#include "utility/utility.h"
#include "support/QXXvfb.h"

#include <QtGlobal>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
// After gtest: Xlib defines None.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qxtest::ChildProcess;
using qxtest::waitFor;

namespace {

const std::string kBin = QX_PROGRAM_DIR;

size_t keyNamed(std::u16string_view name) {
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (QXKeyTable::key(i).name == name)
            return i;
    return QXKeyTable::keyCount();
}

std::string displayFile(size_t key) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.sys", QXKeyTable::key(key).displayNumber);
    return name;
}

// A window of the test with the input focus, noting what it is typed: the text, and each
// key press with the modifiers held ("Ctrl+Alt+a").
class TypingWindow {
public:
    TypingWindow() : m_display(XOpenDisplay(nullptr)) {
        if (!m_display)
            return;
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(m_display, m_window, KeyPressMask | KeyReleaseMask | FocusChangeMask);
        XMapRaised(m_display, m_window);
        XSync(m_display, False);
        focus();
    }
    ~TypingWindow() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool open() const { return m_display; }
    void focus() {
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }
    // Takes every event that has arrived.
    void read() {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            // Keys the typing remaps for a character show that character from here on.
            if (event.type == MappingNotify)
                XRefreshKeyboardMapping(&event.xmapping);
            if (event.type != KeyPress)
                continue;
            char text[16] = {};
            KeySym keysym = NoSymbol;
            const int n = XLookupString(&event.xkey, text, sizeof text - 1, &keysym, nullptr);
            const unsigned state = event.xkey.state;
            if (IsModifierKey(XLookupKeysym(&event.xkey, 0)))
                continue;
            if (state & (ControlMask | Mod1Mask)) {
                std::string chord;
                if (state & ControlMask)
                    chord += "Ctrl+";
                if (state & Mod1Mask)
                    chord += "Alt+";
                const char* name = XKeysymToString(XLookupKeysym(&event.xkey, 0));
                m_chords.push_back(chord + (name ? name : "?"));
            } else if (keysym == XK_ssharp) {
                m_text += "ß";
            } else if (n > 0) {
                m_text.append(text, static_cast<size_t>(n));
            }
        }
    }
    const std::string& text() const { return m_text; }
    const std::vector<std::string>& chords() const { return m_chords; }

private:
    Display* m_display;
    Window m_window = 0;
    std::string m_text;
    std::vector<std::string> m_chords;
};

class PluginsEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qxtest::QXXvfb::available())
            GTEST_SKIP() << "Xvfb is not installed";
        qxtest::QXXvfb::Options options;
        options.layouts = "us";
        options.windowManager = windowManager();
        m_server = std::make_unique<qxtest::QXXvfb>(options);
        ASSERT_TRUE(m_server->error().empty()) << m_server->error();
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
    }

    virtual bool windowManager() const { return false; }

    fs::path profile() const { return m_dir / "config" / "TesseraQuadrix"; }
    fs::path tessera() const { return m_dir / "run" / "TesseraQuadrix-virtual" / "kb" / "disk" / "vTessera"; }
    std::string display(size_t key) const {
        return qxtest::readFile(tessera() / "dynamic" / displayFile(key)).substr(0, 4608);
    }
    // qxctl lists every line given (plug-ins and what they offer) and at least that many
    // libraries loading.
    static void expectListed(std::initializer_list<const char*> lines, size_t libraries) {
        const qxtest::ProgramResult listed = qxtest::runProgram({kBin + "/qxctl", "plugins"});
        ASSERT_EQ(listed.exitStatus, 0) << listed.err;
        for (const char* line : lines)
            EXPECT_NE(listed.out.find(line), std::string::npos) << line << " in\n" << listed.out;
        size_t loaded = 0;
        for (size_t at = listed.out.find("  loaded\n"); at != std::string::npos;
             at = listed.out.find("  loaded\n", at + 1))
            ++loaded;
        EXPECT_GE(loaded, libraries) << listed.out;
    }
    // The keyboard as it looks, for people (QX_UPDATE_SCREENSHOTS=1 writes it into the sources).
    void snapshot(const char* name) const {
        const fs::path shot = qEnvironmentVariableIsSet("QX_UPDATE_SCREENSHOTS")
                                  ? fs::path(QX_SOURCE_DIR) / "docs" / "screenshots" / name
                                  : m_dir / name;
        EXPECT_EQ(qxtest::runProgram({kBin + "/qxvkbd", "snapshot", shot.string(), "--name", "kb"}).exitStatus, 0);
    }
    // Whether the virtual keyboard "kb" takes requests.
    bool keyboardReady() const {
        return waitFor([&] { return fs::is_socket(tessera().parent_path().parent_path() / "control.sock"); });
    }
    // Whether the key shows a picture that is not all black.
    bool drawn(size_t key) const {
        const std::string d = display(key);
        return d.size() == 4608 && d.find_first_not_of('\0') != std::string::npos;
    }
    // Asks the running qxcfg to close, as the tray's "Exit" does; it ends cleanly.
    void closeProgram(ChildProcess& program) const {
        QXSingleInstance probe(m_dir / "run", {});
        ASSERT_TRUE(probe.postToRunning(qxwin::WM_CLOSE));
        ASSERT_TRUE(program.waitForExit(60s));
        EXPECT_EQ(program.exitStatus(), 0);
    }
    bool press(const char* key) {
        return qxtest::runProgram({kBin + "/qxvkbd", "press", key, "--name", "kb"}).exitStatus == 0;
    }

    // A plug-in assignment as the profile stores it.
    static std::string plugin(const char* kind, const char* id, const char* sub, const std::string& properties) {
        return std::string("<key>") + kind + "</key><dict><key>PluginID</key><string>" + id +
               "</string><key>SubPluginID</key><string>" + sub +
               "</string><key>PluginProperties</key><dict>" + properties + "</dict></dict>";
    }

    // The user's layers, the first one topmost: each an identifier and its property list.
    void writeProfile(const std::vector<std::pair<std::string, std::u16string>>& layers) {
        QXProfile store({profile(), m_dir / "tmp", kBin}, QXKeyTable::names());
        QXLayerTree tree;
        tree.loadFrom(*store.load()->findChild(u"Layers"));
        tree.ensureFixedItems(store);
        auto& items = tree.userLayers()->children();
        for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
            QXPropertyNode::Ptr node = parsePropertyList(layer->first, layer->second);
            ASSERT_TRUE(node) << toUtf8(layer->second);
            items.insert(items.begin(), createItem(*node));
        }
        QXPropertyNode root(u"root");
        tree.saveTo(root);
        ASSERT_TRUE(store.save(root));
    }

    // The user's layers: one with the plug-ins' keys, and a layer switched by action
    // that paints F4 red.
    void writeProfile() {
        const std::string keys =
            "<plist version=\"1.0\"><dict><key>DisplayName</key><string>Functions</string>"
            "<key>Buttons</key><dict>"
            "<key>F1</key><dict>" +
            plugin("ViewPlugin", "Functions", "drawstring.view",
                   "<key>String</key><string>Hi</string><key>Size</key><string>14</string>") +
            plugin("ActionPlugin", "Functions", "string.action", "<key>String</key><string>a\xC3\x9F</string>") +
            "</dict>"
            "<key>F2</key><dict>" +
            plugin("ActionPlugin", "Functions", "hotkey.action", "<key>Hotkey</key><string>3:65</string>") +
            "</dict>"
            "<key>F3</key><dict>" +
            plugin("ActionPlugin", "Modes", "toggle.action", "<key>LayerID</key><string>{switched}</string>") +
            "</dict></dict></dict></plist>";
        const std::string switched =
            "<plist version=\"1.0\"><dict><key>DisplayName</key><string>Switched</string>"
            "<key>Conditions</key><dict><key>{mode}</key><dict><key>Type</key><string>plugin</string>"
            "<key>PluginID</key><string>Modes</string><key>SubPluginID</key><string>mode.condition</string>"
            "</dict></dict>"
            "<key>Buttons</key><dict><key>F4</key><dict>" +
            plugin("ViewPlugin", "Functions", "drawstring.view",
                   "<key>String</key><string> </string><key>BkColor</key><string>255</string>") +
            "</dict></dict></dict></plist>";
        writeProfile({{keys, u"{functions}"}, {switched, u"{switched}"}});
    }

    qxtest::TempDir m_dir;
    std::unique_ptr<qxtest::QXXvfb> m_server;
    qxtest::ScopedEnv m_runtime{"XDG_RUNTIME_DIR", (m_dir / "run").string()};
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "config").string()};
    qxtest::ScopedEnv m_platform{"QT_QPA_PLATFORM", "offscreen"};
};

TEST_F(PluginsEndToEndTest, KeysShowTextTypeSendHotKeysAndToggleALayer) {
    // Both libraries are shipped in the program's "Plugins" and load with all they offer.
    expectListed({"Functions\tFunctions\t", "Modes\tModes\t", "\tdrawstring.view\t",
                  "\tstring.action\t", "\texecute.action\t", "\thotkey.action\t",
                  "\tswitchlayout.action\t", "\tmode.condition\tSwitch by action\t",
                  "\ttextmode.condition\t", "\ttoggle.action\t", "\tpress.action\t"}, 2);

    writeProfile();
    ChildProcess keyboard({kBin + "/qxvkbd", "--name", "kb", "--no-window"});
    ASSERT_TRUE(keyboardReady());
    TypingWindow window;
    ASSERT_TRUE(window.open());
    const size_t f1 = keyNamed(u"F1"), f4 = keyNamed(u"F4");
    // Red in the keyboard's 5-6-5 colour; the text view's empty string leaves its
    // background alone but for the odd pixel of a glyph's edge.
    auto redPixels = [](const std::string& picture) {
        size_t n = 0;
        for (size_t i = 0; i + 1 < picture.size(); i += 2)
            n += picture[i] == '\xF8' && picture[i + 1] == '\0';
        return n;
    };

    ChildProcess program({kBin + "/qxcfg", "/minimized"});
    // F1 shows its text: white letters on black, not one colour.
    EXPECT_TRUE(waitFor([&] {
        const std::string d = display(f1);
        return d.size() == 4608 && d.find("\xFF\xFF") != std::string::npos && d.find(std::string(2, '\0')) != std::string::npos;
    })) << "the text key is drawn";
    ASSERT_TRUE(waitFor([&] { return display(f4).size() == 4608; }));
    const std::string before = display(f4);
    EXPECT_LT(redPixels(before), 48 * 48 / 2) << "the switched layer starts off";

    // F1 types a text with a letter the layout lacks; F2 sends Ctrl+Alt+A.
    window.focus();
    ASSERT_TRUE(press("F1"));
    EXPECT_TRUE(waitFor([&] {
        window.read();
        return window.text() == "a\xC3\x9F";
    })) << "typed: " << window.text();
    ASSERT_TRUE(press("F2"));
    EXPECT_TRUE(waitFor([&] {
        window.read();
        return !window.chords().empty();
    }));
    ASSERT_FALSE(window.chords().empty());
    EXPECT_EQ(window.chords().front(), "Ctrl+Alt+a");

    // F3 switches the layer on, and off again.
    ASSERT_TRUE(press("F3"));
    EXPECT_TRUE(waitFor([&] { return redPixels(display(f4)) > 48 * 48 / 2; }))
        << "the switched layer is on: " << redPixels(display(f4)) << " red pixels";
    ASSERT_TRUE(press("F3"));
    EXPECT_TRUE(waitFor([&] { return display(f4) == before; })) << "and off again";

    snapshot("functions-keys.png");

    closeProgram(program);
}

} // namespace

namespace {

// The SysStat and WinTweak plug-ins in the running program, with a window manager: keys
// showing the processor, memory and network figures follow what the machine does, and a
// key makes the window under the pointer half transparent and opaque again.
class SystemKeysEndToEndTest : public PluginsEndToEndTest {
protected:
    bool windowManager() const override { return true; }
};

// An ordinary window of another program, managed by the window manager.
class ManagedWindow {
public:
    ManagedWindow() : m_display(XOpenDisplay(nullptr)) {
        if (!m_display)
            return;
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 100, 100, 300, 200, 0, 0, 0);
        const long pid = getpid();
        XChangeProperty(m_display, m_window, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
        XMapRaised(m_display, m_window);
        XSync(m_display, False);
    }
    ~ManagedWindow() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool managed() { return property("WM_STATE").has_value(); }
    // The window's opacity property, when it has one.
    std::optional<unsigned long> opacity() { return property("_NET_WM_WINDOW_OPACITY"); }
    void pointAt() {
        XWarpPointer(m_display, 0, m_window, 0, 0, 0, 0, 150, 100);
        XSync(m_display, False);
    }

private:
    Atom atom(const char* name) { return XInternAtom(m_display, name, False); }
    std::optional<unsigned long> property(const char* name) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::optional<unsigned long> value;
        if (XGetWindowProperty(m_display, m_window, atom(name), 0, 1, False, AnyPropertyType, &type, &format,
                               &count, &after, &data) == Success &&
            type != 0 && count == 1 && format == 32)
            // Xlib hands 32-bit items out as longs, sign-extended.
            value = *reinterpret_cast<unsigned long*>(data) & 0xFFFFFFFFul;
        if (data)
            XFree(data);
        return value;
    }

    Display* m_display;
    Window m_window = 0;
};

TEST_F(SystemKeysEndToEndTest, FiguresFollowTheMachineAndAKeyTurnsAWindowTransparent) {
    expectListed({"SysStat\tSystem statistics\t", "WinTweak\tWindow tweaks\t", "\tview.sysstat.cpu\t",
                  "\tview.sysstat.mem\t", "\tview.sysstat.net\t", "\tmonitor.action\t",
                  "\tXRaywindow.action\t", "\twindowmover.action\t"}, 4);

    writeProfile({{"<plist version=\"1.0\"><dict><key>DisplayName</key><string>System</string>"
                   "<key>Buttons</key><dict>"
                   "<key>F5</key><dict>" + plugin("ViewPlugin", "SysStat", "view.sysstat.cpu", "") + "</dict>"
                   "<key>F6</key><dict>" + plugin("ViewPlugin", "SysStat", "view.sysstat.mem", "") + "</dict>"
                   "<key>F7</key><dict>" +
                       plugin("ViewPlugin", "SysStat", "view.sysstat.net", "<key>Adapter</key><string>lo</string>") +
                   "</dict>"
                   "<key>F8</key><dict>" + plugin("ActionPlugin", "WinTweak", "XRaywindow.action", "") + "</dict>"
                   "</dict></dict></plist>",
                   u"{system}"}});
    ChildProcess keyboard({kBin + "/qxvkbd", "--name", "kb", "--no-window"});
    ASSERT_TRUE(keyboardReady());
    ChildProcess program({kBin + "/qxcfg", "/minimized"});

    // Each figure key is drawn (green text on black), and changes while the machine works:
    // the processor is kept busy, memory taken, and bytes sent through the loopback
    // interface, each until its key shows it.
    const size_t keys[] = {keyNamed(u"F5"), keyNamed(u"F6"), keyNamed(u"F7")};
    for (size_t key : keys)
        ASSERT_TRUE(waitFor([&] { return drawn(key) && display(key).find(std::string(2, '\0')) != std::string::npos; }, 60s))
            << "key " << key << " is drawn on black";
    std::string first[3];
    for (int i = 0; i < 3; ++i)
        first[i] = display(keys[i]);

    std::atomic<bool> busy{true};
    std::thread spinner([&] {
        volatile unsigned long n = 0;
        while (busy.load(std::memory_order_relaxed))
            n = n + 1;
    });
    EXPECT_TRUE(waitFor([&] { return display(keys[0]) != first[0]; }, 60s)) << "the processor key changes";
    busy = false;
    spinner.join();

    std::vector<char> taken;
    EXPECT_TRUE(waitFor([&] {
        if (taken.size() < (size_t(512) << 20))
            taken.resize(taken.size() + (size_t(64) << 20), '\1');
        return display(keys[1]) != first[1];
    }, 60s)) << "the memory key changes";
    std::vector<char>().swap(taken);

    qxtest::TempDir scratch;
    EXPECT_TRUE(waitFor([&] {
        // A burst of traffic on the loopback interface: a local TCP transfer.
        const int server = ::socket(AF_INET, SOCK_STREAM, 0), client = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bool sent = ::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(server, 1) == 0 &&
                    ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                    ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        const int peer = sent ? ::accept(server, nullptr, nullptr) : -1;
        std::vector<char> chunk(64 << 10, 'x');
        for (int i = 0; sent && peer >= 0 && i < 64; ++i) {
            sent = ::send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0;
            while (sent && ::recv(peer, chunk.data(), chunk.size(), MSG_DONTWAIT) > 0) {
            }
        }
        for (int fd : {peer, client, server})
            if (fd >= 0)
                ::close(fd);
        return display(keys[2]) != first[2];
    }, 60s)) << "the network key changes";

    snapshot("system-keys.png");

    // F8 turns the window under the pointer half transparent, and opaque again.
    ManagedWindow window;
    ASSERT_TRUE(waitFor([&] { return window.managed(); })) << "the window manager manages the window";
    window.pointAt();
    ASSERT_TRUE(press("F8"));
    EXPECT_TRUE(waitFor([&] { return window.opacity() == 0x80808080ul; })) << "half transparent";
    ASSERT_TRUE(press("F8"));
    EXPECT_TRUE(waitFor([&] { return !window.opacity(); })) << "opaque again";

    closeProgram(program);
}

} // namespace

namespace {

// The Mail plug-in's POP3 keys against a real Dovecot: the count on the badge, no badge for
// an empty mailbox, the error picture for an account without a server, new mail followed,
// and the password kept only in its protected form.
TEST_F(PluginsEndToEndTest, Pop3KeysCountAMailboxAndFollowNewMail) {
    qxtest::PrivateDovecot dovecot;
    if (!dovecot.skipReason.empty())
        GTEST_SKIP() << dovecot.skipReason;
    qxtest::ScopedEnv data("XDG_DATA_HOME", (m_dir / "data").string());
    // The program trusts the test's CA as it would the system's store: Dovecot offers STLS.
    qxtest::ScopedEnv ca("QX_MAIL_CA_FILE", dovecot.caFile().string());
    char16_t password[512] = {};
    ASSERT_EQ(PassProtect(u"s3cret", password, 512), 1);
    char16_t emptyPassword[512] = {};
    ASSERT_EQ(PassProtect(u"nothing", emptyPassword, 512), 1);
    const std::string server = "localhost:" + std::to_string(dovecot.plainPort);
    auto account = [&](const std::string& host, const char* user, const char16_t* secret) {
        return plugin("ViewPlugin", "Mail", "incount.pop.view",
                      "<key>Server</key><string>" + host + "</string><key>UserName</key><string>" +
                          user + "</string><key>Password</key><string>" + toUtf8(secret) +
                          "</string>");
    };
    writeProfile({{"<plist version=\"1.0\"><dict><key>DisplayName</key><string>Mail</string>"
                   "<key>Buttons</key><dict>"
                   "<key>F9</key><dict>" + account(server, "qxtest", password) + "</dict>"
                   "<key>F10</key><dict>" + account("", "qxtest", password) + "</dict>"
                   "<key>F11</key><dict>" + account(server, "empty", emptyPassword) + "</dict>"
                   "</dict></dict></plist>",
                   u"{mail}"}});
    ChildProcess keyboard({kBin + "/qxvkbd", "--name", "kb", "--no-window"});
    ASSERT_TRUE(keyboardReady());
    ChildProcess program({kBin + "/qxcfg", "/minimized"});

    // The brown-gold of the badge in the keyboard's 5-6-5 colour, big-endian.
    auto badgePixels = [](const std::string& picture) {
        size_t n = 0;
        for (size_t i = 0; i + 1 < picture.size(); i += 2)
            n += picture[i] == '\xCD' && picture[i + 1] == '\x2D';
        return n;
    };
    const size_t full = keyNamed(u"F9"), noServer = keyNamed(u"F10"), empty = keyNamed(u"F11");
    EXPECT_TRUE(waitFor([&] { return badgePixels(display(full)) > 20; }, 60s)) << "12 messages: a badge";
    const std::string twelve = display(full);
    ASSERT_TRUE(waitFor([&] { return drawn(noServer) && drawn(empty); }, 60s));
    EXPECT_EQ(badgePixels(display(empty)), 0u) << "no messages: no badge";
    EXPECT_EQ(badgePixels(display(noServer)), 0u);
    EXPECT_NE(display(noServer), display(empty)) << "no server: the error picture, not the empty one";

    // New mail is seen at the next poll, half a minute later.
    dovecot.deliver("qxtest", "thirteen");
    EXPECT_TRUE(waitFor([&] { return display(full) != twelve && badgePixels(display(full)) > 20; }, 90s))
        << "13 messages";
    snapshot("mail-keys.png");

    closeProgram(program);
    // Only the protected form was ever written to the profile.
    for (const auto& entry : fs::recursive_directory_iterator(profile())) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(qxtest::readFile(entry.path()).find("s3cret"), std::string::npos) << entry.path();
        }
    }
}

TEST_F(PluginsEndToEndTest, VideoKeysPlayTheShippedClipAndALoopingClipKeepsMoving) {
    // A second of a moving ball, made with GStreamer; the other key names no clip and plays
    // the one shipped with the plug-in, once.
    const std::string clip = (m_dir / "ball.ogv").string();
    ASSERT_EQ(qxtest::runProgram({"/usr/bin/gst-launch-1.0", "-q", "videotestsrc", "num-buffers=10",
                                  "pattern=ball", "!", "video/x-raw,width=96,height=72,framerate=10/1",
                                  "!", "videoconvert", "!", "theoraenc", "!", "oggmux", "!",
                                  "filesink", "location=" + clip})
                  .exitStatus,
              0);
    writeProfile({{"<plist version=\"1.0\"><dict><key>DisplayName</key><string>Video</string>"
                   "<key>Buttons</key><dict>"
                   "<key>F5</key><dict>" + plugin("ViewPlugin", "Video", "video.view", "") + "</dict>"
                   "<key>F6</key><dict>" +
                       plugin("ViewPlugin", "Video", "video.view",
                              "<key>Path</key><string>" + clip +
                                  "</string><key>Looping</key><string>true</string>") +
                       "</dict>"
                   "</dict></dict></plist>",
                   u"{video}"}});
    ChildProcess keyboard({kBin + "/qxvkbd", "--name", "kb", "--no-window"});
    ASSERT_TRUE(keyboardReady());
    const auto start = std::chrono::steady_clock::now();
    ChildProcess program({kBin + "/qxcfg", "/minimized"});

    const size_t shipped = keyNamed(u"F5"), looping = keyNamed(u"F6");
    EXPECT_TRUE(waitFor([&] { return drawn(shipped); }, 60s)) << "the shipped clip plays";
    ASSERT_TRUE(waitFor([&] { return drawn(looping); }, 60s));
    // Well past the clip's end, the looping key still changes.
    ASSERT_TRUE(waitFor([&] { return std::chrono::steady_clock::now() - start > 3s; }));
    const std::string later = display(looping);
    EXPECT_TRUE(waitFor([&] { return display(looping) != later; }, 30s)) << "the looping key stopped";

    snapshot("video-keys.png");
    closeProgram(program);
}

} // namespace
