#include "device/QXDeviceDiscovery.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace QXDeviceDiscovery;

namespace {

QXDeviceNode usb(uint16_t vendor, uint16_t product, std::vector<QXDeviceNode> children = {}) {
    QXDeviceNode n;
    n.kind = QXDeviceNode::Kind::Usb;
    n.vendor = vendor;
    n.product = product;
    n.children = std::move(children);
    return n;
}
QXDeviceNode disk(const std::string& vendor, const std::string& model, const std::string& mount,
                  std::vector<QXDeviceNode> children = {}) {
    QXDeviceNode n;
    n.kind = QXDeviceNode::Kind::Disk;
    n.diskVendor = vendor;
    n.diskModel = model;
    n.mountPoint = mount;
    n.children = std::move(children);
    return n;
}
QXDeviceNode hid(uint16_t vendor, uint16_t product, int interface, const std::string& path) {
    QXDeviceNode n;
    n.kind = QXDeviceNode::Kind::Hid;
    n.vendor = vendor;
    n.product = product;
    n.interfaceNumber = interface;
    n.reportPath = path;
    return n;
}

// A keyboard as it hangs below its hub: the disk with an unmounted disk node and a
// mounted partition, the keyboard with its two HID interfaces.
QXDeviceNode keyboard(const std::string& vendor, const std::string& model, bool keyReports) {
    QXDeviceNode partition = disk("", "", "/media/q");
    std::vector<QXDeviceNode> hids = {hid(0x04D9, 0x0022, 0, "/dev/hidraw0"),
                                      hid(0x04D9, 0x0022, 1, "/dev/hidraw1")};
    if (keyReports)
        hids.push_back(hid(0x8123, 0x1457, 1, "/dev/hidraw2"));
    return usb(0x05E3, 0x0608,
               {usb(0x1234, 0x0001, {disk(vendor, model, "", {partition})}),
                usb(0x04D9, 0x0022, hids)});
}

TEST(Discovery, EveryIdentityOfTheDiskIsFound) {
    for (auto [vendor, model] : std::vector<std::pair<std::string, std::string>>{
             {"QUADRIX", "DISK"}, {"HVN", "QUADRIX_DISK"}, {"NXP_SEMI", "LPC288X"},
             {"HALVORN", "TQ113_V.DISK"}}) {
        auto found = classify({keyboard(vendor, model, true)});
        ASSERT_EQ(found.size(), 1u) << vendor;
        EXPECT_EQ(found[0].volume, "/media/q");
        EXPECT_EQ(found[0].signallingPath, "/dev/hidraw1") << "interface 1 only";
        EXPECT_EQ(found[0].keyReportPath, "/dev/hidraw2");
    }
    EXPECT_TRUE(classify({keyboard("SANDISK", "CRUZER", true)}).empty())
        << "another disk is no keyboard";
}

TEST(Discovery, OnlyTreesBelowTheHubCountAndOlderKeyboardsUseTheSignallingPath) {
    QXDeviceNode other = keyboard("HALVORN", "TQ113_V.DISK", true);
    other.product = 0x0610; // another hub
    EXPECT_TRUE(classify({other}).empty());

    auto old = classify({keyboard("HALVORN", "TQ113_V.DISK", false), other});
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0].keyReportPath, "");
    EXPECT_EQ(old[0].signallingPath, "/dev/hidraw1");

    QXDeviceNode noSignal = keyboard("QUADRIX", "DISK", true);
    noSignal.children[1].children.erase(noSignal.children[1].children.begin() + 1);
    EXPECT_TRUE(classify({noSignal}).empty()) << "no signalling interface, no keyboard";
}

void makeSocket(const fs::path& path) {
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST(Discovery, VirtualKeyboardsAppearAsTheirFoldersAppear) {
    qxtest::TempDir dir;
    auto backend = createVirtualBackend(dir.path());
    EXPECT_TRUE(classify(backend->hubs()).empty());
    fs::create_directories(dir / "one" / "disk");
    makeSocket(dir / "one" / "signal.sock");
    makeSocket(dir / "one" / "keys.sock");
    fs::create_directories(dir / "half" / "disk"); // no sockets yet: not a keyboard
    EXPECT_TRUE(qxtest::waitFor([&] {
        pollfd p{backend->changeDescriptor(), POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    })) << "a new keyboard folder wakes the program";
    backend->drainChanges();
    auto found = classify(backend->hubs());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].volume, dir / "one" / "disk");
    EXPECT_EQ(found[0].keyReportPath, "unix:" + (dir / "one" / "keys.sock").string());
}

} // namespace
