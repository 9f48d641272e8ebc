#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One device in the USB tree below a keyboard's internal hub, as a discovery backend
// describes it. The keyboard is recognised from these fields alone, so tests can present
// any tree without hardware.
struct QXDeviceNode {
    enum class Kind {
        Other,
        Usb,  // a USB device: vendor and product ids
        Disk, // a SCSI disk: its vendor and model as the disk reports them, its mount point
        Hid,  // a HID interface: vendor, product, interface number, its report node
    };
    Kind kind = Kind::Other;
    uint16_t vendor = 0;
    uint16_t product = 0;
    int interfaceNumber = -1;
    std::string diskVendor; // spaces as "_", upper case: "HALVORN"
    std::string diskModel;  // "TQ113_V.DISK"
    std::filesystem::path mountPoint; // where the disk (or its partition) is mounted
    size_t sectorSize = 512;          // the disk's logical block size
    std::string reportPath; // "/dev/hidraw3", or "unix:/path" for a virtual keyboard
    std::vector<QXDeviceNode> children;
};

// A keyboard found: where its disk is mounted and where its key reports come from.
struct QXDeviceCandidate {
    std::filesystem::path volume;  // the disk's mount point: root of the keyboard's files
    std::string signallingPath;    // HID 04d9:0022 interface 1 (reports with id 1)
    std::string keyReportPath;     // HID 8123:1457 interface 1; empty on older keyboards
    size_t sectorSize = 0;         // the disk's logical block size
};

// Finds keyboards and reports when devices come and go.
class QXDiscoveryBackend {
public:
    virtual ~QXDiscoveryBackend() = default;
    // The keyboards' internal hubs (05e3:0608) with everything below them.
    virtual std::vector<QXDeviceNode> hubs() = 0;
    // A descriptor that becomes readable when devices or mounts change (-1: none); after
    // it did, drainChanges() reads what is pending.
    virtual int changeDescriptor() { return -1; }
    virtual void drainChanges() {}
};

namespace QXDeviceDiscovery {

constexpr uint16_t kHubVendor = 0x05E3, kHubProduct = 0x0608;
constexpr uint16_t kSignallingVendor = 0x04D9, kSignallingProduct = 0x0022;
constexpr uint16_t kReportVendor = 0x8123, kReportProduct = 0x1457;

// Walks each hub's tree as the keyboard's layout requires: the disk (any of its known
// identities) gives the volume, the two HID interfaces the report paths. A hub yields a
// candidate only with both a volume and a signalling path.
std::vector<QXDeviceCandidate> classify(const std::vector<QXDeviceNode>& hubs);

// Whether a disk's vendor and model are one of the keyboard's.
bool isKeyboardDisk(const std::string& vendor, const std::string& model);

// The real system's devices, from udev and the mount table. Nothing when udev is not
// available (a container): the program then runs without a keyboard.
std::unique_ptr<QXDiscoveryBackend> createUdevBackend();

// Virtual keyboards (qxvkbd): each folder below the given one that holds "disk" and the
// report sockets stands for one keyboard.
std::unique_ptr<QXDiscoveryBackend> createVirtualBackend(const std::filesystem::path& folder);

// Where virtual keyboards appear by default (QXFolders::virtualKeyboardFolder), created
// and checked; nothing, with a warning naming it, when that folder is not the user's alone.
std::optional<std::filesystem::path> defaultVirtualFolder();

// Both: real keyboards first, then virtual ones.
std::unique_ptr<QXDiscoveryBackend> createSystemBackend();

} // namespace QXDeviceDiscovery
