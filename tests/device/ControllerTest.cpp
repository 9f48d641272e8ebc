// QXDeviceController against a virtual keyboard's folder: what reaches the files on its
// disk, byte for byte, when layers are pushed, keys change, views draw and the user idles.
#include "device/QXDeviceController.h"
#include "model/QXKeyTable.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using qxtest::waitFor;

namespace {

constexpr size_t kEscape = 0, kF1 = 1, kF2 = 2;

struct ConnectedState : QXSystemState {
    bool isKeyboardConnected() const override { return true; }
};

// 48 x 48 pixels of one colour, bottom-up BGR.
std::array<uint8_t, 6912> solid(uint8_t r, uint8_t g, uint8_t b) {
    std::array<uint8_t, 6912> pixels;
    for (size_t i = 0; i < pixels.size(); i += 3)
        pixels[i] = b, pixels[i + 1] = g, pixels[i + 2] = r;
    return pixels;
}

QXPtr<QXImage> picture(uint8_t r, uint8_t g, uint8_t b) {
    fipImage pixels(FIT_BITMAP, 48, 48, 24);
    const auto colour = solid(r, g, b);
    for (unsigned y = 0; y < 48; ++y)
        std::memcpy(pixels.getScanLine(y), colour.data() + y * 144, 144);
    return makeQX<QXImage>(pixels);
}

// The first 4608 bytes of a display file as the keyboard reads it, in one colour.
std::string displayBytes(uint16_t colour) {
    std::string bytes;
    for (int i = 0; i < 48 * 48; ++i)
        bytes += static_cast<char>(colour >> 8), bytes += static_cast<char>(colour & 0xFF);
    return bytes;
}
constexpr uint16_t kRed = 0xF800, kGreen = 0x07E0, kBlue = 0x001F;

struct View : QXKeyViewInstance {
    std::array<uint8_t, 6912> pixels = solid(0, 0, 255);
    bool shown = false;
    void show() override { shown = true; }
    void hide() override { shown = false; }
    bool isShown() const override { return shown; }
    bool copyImage(std::span<unsigned char, kImageBytes> out) const override {
        std::memcpy(out.data(), pixels.data(), out.size());
        return shown;
    }
};
struct Action : QXKeyActionInstance {};

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() {
        QXDispatch::setCurrent(&m_dispatch);
        QXSystemState::setCurrent(&m_state);
        const fs::path folder = m_dir / "vk";
        qxtest::writeFile(folder / "disk" / "vTessera" / "version.sys", std::string("TesseraV0.80b\0", 14));
        qxtest::writeFile(folder / "disk" / "vTessera" / "scancode.sys", std::string(9216, '\xFF'));
        for (const char* name : {"signal.sock", "keys.sock"}) {
            const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, (folder / name).c_str(), sizeof address.sun_path - 1);
            ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::listen(fd, 4);
            m_sockets.push_back(fd);
        }
        m_layer = makeQX<QXLayer>(u"layer");
        m_tree.topLevel() = {m_layer};
        m_layer->getButton(kEscape)->image = picture(255, 0, 0);
        m_layer->getButton(kF1)->image = picture(0, 255, 0);
        m_layer->getButton(kF1)->actionCode = 0x2C; // space
        m_layer->getButton(kF2)->image = picture(255, 0, 0);
        m_layer->getButton(kF2)->action = makeQX<Action>();
    }
    ~ControllerTest() override {
        m_controller.reset();
        m_device.reset();
        m_layers.reset();
        for (int fd : m_sockets)
            ::close(fd);
        QXSystemState::setCurrent(nullptr);
        QXDispatch::setCurrent(nullptr);
    }

    // Connects: the controller sends the settings and pushes the layers.
    void connect() {
        m_layers = std::make_unique<QXLayersController>(m_tree, m_dispatch);
        m_layers->reevaluate();
        m_device = std::make_unique<QXDevice>(QXDeviceDiscovery::createVirtualBackend(m_dir.path()));
        m_controller = std::make_unique<QXDeviceController>(*m_device, *m_layers,
                                                            [this] { return m_idle; });
        m_controller->setPause([this] { ++m_pauses; });
        ASSERT_TRUE(m_device->discoverAndConnect());
        ASSERT_TRUE(fileIs("order.sys", "b070")) << "sleep delay, then brightness, on connection";
    }

    static std::string display(size_t key) {
        char name[32];
        std::snprintf(name, sizeof name, "dynamic/%03d.sys", QXKeyTable::key(key).displayNumber);
        return name;
    }
    std::string read(const std::string& name) {
        return qxtest::readFile(m_dir / "vk" / "disk" / "vTessera" / name);
    }
    bool fileIs(const std::string& name, const std::string& start) {
        return waitFor([&] { return read(name).substr(0, start.size()) == start; });
    }
    std::string entry(size_t key) {
        return read("scancode.sys").substr((QXKeyTable::key(key).codeSlot - 1) * 64, 64);
    }
    // Writes a brightness and waits for it: everything staged before it has been written.
    void flush(unsigned brightness) {
        m_controller->setBrightness(brightness, false);
        ASSERT_TRUE(fileIs("order.sys", "b0" + std::to_string(brightness)));
    }

    qxtest::TempDir m_dir;
    QXDispatch m_dispatch;
    ConnectedState m_state;
    std::vector<int> m_sockets;
    QXLayerTree m_tree;
    QXLayer::Ptr m_layer;
    std::unique_ptr<QXLayersController> m_layers;
    std::unique_ptr<QXDevice> m_device;
    std::unique_ptr<QXDeviceController> m_controller;
    std::optional<unsigned> m_idle = 0u;
    int m_pauses = 0;
};

