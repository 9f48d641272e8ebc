#include "device/QXDiskFiles.h"

#include "model/QXKeyTable.h"
#include "platform/QXFiles.h"
#include "platform/QXLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uint8_t kFill = 0x77;
const std::u16string kOwnTableVersion = u"TesseraV0.62b";
const std::u16string kNewFirmwareVersion = u"TesseraV0.76b";

size_t roundUp(size_t n, size_t sector) {
    return (n + sector - 1) / sector * sector;
}

// Opens root/relative without following a link at any step below root, so a link planted
// among the keyboard's files never leads a write (or a read) anywhere else. Missing
// folders on the way are made when creating.
int openBelow(const fs::path& root, const fs::path& relative, int flags) {
    int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::vector<fs::path> parts(relative.begin(), relative.end());
    for (size_t i = 0; folder >= 0 && i + 1 < parts.size(); ++i) {
        const char* name = parts[i].c_str();
        int next = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && (flags & O_CREAT) &&
            (::mkdirat(folder, name, 0700) == 0 || errno == EEXIST))
            next = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(folder);
        folder = next;
        errno = error;
    }
    if (folder < 0 || parts.empty())
        return -1;
    const int fd = ::openat(folder, parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int error = errno;
    ::close(folder);
    errno = error;
    return fd;
}

// Unbuffered and synchronous; file systems that refuse unbuffered access (tmpfs, some
// network and FUSE mounts) get the same whole-sector writes synchronously.
int openForWriting(const fs::path& root, const fs::path& relative) {
    int fd = openBelow(root, relative, O_WRONLY | O_CREAT | O_DIRECT | O_SYNC);
    if (fd < 0 && errno == EINVAL)
        fd = openBelow(root, relative, O_WRONLY | O_CREAT | O_SYNC);
    return fd;
}

int openForReading(const fs::path& root, const fs::path& relative, bool direct) {
    int fd = openBelow(root, relative, O_RDONLY | (direct ? O_DIRECT : 0));
    if (fd < 0 && direct && errno == EINVAL)
        fd = openBelow(root, relative, O_RDONLY);
    return fd;
}

// Where a keyboard's file is refused because it is not a plain file of the disk.
void warnRefused(const fs::path& path) {
    QXLog::warning(QXLog::kDevice, "the keyboard's file " + path.string() +
                                       " is a link, or lies behind a link or a file; it is not used");
}

bool writeWhole(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

struct QXDiskFiles::Record {
    fs::path relative; // below the disk's root
    fs::path path;
    size_t nominal = 0; // bytes the content takes
    size_t region = 0;  // bytes written: the nominal size rounded up to whole sectors
    uint8_t* front = nullptr;
    uint8_t* back = nullptr;
    bool dirty = false;
    bool refused = false; // said once that its file is a link
    int fd = -1;
    std::mutex lock;
    void* ownBlock = nullptr; // the firmware record's own buffers

    ~Record() {
        if (fd >= 0)
            ::close(fd);
        std::free(ownBlock);
    }
};

QXDiskFiles::QXDiskFiles() : m_pause([](int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}) {}

QXDiskFiles::~QXDiskFiles() {
    release();
}

bool QXDiskFiles::prepare(const fs::path& root, size_t sectorSize) {
    release();
    if (sectorSize == 0 || (sectorSize & (sectorSize - 1)) != 0)
        return false;
    m_root = root;
    m_sectorSize = sectorSize;
    m_bytesWritten = 0;

    std::vector<std::pair<fs::path, size_t>> files;
    for (int display = 1; display <= kDisplays; ++display) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.sys", display);
        files.emplace_back(fs::path("vTessera") / "dynamic" / name, QXDisplayImage::kBytes);
    }
    files.emplace_back(fs::path("vTessera") / "scancode.sys", kCodeTableBytes);
    files.emplace_back(fs::path("vTessera") / "order.sys", 5);
    files.emplace_back(fs::path("vTessera") / "layout.sys", kEnableTableBytes);

    // One block for the regions of every record but the firmware's, two a record.
    size_t total = 0;
    for (const auto& file : files)
        total += 2 * roundUp(file.second, sectorSize);
    m_block = std::aligned_alloc(sectorSize, total);
    if (!m_block)
        return false;
    std::memset(m_block, kFill, total);

    auto* next = static_cast<uint8_t*>(m_block);
    for (const auto& [relative, nominal] : files) {
        auto record = std::make_unique<Record>();
        record->relative = relative;
        record->path = root / relative;
        record->nominal = nominal;
        record->region = roundUp(nominal, sectorSize);
        record->front = next;
        record->back = next + record->region;
        next += 2 * record->region;
        m_records.push_back(std::move(record));
    }
    auto firmware = std::make_unique<Record>(); // buffers come with the first image
    firmware->relative = fs::path("vTessera") / "upgrade.bin";
    firmware->path = root / firmware->relative;
    firmware->nominal = kFirmwareBytes;
    firmware->region = roundUp(kFirmwareBytes, sectorSize);
    m_records.push_back(std::move(firmware));

    if (!readVersion()) {
        release();
        return false;
    }
    initCodeTable();
    return true;
}

