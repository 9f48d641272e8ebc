#include "QXDiskWatcher.h"

#include "QXVirtualDisplays.h"

#include <QSocketNotifier>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kFileEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_TO |
                                 IN_MOVED_FROM | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                 IN_ONLYDIR;
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// "NNN.sys" with NNN from 001 to 114; 0 for any other name.
int displayNumber(std::string_view name) {
    if (name.size() != 7 || name.substr(3) != ".sys")
        return 0;
    int number = 0;
    for (char c : name.substr(0, 3)) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + (c - '0');
    }
    return number <= QXVirtualDisplays::kDisplayCount ? number : 0;
}

} // namespace

QXDiskWatcher::QXDiskWatcher(fs::path disk, QXVirtualDisplays& displays, QObject* parent)
    : QObject(parent), m_disk(std::move(disk)), m_displays(displays) {}

QXDiskWatcher::~QXDiskWatcher() {
    if (m_inotify >= 0)
        ::close(m_inotify);
}

bool QXDiskWatcher::start(const fs::path& location) {
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0)
        return false;
    rewatch(location.empty() ? m_disk : location);
    m_displays.reloadAllDisplays();
    m_displays.reloadEnableTable();
    m_displays.reloadCommand();
    m_notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    return true;
}

void QXDiskWatcher::forget(Folder folder) {
    if (m_watch[folder] >= 0)
        ::inotify_rm_watch(m_inotify, m_watch[folder]);
    m_watch[folder] = -1;
}

// Watches each folder that exists and is not watched yet; a folder watched anew may
// already hold files, so the caller reloads what it covers.
void QXDiskWatcher::rewatch(const fs::path& disk) {
    const fs::path paths[FolderCount] = {disk, disk / "vTessera", disk / "vTessera" / "dynamic"};
    for (int folder = Disk; folder < FolderCount; ++folder)
        if (m_watch[folder] < 0)
            m_watch[folder] = ::inotify_add_watch(m_inotify, paths[folder].c_str(),
                                                  folder == Disk ? kFolderEvents : kFileEvents);
}

bool QXDiskWatcher::drain() {
    if (m_inotify < 0)
        return false;
    std::bitset<QXVirtualDisplays::kDisplayCount + 1> displays;
    bool allDisplays = false, enableTable = false, command = false, structure = false;

    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            const char* namePointer = buffer + offset + sizeof(inotify_event);
            const std::string_view name(namePointer,
                                        event.len ? ::strnlen(namePointer, event.len) : 0);
            offset += ssize_t(sizeof(inotify_event) + event.len);

            if (event.mask & IN_Q_OVERFLOW) {
                structure = true;
                continue;
            }
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                // A watched folder went away or moved: everything below it is new.
                for (int folder = Disk; folder < FolderCount; ++folder)
                    if (m_watch[folder] == event.wd)
                        structure = true;
                continue;
            }
            if (event.wd == m_watch[Dynamic]) {
                if (const int number = displayNumber(name))
                    displays[static_cast<size_t>(number)] = true;
            } else if (event.wd == m_watch[Tessera]) {
                if (name == "layout.sys")
                    enableTable = true;
                else if (name == "order.sys")
                    command = true;
                else if (name == "dynamic")
                    structure = true;
            } else if (event.wd == m_watch[Disk]) {
                if (name == "vTessera")
                    structure = true;
            }
        }
    }

    if (structure) {
        // Watches follow inodes; after a folder was replaced or moved, start over from
        // the paths.
        forget(Tessera);
        forget(Dynamic);
        rewatch(m_disk);
        allDisplays = enableTable = command = true;
    }
    if (allDisplays) {
        m_displays.reloadAllDisplays();
    } else {
        for (int number = 1; number <= QXVirtualDisplays::kDisplayCount; ++number)
            if (displays[static_cast<size_t>(number)])
                m_displays.reloadDisplay(number);
    }
    if (enableTable)
        m_displays.reloadEnableTable();
    if (command)
        m_displays.reloadCommand();

    const bool anything = allDisplays || displays.any() || enableTable || command;
    if (anything)
        emit changed();
    return anything;
}
