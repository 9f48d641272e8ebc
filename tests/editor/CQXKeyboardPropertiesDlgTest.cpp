// The keyboard properties dialog on Qt's offscreen platform: where its sliders open, what
// a move sends and what it does not, and the same moves reaching a virtual keyboard's disk
// through the device controller.
#include "editor/CQXKeyboardPropertiesDlg.h"

#include "app/QXDeviceKeyboardSettings.h"
#include "controls/CTesSliderCtrl.h"
#include "device/QXDevice.h"
#include "device/QXDeviceDiscovery.h"
#include "model/QXLayerTree.h"
#include "platform/QXDispatch.h"
#include "store/QXPropertyNode.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Dlg = CQXKeyboardPropertiesDlg;

namespace {

void ensureApplication() {
    static qxtest::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "editor_properties_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

// Settings that remember every call made to them.
struct RecordingSettings : QXKeyboardSettings {
    unsigned delay = 420, level = 70;
    bool automatic = false;
    std::vector<std::string> calls;

    unsigned sleepDelay() const override { return delay; }
    unsigned brightness() const override { return level; }
    bool automaticBrightness() const override { return automatic; }
    void setSleepDelay(unsigned seconds) override {
        delay = seconds;
        calls.push_back("sleep " + std::to_string(seconds));
    }
    void setBrightness(unsigned l, bool a) override {
        level = l, automatic = a;
        calls.push_back("brightness " + std::to_string(l) + (a ? " auto" : ""));
    }
};

template <typename T> T* child(QWidget& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

} // namespace

TEST(KeyboardPropertiesDlg, SleepPositionsSecondsAndReadOutsFollowTheBreakpoints) {
    // Every tenth position is a breakpoint and comes back to itself.
    const int breakpoints[] = {30, 60, 300, 1800, 3600, 9999};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Dlg::secondsFromPosition(i * 10), breakpoints[i]) << i * 10;
        EXPECT_EQ(std::clamp(Dlg::positionFromSeconds(breakpoints[i]), 0, 50), i * 10);
    }
    // Between breakpoints, integer interpolation; and the slider's ends out of reach.
    EXPECT_EQ(Dlg::secondsFromPosition(45), 6799);
    EXPECT_EQ(Dlg::secondsFromPosition(1), 33);
    EXPECT_EQ(Dlg::secondsFromPosition(-5), 30);
    EXPECT_EQ(Dlg::secondsFromPosition(500), 9999);
    // Opening rounds down: 6799 s opens one position short of the one that made it.
    EXPECT_EQ(Dlg::positionFromSeconds(6799), 44);
    EXPECT_LT(Dlg::positionFromSeconds(0), 0);
    EXPECT_GE(Dlg::positionFromSeconds(9999), 50);
    EXPECT_GE(Dlg::positionFromSeconds(100000), 50);

    EXPECT_EQ(Dlg::readOut(6799), QStringLiteral("1 hr 53 min 19 sec "));
    EXPECT_EQ(Dlg::readOut(3600), QStringLiteral("1 hr "));
    EXPECT_EQ(Dlg::readOut(90), QStringLiteral("1 min 30 sec "));
    EXPECT_EQ(Dlg::readOut(0), QStringLiteral("Immediately"));
    EXPECT_EQ(Dlg::readOut(9999), QStringLiteral("Never"));
}

