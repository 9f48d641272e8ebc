#include "device/QXDeviceDiscovery.h"

#include "platform/QXFolders.h"

#include <algorithm>
#include <sys/epoll.h>
#include <unistd.h>

namespace QXDeviceDiscovery {

namespace {

struct DiskIdentity {
    const char* vendor;
    const char* model;
};

// The names the keyboard's disk has gone by.
constexpr DiskIdentity kDisks[] = {
    {"QUADRIX", "DISK"},
    {"HVN", "QUADRIX_DISK"},
    {"NXP_SEMI", "LPC288X"},
    {"HALVORN", "TQ113_V.DISK"},
};

bool isHub(const QXDeviceNode& node) {
    return node.kind == QXDeviceNode::Kind::Usb && node.vendor == kHubVendor &&
           node.product == kHubProduct;
}

bool isHid(const QXDeviceNode& node, uint16_t vendor, uint16_t product) {
    return node.kind == QXDeviceNode::Kind::Hid && node.vendor == vendor &&
           node.product == product && node.interfaceNumber == 1 && !node.reportPath.empty();
}

void walk(const QXDeviceNode& node, bool diskFound, QXDeviceCandidate& candidate) {
    if (!isHub(node)) {
        if (!diskFound && node.kind == QXDeviceNode::Kind::Disk &&
            isKeyboardDisk(node.diskVendor, node.diskModel))
            diskFound = true;
        // Below the keyboard's disk every mounted device may carry its volume; the last
        // one found wins.
        if (diskFound && !node.mountPoint.empty()) {
            candidate.volume = node.mountPoint;
            candidate.sectorSize = node.sectorSize;
        }
        if (isHid(node, kSignallingVendor, kSignallingProduct)) {
            if (candidate.signallingPath.empty())
                candidate.signallingPath = node.reportPath;
        } else if (isHid(node, kReportVendor, kReportProduct)) {
            candidate.keyReportPath = node.reportPath;
        }
    }
    for (const QXDeviceNode& child : node.children)
        walk(child, diskFound, candidate);
}

// Real keyboards first, then virtual ones; changes of either wake the caller.
class CombinedBackend : public QXDiscoveryBackend {
public:
    CombinedBackend(std::vector<std::unique_ptr<QXDiscoveryBackend>> parts)
        : m_parts(std::move(parts)), m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {
        for (auto& part : m_parts) {
            if (part->changeDescriptor() < 0 || m_epoll < 0)
                continue;
            epoll_event event{};
            event.events = EPOLLIN | EPOLLPRI;
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, part->changeDescriptor(), &event);
        }
    }
    ~CombinedBackend() override {
        if (m_epoll >= 0)
            ::close(m_epoll);
    }
    std::vector<QXDeviceNode> hubs() override {
        std::vector<QXDeviceNode> all;
        for (auto& part : m_parts)
            for (QXDeviceNode& hub : part->hubs())
                all.push_back(std::move(hub));
        return all;
    }
    int changeDescriptor() override { return m_epoll; }
    void drainChanges() override {
        epoll_event events[8];
        while (m_epoll >= 0 && ::epoll_wait(m_epoll, events, 8, 0) > 0)
            for (auto& part : m_parts)
                part->drainChanges();
    }

private:
    std::vector<std::unique_ptr<QXDiscoveryBackend>> m_parts;
    int m_epoll;
};

} // namespace

bool isKeyboardDisk(const std::string& vendor, const std::string& model) {
    return std::any_of(std::begin(kDisks), std::end(kDisks), [&](const DiskIdentity& disk) {
        return vendor == disk.vendor && model == disk.model;
    });
}

std::vector<QXDeviceCandidate> classify(const std::vector<QXDeviceNode>& hubs) {
    std::vector<QXDeviceCandidate> candidates;
    for (const QXDeviceNode& hub : hubs) {
        if (!isHub(hub))
            continue;
        QXDeviceCandidate candidate;
        for (const QXDeviceNode& child : hub.children)
            walk(child, false, candidate);
        if (!candidate.volume.empty() && !candidate.signallingPath.empty())
            candidates.push_back(std::move(candidate));
    }
    return candidates;
}

std::optional<std::filesystem::path> defaultVirtualFolder() {
    return QXFolders::virtualKeyboardFolder();
}

std::unique_ptr<QXDiscoveryBackend> createSystemBackend() {
    std::vector<std::unique_ptr<QXDiscoveryBackend>> parts;
    if (auto udev = createUdevBackend())
        parts.push_back(std::move(udev));
    // Keyboards in a folder another user could reach are never driven: its disk files
    // could lead anywhere. (The refusal names the folder.)
    if (auto folder = defaultVirtualFolder())
        parts.push_back(createVirtualBackend(*folder));
    return std::make_unique<CombinedBackend>(std::move(parts));
}

} // namespace QXDeviceDiscovery
