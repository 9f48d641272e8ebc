// The update controller and its dialog against an update server on 127.0.0.1 and a
// virtual keyboard's folder: what the user is told and offered, and what reaches the
// keyboard's disk and the profile folder.
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXHttpTestServer.h"
#include "support/QXTestSupport.h"
#include "update/CFirmwareUpdateDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using qxtest::waitFor;
using Server = qxtest::QXHttpTestServer;
using Controller = QXFirmwareUpdateController;

namespace {

Server::Response reply(std::string body) {
    return {.contentType = "application/octet-stream", .body = std::move(body)};
}

// An image of the size the keyboard takes; the length and checksum can be made to lie.
std::string firmwareImage(int64_t payloadLength = 655340, uint32_t checksumError = 0) {
    std::string image = "TQ113_v0.76b" + std::string(655348, '\0');
    uint32_t sum = checksumError;
    for (size_t i = 20; i < image.size(); ++i) {
        image[i] = static_cast<char>(i * 7);
        sum += 255u - static_cast<uint8_t>(image[i]);
    }
    for (int i = 0; i < 4; ++i) {
        image[12 + i] = static_cast<char>(static_cast<uint32_t>(payloadLength) >> (8 * i));
        image[16 + i] = static_cast<char>(sum >> (8 * i));
    }
    return image;
}

struct Refreshes {
    const std::thread::id gui = std::this_thread::get_id();
    std::atomic<int> count{0};
    std::atomic<bool> offGuiThread{false};
    void refreshed() {
        ++count;
        offGuiThread = offGuiThread || std::this_thread::get_id() != gui;
    }
};

class UpdateTest : public ::testing::Test {
protected:
    UpdateTest() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "update_tests";
            static char* argv[] = {name, nullptr};
            qputenv("QT_QPA_PLATFORM", "offscreen"); // never the developer's desktop
            new QApplication(argc, argv);            // kept to the end
        }
        QXDispatch::setCurrent(&m_dispatch);
        m_dispatch.RegisterHandler(QXM_UPDATE_STATE, &m_refreshes, &Refreshes::refreshed);
        fs::create_directories(m_dir / "profile");
        fs::create_directories(m_dir / "keyboards");
        m_server.setRoute("/firmware/versions.txt", reply("Latest firmware: TesseraV0.76b\r\n"
                                                          "TesseraV0.76b\tupgrade076b.bin\r\n"
                                                          "TesseraV0.70\tupgrade070.bin\r\n"
                                                          "TesseraV0.62b\tupgrade062b.bin\r\n"));
        m_server.setRoute("/configurator/version.txt", reply("1.2.0\tTQ-1.2.0.deb\r\n"));
        // The controller exists before the keyboard is first looked for, as in the program.
        m_device = std::make_unique<QXDevice>(
            QXDeviceDiscovery::createVirtualBackend(m_dir / "keyboards"));
        m_controller = std::make_unique<Controller>(
            *m_device, m_dir / "profile", QXUpdateEndpoints::forServer(m_server.url("/")));
        m_controller->setAsker([this](const QString& text) {
            m_asked.push_back(text.toStdString());
            return m_answerOk;
        });
        m_controller->setOpener([this](const std::string& what) {
            m_opened.push_back(what);
            return true;
        });
        m_controller->setEndProgram([this] { ++m_ended; });
    }
    void TearDown() override {
        EXPECT_FALSE(m_refreshes.offGuiThread) << "2047 must be sent on the GUI thread";
    }
    ~UpdateTest() override {
        m_dialog.reset();
        m_controller.reset();
        m_device.reset();
        for (int fd : m_sockets)
            ::close(fd);
        QXDispatch::setCurrent(nullptr);
    }

    fs::path disk() const { return m_dir / "keyboards" / "vk" / "disk" / "vTessera"; }

    // A keyboard whose version file holds the text and a zero byte, connected anew.
    void connectKeyboard(const std::string& version) {
        if (m_device->isConnected())
            m_device->disconnect();
        qxtest::writeFile(disk() / "version.sys", version + std::string(1, '\0'));
        qxtest::writeFile(disk() / "scancode.sys", std::string(9216, '\xFF'));
        for (const char* name : {"signal.sock", "keys.sock"}) {
            if (m_sockets.size() == 2)
                break;
            m_sockets.push_back(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
            sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
            const std::string path = (m_dir / "keyboards" / "vk" / name).string();
            path.copy(address.sun_path, sizeof address.sun_path - 1);
            ::bind(m_sockets.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::listen(m_sockets.back(), 4);
        }
        ASSERT_TRUE(m_device->discoverAndConnect());
    }

    bool pumpUntil(const std::function<bool()>& condition) {
        return waitFor([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }
    bool idle() const { return m_controller->state() == Controller::Idle; }
    bool listsIn() const { return idle() && !m_controller->latestProgramVersion().empty(); }

    void openDialog() {
        m_dialog = std::make_unique<CFirmwareUpdateDlg>(*m_controller);
        m_dialog->show();
    }
    template <class Widget> Widget* child(const char* name) {
        auto* widget = m_dialog->findChild<Widget*>(QString::fromLatin1(name));
        if (!widget)
            throw std::runtime_error(std::string("the dialog has no ") + name);
        return widget;
    }
    std::string label(const char* name) { return child<QLabel>(name)->text().toStdString(); }
    bool enabled(const char* name) { return child<QPushButton>(name)->isEnabled(); }

    // Returns once every write pass begun before has ended: the firmware comes last in a
    // pass, so a second command seen on disk means the pass before it is over.
    void flushWrites() {
        for (unsigned level : {41u, 42u}) {
            ASSERT_TRUE(m_device->files().stageBrightness(level, false));
            m_device->signalWrite();
            ASSERT_TRUE(waitFor([&] {
                return qxtest::readFile(disk() / "order.sys")
                    .starts_with("b0" + std::to_string(level));
            }));
        }
    }

    qxtest::TempDir m_dir;
    Server m_server;
    QXDispatch m_dispatch;
    Refreshes m_refreshes;
    std::vector<int> m_sockets;
    std::unique_ptr<QXDevice> m_device;
    std::unique_ptr<Controller> m_controller;
    std::unique_ptr<CFirmwareUpdateDlg> m_dialog;
    std::vector<std::string> m_asked, m_opened;
    bool m_answerOk = true;
    int m_ended = 0;
};

TEST_F(UpdateTest, AKeyboardBelow060bEndsTheProgramAfterOfferingInstructions) {
    connectKeyboard("TesseraV0.59");
    EXPECT_EQ(m_asked,
              std::vector<std::string>{"Firmware version 0.59 is outdated and incompatible "
                                       "with Configurator.\nPress OK for upgrade "
                                       "instructions."});
    EXPECT_EQ(m_opened, std::vector<std::string>{m_server.url("/firmware/upgrade.html")});
    EXPECT_EQ(m_ended, 1);

    m_answerOk = false;
    m_dispatch.Send(QXM_DEVICE_STATE, QXDevice::Connected, 0);
    EXPECT_EQ(m_asked.size(), 2u);
    EXPECT_EQ(m_opened.size(), 1u) << "Cancel opens nothing";
    EXPECT_EQ(m_ended, 2) << "and ends the program all the same";

    const int refreshes = m_refreshes.count;
    connectKeyboard("TesseraV0.60b"); // a disconnection, then a connection
    EXPECT_EQ(m_asked.size(), 2u) << "neither is questioned";
    EXPECT_EQ(m_ended, 2);
    EXPECT_EQ(m_refreshes.count, refreshes + 2);
    EXPECT_EQ(m_controller->keyboardFirmwareVersion(), u"0.60b");
}

TEST_F(UpdateTest, TheDialogOffersANewerFirmwareAndEveryListedVersion) {
    connectKeyboard("TesseraV0.60b");
    openDialog();
    ASSERT_TRUE(pumpUntil([&] { return listsIn(); }));
    ASSERT_EQ(m_server.requests().size(), 2u);
    EXPECT_EQ(m_server.requests()[1].target, "/configurator/version.txt") << "after the firmware";

    auto* tabs = child<QTabWidget>("tabs");
    EXPECT_EQ(tabs->tabText(0).toStdString() + "|" + tabs->tabText(1).toStdString(),
              "Firmware Version|Configurator Version");
    EXPECT_EQ(label("keyboardFirmwareVersion"), "0.60b");
    EXPECT_EQ(label("latestFirmwareVersion"), "0.76b");
    EXPECT_EQ(label("runningProgramVersion"), "1.0.0");
    EXPECT_EQ(label("latestProgramVersion"), "1.2.0");
    EXPECT_TRUE(enabled("updateFirmware"));
    EXPECT_TRUE(enabled("updateProgram"));

    auto* versions = child<QComboBox>("firmwareVersions");
    EXPECT_TRUE(versions->isHidden()) << "latest-only mode";
    child<QCheckBox>("listMode")->setChecked(true);
    ASSERT_FALSE(versions->isHidden());
    QStringList listed;
    for (int i = 0; i < versions->count(); ++i)
        listed << versions->itemText(i);
    EXPECT_EQ(listed.join(' ').toStdString(), "0.76b 0.76b 0.70 0.62b");
    EXPECT_EQ(versions->currentIndex(), 0);
    versions->setCurrentIndex(2);
    m_dispatch.Send(QXM_UPDATE_STATE, 0, 0);
    EXPECT_EQ(versions->currentIndex(), 2) << "a refresh keeps the user's choice";

    connectKeyboard("TesseraV0.76b");
    EXPECT_TRUE(enabled("updateFirmware")) << "any listed image for a compatible keyboard";
    child<QCheckBox>("listMode")->setChecked(false);
    EXPECT_FALSE(enabled("updateFirmware")) << "but nothing newer";

    connectKeyboard("TesseraVX");
    EXPECT_EQ(label("keyboardFirmwareVersion"), "[Can't retrive]");
    EXPECT_FALSE(enabled("updateFirmware"));
}

TEST_F(UpdateTest, OnlyAVerifiedImageReachesTheKeyboard) {
    connectKeyboard("TesseraV0.60b");
    ASSERT_TRUE(m_controller->fetchLists());
    ASSERT_TRUE(pumpUntil([&] { return listsIn(); }));

    const std::string good = firmwareImage();
    for (const std::string& bad :
         {firmwareImage(655340, 1), firmwareImage(655341), good.substr(0, 600000)}) {
        m_server.setRoute("/firmware/upgrade.bin", reply(bad));
        ASSERT_TRUE(m_controller->updateFirmware(false));
        const int refreshes = m_refreshes.count;
        ASSERT_TRUE(pumpUntil([&] { return idle() && m_refreshes.count > refreshes; }));
        flushWrites();
        EXPECT_FALSE(fs::exists(disk() / "upgrade.bin")) << "image of " << bad.size() << " bytes";
    }

    // List mode fetches the chosen entry's file from the firmware folder.
    m_server.setRoute("/firmware/upgrade070.bin", reply(good));
    EXPECT_FALSE(m_controller->updateFirmware(true, 4)) << "no such entry";
    ASSERT_TRUE(m_controller->updateFirmware(true, 2));
    ASSERT_TRUE(pumpUntil([&] { return idle(); }));
    EXPECT_TRUE(waitFor([&] { return qxtest::readFile(disk() / "upgrade.bin") == good; }));
}

TEST_F(UpdateTest, TheInstallerIsSavedIntoTheProfileAndOpened) {
    Server::Response held = reply(std::string(1000, 'i'));
    held.hold = true;
    held.holdAfter = 500;
    m_server.setRoute("/configurator/TQ-1.2.0.deb", held);
    openDialog();
    ASSERT_TRUE(pumpUntil([&] { return listsIn(); }));

    child<QPushButton>("updateProgram")->click();
    ASSERT_TRUE(pumpUntil([&] { return label("progress") == "Downloaded: 50%"; }));
    EXPECT_FALSE(enabled("updateProgram"));
    EXPECT_FALSE(m_controller->fetchLists()) << "reopening the dialog leaves the download be";

    m_server.releaseHeld();
    ASSERT_TRUE(pumpUntil([&] { return idle() && !m_opened.empty(); }));
    const fs::path saved = m_dir / "profile" / "TQ-1.2.0.deb";
    EXPECT_EQ(m_opened, std::vector<std::string>{saved.string()});
    EXPECT_EQ(qxtest::readFile(saved), std::string(1000, 'i'));
    EXPECT_EQ(label("progress"), "");

    // A name that would leave the profile folder is never fetched.
    m_server.setRoute("/configurator/version.txt", reply("9.0\t../escaped.deb\r\n"));
    ASSERT_TRUE(m_controller->fetchLists());
    ASSERT_TRUE(
        pumpUntil([&] { return idle() && m_controller->latestProgramVersion() == u"9.0"; }));
    EXPECT_FALSE(m_controller->updateProgram());
    EXPECT_EQ(m_controller->state(), Controller::Idle);
}

TEST_F(UpdateTest, AServerThatNeverAnswersLeavesTheDialogFreeToClose) {
    Server::Response silent = reply("0.76b\r\n");
    silent.hold = true;
    m_server.setRoute("/firmware/versions.txt", silent);
    openDialog();
    ASSERT_TRUE(pumpUntil([&] { return m_server.heldCount() == 1; }));
    EXPECT_EQ(label("keyboardFirmwareVersion"), "[Device not connected]");
    EXPECT_EQ(label("latestFirmwareVersion"), "[Data not avaliable]");
    EXPECT_EQ(label("latestProgramVersion"), "[Data not avaliable]");
    EXPECT_FALSE(enabled("updateFirmware"));
    EXPECT_FALSE(enabled("updateProgram"));

    child<QDialogButtonBox>("")->button(QDialogButtonBox::Close)->click();
    EXPECT_FALSE(m_dialog->isVisible());
    m_dialog.reset();
    EXPECT_EQ(m_dispatch.bindingCount(QXM_UPDATE_STATE), 1u) << "the dialog let go of 2047";

    const auto start = std::chrono::steady_clock::now();
    m_controller.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(waitFor([&] { return m_server.abandonedCount() == 1; })) << "download cancelled";
}

} // namespace
