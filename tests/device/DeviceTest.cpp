#include "device/QXDevice.h"
#include "model/QXKeyTable.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <cstring>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using qxtest::waitFor;

namespace {

constexpr size_t kShiftLeft = 82;

// A listening sequenced-packet socket standing for one of the keyboard's interfaces.
class Interface {
public:
    explicit Interface(const fs::path& path) {
        m_listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 4);
    }
    ~Interface() {
        for (int fd : {m_client, m_listener})
            if (fd >= 0)
                ::close(fd);
    }
    bool send(std::vector<uint8_t> report) {
        if (m_client < 0)
            m_client = ::accept(m_listener, nullptr, nullptr);
        return ::send(m_client, report.data(), report.size(), MSG_NOSIGNAL) == ssize_t(report.size());
    }

private:
    int m_listener = -1;
    int m_client = -1;
};

// Records messages; the device thread sends some of them.
struct Log {
    std::mutex lock;
    std::vector<std::string> lines;
    void add(const std::string& line) {
        std::lock_guard l(lock);
        lines.push_back(line);
    }
    std::vector<std::string> take() {
        std::lock_guard l(lock);
        return std::exchange(lines, {});
    }
    size_t size() {
        std::lock_guard l(lock);
        return lines.size();
    }
    void state(unsigned s) { add("state " + std::to_string(s)); }
    void key(unsigned key, long down) { add("key " + std::to_string(key) + "/" + std::to_string(down)); }
    void modifiers(unsigned mask, long) { add("mask " + std::to_string(mask)); }
};

class DeviceTest : public ::testing::Test {
protected:
    DeviceTest() {
        m_dispatch.RegisterHandler(QXM_DEVICE_STATE, &m_log, &Log::state);
        m_dispatch.RegisterHandler(QXM_DEVICE_KEY, &m_log, &Log::key);
        m_dispatch.RegisterHandler(QXM_HOOK_MODIFIERS, &m_log, &Log::modifiers);
        QXDispatch::setCurrent(&m_dispatch);
    }
    ~DeviceTest() override { QXDispatch::setCurrent(nullptr); }

    // A virtual keyboard's folder: its disk and, optionally, the key-report interface.
    void makeKeyboard(const std::string& name, bool keyReports) {
        const fs::path folder = m_dir / name;
        qxtest::writeFile(folder / "disk" / "vTessera" / "version.sys", std::string("TesseraV0.80b\0", 14));
        qxtest::writeFile(folder / "disk" / "vTessera" / "scancode.sys", std::string(9216, '\xFF'));
        m_signal = std::make_unique<Interface>(folder / "signal.sock");
        if (keyReports)
            m_keys = std::make_unique<Interface>(folder / "keys.sock");
    }

    bool spinUntil(const std::function<bool()>& condition) {
        return waitFor([&] {
            m_dispatch.runPosted();
            return condition();
        });
    }

    static std::vector<uint8_t> report(std::initializer_list<size_t> keysDown) {
        std::vector<uint8_t> r(16, 0);
        for (size_t key : keysDown)
            r[1 + key / 8] |= static_cast<uint8_t>(1u << (key % 8));
        return r;
    }

    qxtest::TempDir m_dir;
    QXDispatch m_dispatch;
    Log m_log;
    std::unique_ptr<Interface> m_signal, m_keys;
};

TEST_F(DeviceTest, KeyReportsBecomeKeyMessagesAndHeldModifierKeysAMask) {
    makeKeyboard("vk", true);
    QXDevice device(QXDeviceDiscovery::createVirtualBackend(m_dir.path()));
    ASSERT_TRUE(device.discoverAndConnect());
    EXPECT_EQ(m_log.take(), (std::vector<std::string>{"state 0"}));
    EXPECT_TRUE(device.hasKeyReports());
    EXPECT_TRUE(waitFor([&] {
        return qxtest::readFile(m_dir / "vk" / "disk" / "vTessera" / "layout.sys").substr(0, 114) ==
               std::string(114, '\x01');
    })) << "every display enabled";

    {
        std::lock_guard lock(device.codeTableLock());
        QXDiskFiles::setPlainEntry(device.files().workingCodeTable(), kShiftLeft, 0x73);
    }
    ASSERT_TRUE(m_keys->send(report({kShiftLeft, 3})));
    ASSERT_TRUE(waitFor([&] { return m_log.size() >= 3; }));
    ASSERT_TRUE(m_keys->send(report({})));
    ASSERT_TRUE(waitFor([&] { return m_log.size() >= 6; }));
    // The mask is worked out from the whole report after each key's message.
    EXPECT_EQ(m_log.take(), (std::vector<std::string>{"key 3/1", "mask 4", "key 82/1", "key 3/0",
                                                      "mask 0", "key 82/0"}));
    ASSERT_TRUE(m_keys->send({1, 2, 3})); // a report of the wrong length
    ASSERT_TRUE(m_keys->send(report({})));
    EXPECT_FALSE(waitFor([&] { return m_log.size() > 0; }, std::chrono::milliseconds(300)));
}

