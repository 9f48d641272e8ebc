// Discovery of virtual keyboards (qxvkbd): each folder below the watched one that holds a
// "disk" folder and a "signal.sock" socket is a keyboard; "keys.sock" is its key-report
// interface when it has one.
#include "device/QXDeviceDiscovery.h"

#include <algorithm>
#include <sys/inotify.h>
#include <unistd.h>

namespace QXDeviceDiscovery {

namespace {

namespace fs = std::filesystem;

class VirtualBackend : public QXDiscoveryBackend {
public:
    explicit VirtualBackend(fs::path folder) : m_folder(std::move(folder)) {
        std::error_code ec;
        fs::create_directories(m_folder, ec);
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify >= 0)
            ::inotify_add_watch(m_inotify, m_folder.c_str(),
                                IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR);
    }
    ~VirtualBackend() override {
        if (m_inotify >= 0)
            ::close(m_inotify);
    }

    int changeDescriptor() override { return m_inotify; }

    void drainChanges() override {
        char buffer[4096];
        while (m_inotify >= 0 && ::read(m_inotify, buffer, sizeof buffer) > 0) {
        }
    }

    std::vector<QXDeviceNode> hubs() override {
        std::vector<QXDeviceNode> hubs;
        std::error_code ec;
        std::vector<fs::path> keyboards;
        for (const auto& entry : fs::directory_iterator(m_folder, ec))
            if (entry.is_directory(ec))
                keyboards.push_back(entry.path());
        std::sort(keyboards.begin(), keyboards.end());
        for (const fs::path& keyboard : keyboards) {
            if (!fs::is_directory(keyboard / "disk", ec) ||
                !fs::is_socket(keyboard / "signal.sock", ec))
                continue;
            QXDeviceNode hub;
            hub.kind = QXDeviceNode::Kind::Usb;
            hub.vendor = kHubVendor;
            hub.product = kHubProduct;
            QXDeviceNode disk;
            disk.kind = QXDeviceNode::Kind::Disk;
            disk.diskVendor = "HALVORN";
            disk.diskModel = "TQ113_V.DISK";
            disk.mountPoint = keyboard / "disk";
            hub.children.push_back(disk);
            QXDeviceNode signalling;
            signalling.kind = QXDeviceNode::Kind::Hid;
            signalling.vendor = kSignallingVendor;
            signalling.product = kSignallingProduct;
            signalling.interfaceNumber = 1;
            signalling.reportPath = "unix:" + (keyboard / "signal.sock").string();
            hub.children.push_back(signalling);
            if (fs::is_socket(keyboard / "keys.sock", ec)) {
                QXDeviceNode keys = signalling;
                keys.vendor = kReportVendor;
                keys.product = kReportProduct;
                keys.reportPath = "unix:" + (keyboard / "keys.sock").string();
                hub.children.push_back(keys);
            }
            hubs.push_back(std::move(hub));
        }
        return hubs;
    }

private:
    fs::path m_folder;
    int m_inotify = -1;
};

} // namespace

std::unique_ptr<QXDiscoveryBackend> createVirtualBackend(const fs::path& folder) {
    return std::make_unique<VirtualBackend>(folder);
}

} // namespace QXDeviceDiscovery