TEST(KeyboardPropertiesDlg, OpensAtTheStoredValuesAndSendsEachChangeOnceAndNothingElse) {
    ensureApplication();
    {
        RecordingSettings never;
        never.delay = 9999;
        Dlg dialog(never);
        EXPECT_EQ(child<CTesSliderCtrl>(dialog, "sleepTimeout")->value(), 50);
        RecordingSettings immediately;
        immediately.delay = 0;
        Dlg atZero(immediately);
        EXPECT_EQ(child<CTesSliderCtrl>(atZero, "sleepTimeout")->value(), 0);
        EXPECT_TRUE(never.calls.empty() && immediately.calls.empty()) << "opening sent";
    }

    RecordingSettings settings;
    Dlg dialog(settings);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Properties"));
    auto* sleep = child<CTesSliderCtrl>(dialog, "sleepTimeout");
    auto* brightness = child<CTesSliderCtrl>(dialog, "brightness");
    auto* readOut = child<QLabel>(dialog, "sleepReadOut");
    auto* automatic = child<QCheckBox>(dialog, "autoBrightness");
    EXPECT_TRUE(child<QLabel>(dialog, "sleepScale")->text().endsWith(QChar(0x221E)));
    EXPECT_EQ(sleep->maximum(), 50);
    EXPECT_EQ(brightness->value(), 70);
    EXPECT_FALSE(readOut->isVisible()) << "the read-out waits for the first move";
    for (QWidget* widget : dialog.findChildren<QWidget*>())
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();

    // The keyboard's End key takes the timeout to "never"; a move to position 45 shows
    // its read-out.
    sleep->setFocus();
    QTest::keyClick(sleep, Qt::Key_End);
    EXPECT_TRUE(readOut->isVisible());
    EXPECT_EQ(readOut->text(), QStringLiteral("Never"));
    sleep->setValue(45);
    EXPECT_EQ(readOut->text(), QStringLiteral("1 hr 53 min 19 sec "));

    // The keyboard changed its brightness to 74 behind the dialog: a drag to 74 sends
    // nothing; a drag to 76 does, with the flag as it stands.
    settings.level = 74;
    brightness->setValue(74);
    brightness->setValue(76);
    automatic->click();
    QTest::keyClick(brightness, Qt::Key_Right); // 77

    const std::vector<std::string> expected{"sleep 9999", "sleep 6799", "brightness 76",
                                            "brightness 76 auto", "brightness 77 auto"};
    EXPECT_EQ(settings.calls, expected);

    QTest::mouseClick(child<QWidget>(dialog, "close"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
}

// The dialog over the program's device controller, connected to a virtual keyboard's
// folder: each change lands in the keyboard's command file and in the saved settings.
TEST(KeyboardPropertiesDlg, ChangesReachTheKeyboardAndTheSavedSettings) {
    ensureApplication();
    qxtest::TempDir dir;
    QXDispatch dispatch;
    QXDispatch::setCurrent(&dispatch);
    struct ConnectedState : QXSystemState {
        bool isKeyboardConnected() const override { return true; }
    } state;
    QXSystemState::setCurrent(&state);
    const fs::path folder = dir / "vk";
    qxtest::writeFile(folder / "disk" / "vTessera" / "version.sys",
                      std::string("TesseraV0.80b\0", 14));
    qxtest::writeFile(folder / "disk" / "vTessera" / "scancode.sys", std::string(9216, '\xFF'));
    std::vector<int> sockets;
    for (const char* name : {"signal.sock", "keys.sock"}) {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, (folder / name).c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::listen(fd, 4);
        sockets.push_back(fd);
    }
    // The keyboard's command file: a command padded with NULs to five bytes.
    const auto order = [&] {
        const std::string bytes = qxtest::readFile(folder / "disk" / "vTessera" / "order.sys");
        return bytes.substr(0, bytes.find('\0'));
    };
    {
        QXLayerTree tree;
        QXLayersController layers(tree, dispatch);
        QXDevice device(QXDeviceDiscovery::createVirtualBackend(dir.path()));
        QXDeviceController controller(device, layers, [] { return std::optional<unsigned>(0); });
        controller.setPause([] {});
        ASSERT_TRUE(device.discoverAndConnect());
        ASSERT_TRUE(qxtest::waitFor([&] { return order() == "b070"; })) << order();

        QXDeviceKeyboardSettings settings(controller);
        Dlg dialog(settings);
        dialog.show();
        child<CTesSliderCtrl>(dialog, "sleepTimeout")->setValue(45);
        EXPECT_TRUE(qxtest::waitFor([&] { return order() == "s6799"; })) << order();
        child<CTesSliderCtrl>(dialog, "brightness")->setValue(40);
        EXPECT_TRUE(qxtest::waitFor([&] { return order() == "b040"; })) << order();
        child<QCheckBox>(dialog, "autoBrightness")->click();
        EXPECT_TRUE(qxtest::waitFor([&] { return order() == "b040A"; })) << order();

        QXPropertyNode root(u"root");
        controller.saveTo(root);
        const QXPropertyNode::Ptr saved = root.findChild(u"Device");
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->childValue(u"SleepModeDelay"), u"6799");
        EXPECT_EQ(saved->childValue(u"Brightness"), u"40");
        EXPECT_EQ(saved->childValue(u"AutoBrightness"), u"true");
    }
    for (int fd : sockets)
        ::close(fd);
    QXSystemState::setCurrent(nullptr);
    QXDispatch::setCurrent(nullptr);
}