TEST_F(ControllerTest, PushingTheLayersWritesPicturesAndCodesOnceAndThenNothing) {
    connect();
    ASSERT_TRUE(fileIs(display(kEscape), displayBytes(kRed)));
    EXPECT_EQ(m_pauses, 1) << "42 ms between the sleep and the brightness command";
    ASSERT_TRUE(fileIs(display(kF1), displayBytes(kGreen)));
    ASSERT_TRUE(fileIs(display(kF2), displayBytes(kRed)));
    // The code table is written after the displays: wait for it.
    ASSERT_TRUE(waitFor([&] { return entry(kEscape) == "\x01\x29" + std::string(62, '\xFF'); }))
        << "the key's own code";
    EXPECT_EQ(entry(kF1), "\x01\x2C" + std::string(62, '\xFF')) << "the button's code";
    EXPECT_EQ(entry(kF2), std::string(64, '\xFF')) << "an action runs from the key report";
    EXPECT_EQ(entry(3), std::string(64, '\xFF')) << "a key no layer assigns is left alone";

    flush(50);
    const uint64_t before = m_device->files().bytesWritten();
    m_dispatch.Send(QXM_LAYERS_CHANGED, 0, 0);
    flush(60);
    EXPECT_EQ(m_device->files().bytesWritten() - before, 512u)
        << "the second push staged nothing; only the brightness was written";

    // One key changes: only its display is written again.
    m_layer->getButton(kEscape)->image = picture(0, 0, 255);
    m_layer->getButton(kEscape)->image->setChanged(true);
    m_dispatch.Send(QXM_KEY_CHANGED, kEscape, 0);
    ASSERT_TRUE(fileIs(display(kEscape), displayBytes(kBlue)));
    flush(70);
    EXPECT_EQ(m_device->files().bytesWritten() - before, 512u + 4608u + 512u);

    // A picture with alpha shows over the key's black: white stored under full
    // transparency stays black, half-transparent white is half bright.
    fipImage seeThrough(FIT_BITMAP, 48, 48, 32);
    for (unsigned y = 0; y < 48; ++y)
        for (unsigned x = 0; x < 48; ++x) {
            RGBQUAD white{255, 255, 255, BYTE(y < 24 ? 0 : 128)};
            seeThrough.setPixelColor(x, y, &white);
        }
    m_layer->getButton(kEscape)->image = makeQX<QXImage>(seeThrough);
    m_layer->getButton(kEscape)->image->setChanged(true);
    m_dispatch.Send(QXM_KEY_CHANGED, kEscape, 0);
    // 128 of 255 of white is 128: 0x8410 in RGB 5-6-5; the bottom rows are the clear ones.
    ASSERT_TRUE(fileIs(display(kEscape), displayBytes(0x8410).substr(0, 4608 / 2) +
                                             displayBytes(0).substr(0, 4608 / 2)));
}

