// Discovery of real keyboards through libudev and the mount table.
#include "device/QXDeviceDiscovery.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <fstream>
#include <libudev.h>
#include <map>
#include <sstream>
#include <sys/epoll.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace QXDeviceDiscovery {

namespace {

uint16_t hexAttribute(udev_device* device, const char* name) {
    const char* value = udev_device_get_sysattr_value(device, name);
    return value ? static_cast<uint16_t>(std::strtoul(value, nullptr, 16)) : 0;
}

std::string upper(const char* text) {
    std::string s = text ? text : "";
    for (char& c : s)
        c = (c == ' ') ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Inquiry strings come padded with blanks.
    while (!s.empty() && s.back() == '_')
        s.pop_back();
    return s;
}

// "major:minor" → mount point, from the mount table.
std::map<std::string, std::filesystem::path> mountPoints() {
    std::map<std::string, std::filesystem::path> points;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mount;
        if (!(fields >> id >> parent >> device >> root >> mount))
            continue;
        // Mount points escape blanks and the like as octal \040.
        std::string decoded;
        for (size_t i = 0; i < mount.size(); ++i) {
            const auto octal = [&](size_t at) { return mount[at] >= '0' && mount[at] <= '7'; };
            if (mount[i] == '\\' && i + 3 < mount.size() && octal(i + 1) && octal(i + 2) &&
                octal(i + 3)) {
                decoded.push_back(static_cast<char>((mount[i + 1] - '0') * 64 +
                                                    (mount[i + 2] - '0') * 8 + (mount[i + 3] - '0')));
                i += 3;
            } else {
                decoded.push_back(mount[i]);
            }
        }
        points.emplace(device, decoded);
    }
    return points;
}

std::string deviceNumber(udev_device* device) {
    dev_t number = udev_device_get_devnum(device);
    return std::to_string(major(number)) + ":" + std::to_string(minor(number));
}

class UdevBackend : public QXDiscoveryBackend {
public:
    UdevBackend(udev* context) : m_udev(context) {
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (m_monitor) {
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "usb", nullptr);
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", nullptr);
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr);
            udev_monitor_enable_receiving(m_monitor);
        }
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_epoll >= 0 && m_monitor) {
            epoll_event event{};
            event.events = EPOLLIN;
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, udev_monitor_get_fd(m_monitor), &event);
        }
        // Mounting and unmounting show as an exceptional condition on the mount table.
        m_mounts = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (m_epoll >= 0 && m_mounts >= 0) {
            epoll_event event{};
            event.events = EPOLLPRI | EPOLLERR;
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_mounts, &event);
        }
    }

    ~UdevBackend() override {
        if (m_mounts >= 0)
            ::close(m_mounts);
        if (m_epoll >= 0)
            ::close(m_epoll);
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
    }

    int changeDescriptor() override { return m_epoll; }

    void drainChanges() override {
        if (m_monitor)
            while (udev_device* device = udev_monitor_receive_device(m_monitor))
                udev_device_unref(device);
        if (m_mounts >= 0) {
            char buffer[4096];
            ::lseek(m_mounts, 0, SEEK_SET);
            while (::read(m_mounts, buffer, sizeof buffer) > 0) {
            }
        }
    }

    std::vector<QXDeviceNode> hubs() override {
        std::vector<QXDeviceNode> result;
        const auto mounts = mountPoints();
        udev_enumerate* hubs = udev_enumerate_new(m_udev);
        udev_enumerate_add_match_subsystem(hubs, "usb");
        udev_enumerate_add_match_sysattr(hubs, "idVendor", "05e3");
        udev_enumerate_add_match_sysattr(hubs, "idProduct", "0608");
        udev_enumerate_scan_devices(hubs);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(hubs)) {
            const std::string hubPath = udev_list_entry_get_name(entry);
            result.push_back(treeBelow(hubPath, mounts));
        }
        udev_enumerate_unref(hubs);
        return result;
    }

