// The tray program end to end, headless: qxcfg drives a virtual keyboard run as its own
// program, from a profile on disk, and leaves the keyboard and the profile as it should.
#include "app/QXSingleInstance.h"
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXWin32.h"
#include "store/QXProfile.h"
#include "store/QXPropertyList.h"
#include "support/QXTestSupport.h"

#include <QImage>
#include <QString>
#include <gtest/gtest.h>
#include <future>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qxtest::ChildProcess;
using qxtest::ProgramResult;
using qxtest::waitFor;

namespace {

const std::string kBin = QX_PROGRAM_DIR;
constexpr size_t kF1 = 1, kF2 = 2, kF3 = 3, kF4 = 4;

std::string displayFile(size_t key) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.sys", QXKeyTable::key(key).displayNumber);
    return name;
}

// A display file's picture in one RGB 5-6-5 colour.
std::string solid(uint16_t colour) {
    std::string bytes;
    for (int i = 0; i < 48 * 48; ++i)
        bytes += static_cast<char>(colour >> 8), bytes += static_cast<char>(colour & 0xFF);
    return bytes;
}
constexpr uint16_t kRed = 0xF800, kGreen = 0x07E0;

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest() {
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
    }

    fs::path profile() const { return m_dir / "config" / "TesseraQuadrix"; }
    fs::path tessera() const { return m_dir / "run" / "TesseraQuadrix-virtual" / "kb" / "disk" / "vTessera"; }

    std::unique_ptr<ChildProcess> startKeyboard() {
        auto keyboard = std::make_unique<ChildProcess>(
            std::vector<std::string>{kBin + "/qxvkbd", "--name", "kb", "--no-window"});
        EXPECT_TRUE(waitFor([&] { return fs::is_socket(tessera().parent_path().parent_path() / "control.sock"); }));
        return keyboard;
    }

    std::unique_ptr<ChildProcess> startProgram(std::vector<std::string> args) {
        args.insert(args.begin(), kBin + "/qxcfg");
        auto program = std::make_unique<ChildProcess>(args);
        EXPECT_TRUE(waitFor([&] { return answers(); })) << "the program listens";
        return program;
    }

    bool answers() {
        QXSingleInstance::Timings fast;
        fast.findRetry = 10ms;
        QXSingleInstance probe(m_dir / "run", fast);
        return fs::exists(probe.socketPath()) && probe.postToRunning(0);
    }

    // "Exit" closes the dispatch window; so does this.
    void exitProgram(ChildProcess& program) {
        QXSingleInstance probe(m_dir / "run", {});
        ASSERT_TRUE(probe.postToRunning(qxwin::WM_CLOSE));
        ASSERT_TRUE(program.waitForExit(60s));
        EXPECT_EQ(program.exitStatus(), 0);
    }

    std::string display(size_t key) { return qxtest::readFile(tessera() / "dynamic" / displayFile(key)).substr(0, 4608); }
    bool shows(size_t key, uint16_t colour) {
        return waitFor([&] { return display(key) == solid(colour); });
    }
    bool allDisplaysWritten() {
        return waitFor([&] {
            for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
                if (!fs::exists(tessera() / "dynamic" / displayFile(key)))
                    return false;
            return qxtest::readFile(tessera() / "order.sys").substr(0, 4) == "b070";
        });
    }

    ProgramResult qxctl(std::vector<std::string> args) {
        args.insert(args.begin(), kBin + "/qxctl");
        return qxtest::runProgram(args);
    }

    // A ".layers" file holding one layer that paints one key in one colour.
    fs::path layersFile(const std::string& name, size_t key, QColor colour) {
        QImage picture(QXLayoutPicture::kWidth, QXLayoutPicture::kHeight, QImage::Format_RGB888);
        picture.fill(Qt::black);
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(key);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x)
                picture.setPixelColor(s.left + x, s.top + y, colour);
        const fs::path png = m_dir / (name + ".png");
        picture.save(QString::fromStdString(png.string()));
        const std::string scratch = (m_dir / ("scratch-" + name)).string();
        ProgramResult made = qxctl({"--profile", scratch, "layer-from-image", png.string(), name});
        EXPECT_EQ(made.exitStatus, 0) << made.err;
        const std::string id = made.out.substr(0, made.out.find('\n'));
        const fs::path file = m_dir / (name + ".LAYERS");
        ProgramResult exported = qxctl({"--profile", scratch, "export", id, file.string()});
        EXPECT_EQ(exported.exitStatus, 0) << exported.err;
        return file;
    }

    size_t logCount(const std::string& line) {
        std::istringstream in(qxtest::readFile(m_dir / "plugin.log"));
        size_t n = 0;
        for (std::string l; std::getline(in, l);)
            n += l.rfind(line, 0) == 0;
        return n;
    }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_runtime{"XDG_RUNTIME_DIR", (m_dir / "run").string()};
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "config").string()};
    qxtest::ScopedEnv m_platform{"QT_QPA_PLATFORM", "offscreen"};
    qxtest::ScopedEnv m_display{"DISPLAY", ""};
    qxtest::ScopedEnv m_plugins{"QX_PLUGIN_PATH", QX_TEST_PLUGINS_DIR};
    qxtest::ScopedEnv m_log{"QX_TEST_PLUGIN_LOG", (m_dir / "plugin.log").string()};
};