TEST_F(ControllerTest, ALiveViewsPictureIsTakenOnlyFromTheViewThatWinsItsKey) {
    auto view = makeQX<View>();
    m_layer->getButton(kEscape)->image = nullptr;
    m_layer->getButton(kEscape)->view = view;
    connect();
    ASSERT_TRUE(fileIs(display(kEscape), displayBytes(kBlue))) << "pushed with the layers";

    view->pixels = solid(0, 255, 0);
    View stale;
    stale.shown = true;
    stale.pixels = solid(255, 0, 0);
    m_dispatch.Send(QXM_VIEW_IMAGE_CHANGED, reinterpret_cast<uintptr_t>(static_cast<QXKeyViewInstance*>(&stale)), kEscape);
    m_dispatch.Send(QXM_VIEW_IMAGE_CHANGED, reinterpret_cast<uintptr_t>(static_cast<QXKeyViewInstance*>(view.get())), kEscape);
    ASSERT_TRUE(fileIs(display(kEscape), displayBytes(kGreen)));
}

TEST_F(ControllerTest, TheSleepKeeperHoldsTheKeyboardAwakeNearTheDelayAndWakesItOnce) {
    connect();
    ASSERT_EQ(m_controller->sleepDelay(), 420u);
    const int settled = m_pauses;

    m_idle = 100;
    EXPECT_EQ(m_controller->sleepStep(), std::chrono::milliseconds(305'000))
        << "nothing to do until 15 s before the delay";
    EXPECT_EQ(m_pauses, settled);

    m_idle = 410;
    EXPECT_EQ(m_controller->sleepStep(), std::chrono::milliseconds(100));
    EXPECT_EQ(m_controller->sleepStep(), std::chrono::milliseconds(100));
    EXPECT_EQ(m_pauses, settled + 2) << "re-armed on every tick";
    ASSERT_TRUE(fileIs("order.sys", "s0420"));

    m_idle = 421;
    EXPECT_EQ(m_controller->sleepStep(), std::chrono::milliseconds(1000));
    EXPECT_TRUE(m_controller->asleep());
    EXPECT_EQ(m_pauses, settled + 2);

    m_idle = 3; // the user came back
    m_controller->sleepStep();
    EXPECT_FALSE(m_controller->asleep());
    m_idle = 4;
    m_controller->sleepStep();
    EXPECT_EQ(m_pauses, settled + 3) << "woken once";

    m_idle = std::nullopt; // the idle time cannot be told
    EXPECT_EQ(m_controller->sleepStep(), std::chrono::milliseconds(60'000));
    EXPECT_EQ(m_pauses, settled + 3);

    m_device->disconnect();
    EXPECT_EQ(m_controller->sleepStep(), std::nullopt) << "no keyboard, no timer";
}

// A sleeping keyboard wakes with the first key event, whoever saw it: the hook (a key,
// or a modifier or lock change) or the keyboard's own key report. The pointer has no such
// message; it waits for the keeper's slower look.
TEST_F(ControllerTest, AnyKeyEventWakesASleepingKeyboardAtOnce) {
    connect();
    int client = -1; // the keyboard's side of its key-report interface
    const std::vector<std::pair<std::string, std::function<void()>>> wakers = {
        {"a key the hook saw", [&] { m_dispatch.Send(QXM_HOOK_KEY, 0, 0x41); }},
        {"a modifier the hook saw", [&] { m_dispatch.Send(QXM_HOOK_MODIFIERS, 4, 0x10); }},
        {"a key the keyboard reported", [&] {
             if (client < 0)
                 client = ::accept(m_sockets[1], nullptr, nullptr);
             std::vector<uint8_t> report(16, 0);
             report[1] = 0x08; // key 3 down
             ASSERT_EQ(::send(client, report.data(), report.size(), MSG_NOSIGNAL), 16);
         }},
    };
    unsigned brightness = 10;
    for (const auto& [what, wake] : wakers) {
        // A keeper of its own each time: the last key event of the previous round is recent.
        m_controller.reset();
        m_controller = std::make_unique<QXDeviceController>(*m_device, *m_layers,
                                                            [this] { return m_idle; });
        m_controller->setPause([] {});
        m_idle = 421;
        EXPECT_EQ(m_controller->sleepStep(), std::chrono::milliseconds(1000)) << what;
        ASSERT_TRUE(m_controller->asleep()) << what;
        flush(++brightness); // the command file holds something else now

        wake();
        EXPECT_TRUE(waitFor([&] { return !m_controller->asleep(); })) << what << " wakes it";
        EXPECT_TRUE(fileIs("order.sys", "s0420")) << what << ": the sleep command is re-armed";
        EXPECT_GT(m_controller->sleepStep(), std::chrono::milliseconds(1000))
            << what << ": the key counts as input although the system's idle time says 421 s";
        EXPECT_FALSE(m_controller->asleep()) << what;
    }
    if (client >= 0)
        ::close(client);
}

} // namespace