private:
    // The hub and every device whose sysfs path lies below it, nested by path.
    QXDeviceNode treeBelow(const std::string& hubPath,
                           const std::map<std::string, std::filesystem::path>& mounts) {
        std::vector<std::pair<std::string, QXDeviceNode>> nodes;
        udev_enumerate* all = udev_enumerate_new(m_udev);
        for (const char* subsystem : {"usb", "block", "hidraw"})
            udev_enumerate_add_match_subsystem(all, subsystem);
        udev_enumerate_scan_devices(all);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(all)) {
            const std::string path = udev_list_entry_get_name(entry);
            if (path != hubPath && path.rfind(hubPath + "/", 0) != 0)
                continue;
            udev_device* device = udev_device_new_from_syspath(m_udev, path.c_str());
            if (!device)
                continue; // gone meanwhile
            nodes.emplace_back(path, describe(device, mounts));
            udev_device_unref(device);
        }
        udev_enumerate_unref(all);
        // Parents before children; each node goes under the deepest node above it.
        std::sort(nodes.begin(), nodes.end(),
                  [](const auto& a, const auto& b) { return a.first.size() < b.first.size(); });
        return nest(hubPath, nodes);
    }

    static QXDeviceNode nest(const std::string& path,
                             std::vector<std::pair<std::string, QXDeviceNode>>& nodes) {
        QXDeviceNode self;
        for (auto& [p, node] : nodes)
            if (p == path)
                self = node;
        for (auto& [p, node] : nodes) {
            if (p.size() <= path.size() || p.rfind(path + "/", 0) != 0)
                continue;
            // A direct child: no other collected node lies between.
            bool direct = true;
            for (auto& [q, other] : nodes)
                if (q.size() > path.size() && q.size() < p.size() && p.rfind(q + "/", 0) == 0 &&
                    q.rfind(path + "/", 0) == 0)
                    direct = false;
            if (direct)
                self.children.push_back(nest(p, nodes));
        }
        return self;
    }

    static QXDeviceNode describe(udev_device* device,
                                 const std::map<std::string, std::filesystem::path>& mounts) {
        QXDeviceNode node;
        const std::string subsystem = udev_device_get_subsystem(device) ? udev_device_get_subsystem(device) : "";
        const char* type = udev_device_get_devtype(device);
        if (subsystem == "usb" && type && std::string(type) == "usb_device") {
            node.kind = QXDeviceNode::Kind::Usb;
            node.vendor = hexAttribute(device, "idVendor");
            node.product = hexAttribute(device, "idProduct");
        } else if (subsystem == "block") {
            node.kind = QXDeviceNode::Kind::Disk;
            node.diskVendor = upper(udev_device_get_property_value(device, "ID_VENDOR"));
            node.diskModel = upper(udev_device_get_property_value(device, "ID_MODEL"));
            auto mount = mounts.find(deviceNumber(device));
            if (mount != mounts.end())
                node.mountPoint = mount->second;
            // A partition's sector size is its disk's.
            udev_device* whole = device;
            const char* blockType = udev_device_get_devtype(device);
            if (blockType && std::string(blockType) == "partition")
                if (udev_device* parent = udev_device_get_parent_with_subsystem_devtype(device, "block", "disk"))
                    whole = parent;
            if (const char* size = udev_device_get_sysattr_value(whole, "queue/logical_block_size"))
                node.sectorSize = std::strtoul(size, nullptr, 10);
        } else if (subsystem == "hidraw" && udev_device_get_devnode(device)) {
            node.kind = QXDeviceNode::Kind::Hid;
            node.reportPath = udev_device_get_devnode(device);
            if (udev_device* interface =
                    udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface")) {
                const char* number = udev_device_get_sysattr_value(interface, "bInterfaceNumber");
                node.interfaceNumber = number ? static_cast<int>(std::strtol(number, nullptr, 16)) : -1;
            }
            if (udev_device* usb =
                    udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
                node.vendor = hexAttribute(usb, "idVendor");
                node.product = hexAttribute(usb, "idProduct");
            }
        }
        return node;
    }

    udev* m_udev;
    udev_monitor* m_monitor = nullptr;
    int m_epoll = -1;
    int m_mounts = -1;
};

} // namespace

std::unique_ptr<QXDiscoveryBackend> createUdevBackend() {
    udev* context = udev_new();
    if (!context)
        return nullptr;
    return std::make_unique<UdevBackend>(context);
}

} // namespace QXDeviceDiscovery