TEST_F(ProgramTest, AFreshProfileShowsTheDefaultButtonsAndExitLeavesKeyboardAndProfileRight) {
    auto keyboard = startKeyboard();
    const std::string ownCodes = qxtest::readFile(tessera() / "scancode.sys");
    auto program = startProgram({"/minimized"});
    ASSERT_TRUE(allDisplaysWritten());

    // What qxctl prepares for an empty profile is what the program pushed.
    ProgramResult dumped = qxctl({"--profile", (m_dir / "nothing").string(), "dump", (m_dir / "dump").string()});
    ASSERT_EQ(dumped.exitStatus, 0) << dumped.err;
    // A display file exists from the moment its write begins: wait for the contents.
    auto differing = [&] {
        size_t n = 0;
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
            n += display(key) != qxtest::readFile(m_dir / "dump" / "Tessera" / "normal" / displayFile(key));
        return n;
    };
    EXPECT_TRUE(waitFor([&] { return differing() == 0; })) << differing() << " displays differ";
    EXPECT_FALSE(fs::exists(profile())) << "the profile is written at exit, not before";

    exitProgram(*program);
    EXPECT_EQ(qxtest::readFile(tessera() / "scancode.sys").substr(0, 9216), ownCodes)
        << "the keyboard has its own codes back";
    EXPECT_EQ(qxtest::readFile(tessera() / "layout.sys").substr(0, 114), std::string(114, '\0'))
        << "every display off";
    EXPECT_TRUE(fs::exists(profile() / "Layers" / "user_layers" / "default_buttons" / "Escape.png"));
    EXPECT_TRUE(fs::exists(profile() / "Device.plist"));
}

TEST_F(ProgramTest, LayersFilesFromTheCommandLineAndASecondStartAreImportedAndShown) {
    const fs::path red = layersFile("Red", kF1, QColor(255, 0, 0));
    const fs::path green = layersFile("Green", kF2, QColor(0, 255, 0));
    auto keyboard = startKeyboard();
    auto program = startProgram({"/minimized", red.string()});
    EXPECT_TRUE(shows(kF1, kRed));

    ProgramResult second = qxtest::runProgram({kBin + "/qxcfg", green.string()});
    EXPECT_EQ(second.exitStatus, 0) << second.err;
    EXPECT_TRUE(shows(kF2, kGreen)) << "the running copy imported the file";
    EXPECT_TRUE(program->running());

    // qxctl leaves the profile to the running copy: an import is handed over like a
    // second start's, a change it cannot hand over is refused.
    const fs::path blue = layersFile("Blue", kF3, QColor(0, 0, 255));
    ProgramResult imported = qxctl({"import", blue.string()});
    EXPECT_EQ(imported.exitStatus, 0) << imported.err;
    EXPECT_TRUE(shows(kF3, 0x001F)) << "the running copy imported the file";
    ProgramResult sync = qxctl({"sync"});
    EXPECT_EQ(sync.exitStatus, 1);
    EXPECT_NE(sync.err.find("qxcfg is running"), std::string::npos) << sync.err;

    exitProgram(*program);
    ProgramResult tree = qxctl({"--profile", profile().string(), "tree"});
    EXPECT_NE(tree.out.find("\tRed\t"), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("\tGreen\t"), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("\tBlue\t"), std::string::npos) << "kept at exit: " << tree.out;
}