void QXDiskFiles::release() {
    m_records.clear();
    std::free(m_block);
    m_block = nullptr;
    m_version.clear();
    m_oldFirmware = false;
    m_hasOwnTable = false;
    m_working.fill(0xFF);
}

// The version text, bytes up to the first zero, each byte widened.
bool QXDiskFiles::readVersion() {
    const size_t region = roundUp(kVersionBytes, m_sectorSize);
    void* aligned = std::aligned_alloc(m_sectorSize, region);
    if (!aligned)
        return false;
    std::unique_ptr<void, decltype(&std::free)> guard(aligned, &std::free);
    std::memset(aligned, 0, region);
    const fs::path relative = fs::path("vTessera") / "version.sys";
    int fd = openForReading(m_root, relative, true);
    if (fd < 0 && (errno == ELOOP || errno == ENOTDIR))
        warnRefused(m_root / relative);
    if (fd < 0)
        return false;
    ssize_t got = ::pread(fd, aligned, region, 0);
    if (got < 0 && errno == EINVAL) { // unbuffered reads refused after all
        ::close(fd);
        fd = openForReading(m_root, relative, false);
        got = fd >= 0 ? ::pread(fd, aligned, region, 0) : -1;
    }
    if (fd >= 0)
        ::close(fd);
    if (got <= 0)
        return false;
    const auto* bytes = static_cast<const uint8_t*>(aligned);
    m_version.clear();
    for (ssize_t i = 0; i < got && bytes[i] != 0; ++i)
        m_version.push_back(bytes[i]);
    if (m_version.empty())
        return false;
    m_oldFirmware = m_version < kNewFirmwareVersion;
    return true;
}