// Rolling from one key to its neighbour changes one report byte twice: the new key is told
// before the old one is let go, byte by byte in key order.
TEST_F(DeviceTest, WithinAReportByteDownsComeBeforeUps) {
    struct Recorder final : CTesseraQuadrix::IEventHandler {
        std::vector<std::string> events;
        void connected() override {}
        void disconnected() override {}
        void keyDown(size_t key) override { events.push_back(std::to_string(key) + " down"); }
        void keyUp(size_t key) override { events.push_back(std::to_string(key) + " up"); }
    } recorder;
    CTesseraQuadrix keyboard;
    keyboard.setEventHandler(&recorder);
    keyboard.processReport(report({3, 8}).data(), CTesseraQuadrix::kReportBytes);
    recorder.events.clear();
    keyboard.processReport(report({5, 9}).data(), CTesseraQuadrix::kReportBytes);
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"5 down", "3 up", "9 down", "8 up"}));
}

TEST_F(DeviceTest, AnOlderKeyboardSignalsKeysThroughPrefixAndDigits) {
    makeKeyboard("old", false);
    QXDevice device(QXDeviceDiscovery::createVirtualBackend(m_dir.path()));
    ASSERT_TRUE(device.discoverAndConnect());
    EXPECT_FALSE(device.hasKeyReports());
    auto code = [](uint8_t c) {
        std::vector<uint8_t> r(10, 0);
        r[0] = 1;
        const int bit = c - 0x7A;
        r[1 + bit / 8] = static_cast<uint8_t>(1u << (bit % 8));
        return r;
    };
    std::vector<uint8_t> twoBits = code(0x83);
    twoBits[1] |= 1;
    for (const auto& r : {code(0x7A), twoBits, code(0x83), std::vector<uint8_t>(10, 0), code(0x81)})
        ASSERT_TRUE(m_signal->send(r));
    ASSERT_TRUE(waitFor([&] { return m_log.size() >= 3; }));
    EXPECT_EQ(m_log.take(), (std::vector<std::string>{"state 0", "key 25/1", "key 25/0"}))
        << "prefix, digit 3, digit 2: key 25; the two-bit and the empty report are ignored";
}

TEST_F(DeviceTest, RemovingAnotherDeviceKeepsTheKeyboardAndRemovingItsFolderLetsItGo) {
    makeKeyboard("vk", true);
    QXDevice device(QXDeviceDiscovery::createVirtualBackend(m_dir.path()));
    ASSERT_TRUE(device.discoverAndConnect());
    m_log.take();
    fs::create_directories(m_dir / "stick");
    fs::remove_all(m_dir / "stick");
    EXPECT_EQ(device.deviceChange(), 0);
    EXPECT_TRUE(device.isConnected());

    fs::remove_all(m_dir / "vk");
    EXPECT_TRUE(spinUntil([&] { return !device.isConnected(); }))
        << "the change reaches the program without a timer";
    EXPECT_EQ(m_log.take(), (std::vector<std::string>{"state 1"}));

    makeKeyboard("vk2", true);
    EXPECT_TRUE(spinUntil([&] { return device.isConnected(); })) << "a new arrival connects";
}

TEST_F(DeviceTest, TheKeyboardGetsItsOwnCodesBackAndGoesDarkWhenTheProgramEnds) {
    makeKeyboard("vk", true);
    std::string own(9216, '\xFF');
    own[0] = 1, own[1] = 0x29;
    qxtest::writeFile(m_dir / "vk" / "disk" / "vTessera" / "scancode.sys", own);
    {
        QXDevice device(QXDeviceDiscovery::createVirtualBackend(m_dir.path()));
        ASSERT_TRUE(device.discoverAndConnect());
        {
            std::lock_guard lock(device.codeTableLock());
            device.files().workingCodeTable().fill(0xFF);
            device.files().stageCodeTable();
        }
        device.signalWrite();
    }
    EXPECT_EQ(qxtest::readFile(m_dir / "vk" / "disk" / "vTessera" / "scancode.sys").substr(0, 9216), own);
    EXPECT_EQ(qxtest::readFile(m_dir / "vk" / "disk" / "vTessera" / "layout.sys").substr(0, 114),
              std::string(114, '\0'));
    EXPECT_EQ(m_log.take().back(), "state 1");
}

} // namespace