TEST_F(ProgramTest, PlugInsTakePressesAndFollowTheKeyboardComingAndGoing) {
    // A profile whose "user_layers" starts with a layer of the test plug-in: a green view
    // on F4 and a logging action on F3.
    {
        std::vector<std::u16string> names;
        for (const QXKeyRecord& key : QXKeyTable::keys())
            names.emplace_back(key.name);
        QXProfile store({profile(), m_dir / "tmp", kBin}, names);
        QXLayerTree tree;
        tree.loadFrom(*store.load()->findChild(u"Layers"));
        tree.ensureFixedItems(store);
        const std::string plist =
            "<plist version=\"1.0\"><dict><key>DisplayName</key><string>Plug-ins</string>"
            "<key>Buttons</key><dict>"
            "<key>F3</key><dict><key>ActionPlugin</key><dict><key>PluginID</key><string>test.good"
            "</string><key>SubPluginID</key><string>log.action</string></dict></dict>"
            "<key>F4</key><dict><key>ViewPlugin</key><dict><key>PluginID</key><string>test.good"
            "</string><key>SubPluginID</key><string>color.view</string><key>PluginProperties</key>"
            "<dict><key>Color</key><string>65280</string></dict></dict></dict>"
            "</dict></dict></plist>";
        QXPropertyNode::Ptr node = parsePropertyList(plist, u"{plugin-layer}");
        ASSERT_TRUE(node);
        auto& items = tree.userLayers()->children();
        items.insert(items.begin(), createItem(*node));
        QXPropertyNode root(u"root");
        tree.saveTo(root);
        ASSERT_TRUE(store.save(root));
    }
    auto keyboard = startKeyboard();
    auto program = startProgram({"/minimized"});
    EXPECT_TRUE(shows(kF4, kGreen)) << "the view's picture reaches the keyboard";
    EXPECT_TRUE(waitFor([&] {
        return qxtest::readFile(tessera() / "scancode.sys").substr((QXKeyTable::key(kF3).codeSlot - 1) * 64, 64) ==
               std::string(64, '\xFF');
    })) << "the action's key sends nothing to the computer";

    ASSERT_EQ(qxtest::runProgram({kBin + "/qxvkbd", "press", "F3", "--name", "kb"}).exitStatus, 0);
    EXPECT_TRUE(waitFor([&] { return logCount("action KeyUp") == 1; }));
    EXPECT_EQ(logCount("action KeyDown"), 1u);

    // "user_layers" holds only while a keyboard is connected.
    const size_t activations = logCount("view Activate");
    keyboard->terminate();
    EXPECT_TRUE(waitFor([&] { return logCount("view Deactivate") >= 1; })) << "unplugged";
    keyboard = startKeyboard();
    EXPECT_TRUE(waitFor([&] { return logCount("view Activate") > activations; })) << "plugged in again";
    EXPECT_TRUE(shows(kF4, kGreen));

    // The session ends: the program goes, the keyboard gets its own codes back, and the
    // plug-in assignments are saved as they were read.
    ::kill(program->pid(), SIGTERM);
    ASSERT_TRUE(program->waitForExit(60s));
    EXPECT_EQ(program->exitStatus(), 0);
    EXPECT_EQ(qxtest::readFile(tessera() / "layout.sys").substr(0, 114), std::string(114, '\0'));
    QXPropertyNode::Ptr saved = loadPropertyList(profile() / "Layers" / "user_layers" / "{plugin-layer}" / "Layer.plist", u"layer");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->findChild(u"Buttons")->findChild(u"F4")->findChild(u"ViewPlugin")->childValue(u"SubPluginID"),
              u"color.view");
}

} // namespace

namespace {

TEST_F(ProgramTest, AProfileThatCannotBeWrittenIsReportedAndLeftAsItWas) {
    fs::create_directories(profile().parent_path());
    qxtest::writeFile(profile(), "not a folder");
    auto keyboard = startKeyboard();
    auto run = std::async(std::launch::async, [&] {
        return qxtest::runProgram({kBin + "/qxcfg", "/minimized"});
    });
    ASSERT_TRUE(waitFor([&] { return answers(); }));
    ASSERT_TRUE(allDisplaysWritten()) << "the program runs on";
    QXSingleInstance probe(m_dir / "run", {});
    ASSERT_TRUE(probe.postToRunning(qxwin::WM_CLOSE));
    const ProgramResult result = run.get();
    EXPECT_EQ(result.exitStatus, 0);
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = result.err.find(what); at != std::string::npos; at = result.err.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("cannot be written"), 1u) << result.err;
    EXPECT_EQ(count("could not be written"), 1u) << result.err;
    EXPECT_EQ(qxtest::readFile(profile()), "not a folder");
    EXPECT_EQ(qxtest::readFile(tessera() / "layout.sys").substr(0, 114), std::string(114, '\0'))
        << "the keyboard is released all the same";
}