void QXDiskFiles::initCodeTable() {
    Record& table = *m_records[kCodeTable];
    m_hasOwnTable = m_version >= kOwnTableVersion;
    m_working.fill(0xFF);
    if (m_hasOwnTable) {
        const int fd = openForReading(m_root, table.relative, false);
        if (fd < 0 && (errno == ELOOP || errno == ENOTDIR))
            warnRefused(table.path);
        size_t got = 0;
        while (fd >= 0 && got < kCodeTableBytes) {
            const ssize_t n = ::pread(fd, m_ownTable.data() + got, kCodeTableBytes - got,
                                      static_cast<off_t>(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        if (fd >= 0)
            ::close(fd);
        m_hasOwnTable = got == kCodeTableBytes;
    }
    if (m_hasOwnTable) {
        m_working = m_ownTable;
        std::memcpy(table.front, m_ownTable.data(), kCodeTableBytes);
        std::memcpy(table.back, m_ownTable.data(), kCodeTableBytes);
    } else {
        std::memset(table.front, 0xFF, kCodeTableBytes);
        std::memset(table.back, 0xFF, kCodeTableBytes);
    }
}

bool QXDiskFiles::stage(int index, const uint8_t* bytes, size_t size) {
    if (index < 0 || static_cast<size_t>(index) >= m_records.size())
        return false;
    Record& record = *m_records[static_cast<size_t>(index)];
    std::lock_guard lock(record.lock);
    if (!record.front || size > record.region)
        return false;
    const uint8_t* current = record.dirty ? record.front : record.back;
    if (std::memcmp(current, bytes, size) == 0)
        return false;
    // The front buffer starts from what the keyboard has, so bytes beyond the staged
    // ones keep what earlier content left there.
    if (!record.dirty)
        std::memcpy(record.front, record.back, record.region);
    std::memcpy(record.front, bytes, size);
    record.dirty = true;
    return true;
}

bool QXDiskFiles::stageImage(size_t keyIndex, const QXBitmapView& bitmap) {
    if (keyIndex >= QXKeyTable::keyCount())
        return false;
    const int display = QXKeyTable::key(keyIndex).displayNumber;
    if (display < 1 || display > kDisplays)
        return false;
    std::array<uint8_t, QXDisplayImage::kBytes> image;
    if (!QXDisplayImage::convert(bitmap, QXDisplayImage::isRotated(display), image))
        return false;
    return stage(display - 1, image.data(), image.size());
}

bool QXDiskFiles::stageCodeTable() {
    return stage(kCodeTable, m_working.data(), m_working.size());
}

bool QXDiskFiles::stageCodeTable(const CodeTable& table) {
    return stage(kCodeTable, table.data(), table.size());
}

bool QXDiskFiles::stageCommand(std::string_view text) {
    std::string command(text);
    return stage(kCommand, reinterpret_cast<const uint8_t*>(command.c_str()), command.size() + 1);
}

bool QXDiskFiles::stageBrightness(unsigned level, bool automatic) {
    char text[16];
    std::snprintf(text, sizeof text, automatic ? "b%03uA" : "b%03u", std::min(level, 100u));
    return stageCommand(text);
}

bool QXDiskFiles::stageSleepDelay(unsigned seconds) {
    char text[16];
    std::snprintf(text, sizeof text, "s%04u", std::min(seconds, 9999u));
    return stageCommand(text);
}

bool QXDiskFiles::stageEnableTable(bool enabled) {
    std::array<uint8_t, kEnableTableBytes> table;
    table.fill(enabled ? 1 : 0);
    return stage(kEnableTable, table.data(), table.size());
}

bool QXDiskFiles::stageFirmware(std::span<const uint8_t> image) {
    if (image.size() != kFirmwareBytes || m_records.size() <= kFirmware)
        return false;
    Record& record = *m_records[kFirmware];
    {
        std::lock_guard lock(record.lock);
        if (!record.ownBlock) {
            record.ownBlock = std::aligned_alloc(m_sectorSize, 2 * record.region);
            if (!record.ownBlock)
                return false;
            std::memset(record.ownBlock, 0, 2 * record.region);
            record.front = static_cast<uint8_t*>(record.ownBlock);
            record.back = record.front + record.region;
        }
    }
    return stage(kFirmware, image.data(), image.size());
}

void QXDiskFiles::setPlainEntry(CodeTable& table, size_t keyIndex, uint8_t code) {
    uint8_t* entry = table.data() + (QXKeyTable::key(keyIndex).codeSlot - 1) * kEntryBytes;
    std::memset(entry, 0xFF, kEntryBytes);
    entry[0] = 1;
    entry[1] = code;
}

void QXDiskFiles::setSilentEntry(CodeTable& table, size_t keyIndex) {
    uint8_t* entry = table.data() + (QXKeyTable::key(keyIndex).codeSlot - 1) * kEntryBytes;
    std::memset(entry, 0xFF, kEntryBytes);
}

void QXDiskFiles::setSignallingEntry(CodeTable& table, size_t keyIndex) {
    uint8_t* entry = table.data() + (QXKeyTable::key(keyIndex).codeSlot - 1) * kEntryBytes;
    const uint8_t low = kSignalDigits[keyIndex % 11];
    const uint8_t high = kSignalDigits[(keyIndex / 11) % 11];
    const uint8_t steps[12] = {2, kSignalPrefix, 4, kSignalPrefix, 2, low, 4, low, 2, high, 4, high};
    std::memcpy(entry, steps, sizeof steps); // the rest of the entry keeps its bytes
}

void QXDiskFiles::writePass() {
    for (size_t i = 0; i < m_records.size(); ++i) {
        Record& record = *m_records[i];
        {
            std::lock_guard lock(record.lock);
            if (!record.dirty || !record.front)
                continue;
        }
        if (record.fd < 0) {
            record.fd = openForWriting(m_root, record.relative);
            if (record.fd < 0 && (errno == ELOOP || errno == ENOTDIR) && !record.refused) {
                record.refused = true;
                warnRefused(record.path);
            }
            if (record.fd < 0)
                continue; // stays dirty: tried again at the next pass
        }
        {
            std::lock_guard lock(record.lock);
            std::swap(record.front, record.back);
            record.dirty = false;
        }
        // Only this thread touches the back buffer between swaps. Counted before the
        // write, so whoever sees the new bytes on the disk sees them counted too.
        m_bytesWritten += record.region;
        if (!writeWhole(record.fd, record.back, record.region))
            m_bytesWritten -= record.region;
        else if (i == kCodeTable && m_oldFirmware)
            m_pause(300);
    }
}

bool QXDiskFiles::dumpToFolder(const fs::path& folder, const std::vector<QXBitmapView>& normal,
                               const std::vector<QXBitmapView>& shift, const CodeTable& codes) {
    const fs::path tessera = folder / "Tessera";
    bool ok = createFolders(tessera / "normal") && createFolders(tessera / "shift");
    auto dump = [&](const std::vector<QXBitmapView>& images, const fs::path& sub) {
        for (size_t key = 0; key < images.size() && key < QXKeyTable::keyCount(); ++key) {
            const int display = QXKeyTable::key(key).displayNumber;
            std::array<uint8_t, QXDisplayImage::kBytes> image;
            if (!QXDisplayImage::convert(images[key], QXDisplayImage::isRotated(display), image))
                continue;
            char name[16];
            std::snprintf(name, sizeof name, "%03d.sys", display);
            ok = writeFileAtomically(sub / name, std::string_view(reinterpret_cast<const char*>(image.data()), image.size())) && ok;
        }
    };
    dump(normal, tessera / "normal");
    dump(shift, tessera / "shift");
    ok = writeFileAtomically(tessera / "scancode.sys",
                             std::string_view(reinterpret_cast<const char*>(codes.data()), codes.size())) &&
         ok;
    return ok;
}