// A Wayland-only session: no DISPLAY, and a Wayland display the program never needs.
TEST_F(ProgramTest, WithoutAnXSessionTheKeyboardIsDrivenAndTheUserIsToldOnce) {
    ::unsetenv("DISPLAY");
    qxtest::ScopedEnv wayland{"WAYLAND_DISPLAY", "qx-no-such-wayland-0"};
    auto keyboard = startKeyboard();
    auto run = std::async(std::launch::async, [&] {
        return qxtest::runProgram({kBin + "/qxcfg", "/minimized"});
    });
    ASSERT_TRUE(waitFor([&] { return answers(); }));
    ASSERT_TRUE(allDisplaysWritten());
    ProgramResult dumped = qxctl({"--profile", (m_dir / "nothing").string(), "dump", (m_dir / "dump").string()});
    ASSERT_EQ(dumped.exitStatus, 0) << dumped.err;
    EXPECT_TRUE(waitFor([&] {
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
            if (display(key) != qxtest::readFile(m_dir / "dump" / "Tessera" / "normal" / displayFile(key)))
                return false;
        return true;
    })) << "the default buttons reach the keyboard";

    QXSingleInstance probe(m_dir / "run", {});
    ASSERT_TRUE(probe.postToRunning(qxwin::WM_CLOSE));
    const ProgramResult result = run.get();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const std::string notice = "application, language and modifier conditions need an X session";
    const size_t first = result.err.find(notice);
    ASSERT_NE(first, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(notice, first + 1), std::string::npos) << "said once: " << result.err;
    EXPECT_NE(result.err.find("DISPLAY is not set"), std::string::npos) << result.err;
    EXPECT_EQ(qxtest::readFile(tessera() / "layout.sys").substr(0, 114), std::string(114, '\0'))
        << "the keyboard is released at exit";
}

// The same under a real Wayland compositor (Weston without a screen) on Qt's Wayland
// platform, with a panel on a private session bus: the program starts there, shows its
// icon as a StatusNotifierItem, drives the keyboard, tells the user once through a
// notification and ends cleanly.
TEST_F(ProgramTest, UnderAWaylandCompositorTheIconIsAStatusNotifierAndTheUserIsToldOnce) {
    const std::string weston = "/usr/bin/weston", bus = "/usr/bin/dbus-daemon";
    if (::access(weston.c_str(), X_OK) != 0 || ::access(bus.c_str(), X_OK) != 0 ||
        !fs::exists("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"))
        GTEST_SKIP() << "weston, dbus-daemon or Qt's Wayland platform is not installed";
    ::unsetenv("DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    const fs::path busSocket = m_dir / "bus";
    ChildProcess sessionBus({bus, "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
                             "--address=unix:path=" + busSocket.string()});
    ASSERT_TRUE(waitFor([&] { return fs::is_socket(busSocket); }));
    qxtest::ScopedEnv busAddress{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + busSocket.string()};
    const fs::path calls = m_dir / "panel.log";
    ChildProcess panel({std::string(QX_TEST_BIN_DIR) + "/qx_status_notifier_host", calls.string()});
    ASSERT_TRUE(waitFor([&] { return qxtest::readFile(calls).find("ready") != std::string::npos; }));

    ChildProcess compositor({weston, "--backend=headless-backend.so", "--socket=qx-wayland-0",
                             "--idle-time=0", "--log=" + (m_dir / "weston.log").string()});
    ASSERT_TRUE(waitFor([&] { return fs::exists(m_dir / "run" / "qx-wayland-0"); }))
        << qxtest::readFile(m_dir / "weston.log");
    qxtest::ScopedEnv wayland{"WAYLAND_DISPLAY", "qx-wayland-0"};
    qxtest::ScopedEnv platform{"QT_QPA_PLATFORM", "wayland"};
    auto keyboard = startKeyboard();
    auto run = std::async(std::launch::async, [&] {
        return qxtest::runProgram({kBin + "/qxcfg", "/minimized"});
    });
    ASSERT_TRUE(waitFor([&] { return answers(); }));
    ASSERT_TRUE(allDisplaysWritten());
    const std::string notice = "need an X session";
    EXPECT_TRUE(waitFor([&] {
        const std::string text = qxtest::readFile(calls);
        return text.find("RegisterStatusNotifierItem") != std::string::npos &&
               text.find(notice) != std::string::npos;
    })) << qxtest::readFile(calls);

    QXSingleInstance probe(m_dir / "run", {});
    ASSERT_TRUE(probe.postToRunning(qxwin::WM_CLOSE));
    const ProgramResult result = run.get();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const std::string text = qxtest::readFile(calls);
    const size_t first = text.find(notice);
    EXPECT_EQ(text.find(notice, first + 1), std::string::npos) << "one notification: " << text;
    EXPECT_NE(result.err.find(notice), std::string::npos) << result.err;
    EXPECT_EQ(qxtest::readFile(tessera() / "layout.sys").substr(0, 114), std::string(114, '\0'));
}

} // namespace
