#include "device/CTesseraQuadrix.h"

#include "device/QXReportChannel.h"
#include "model/QXKeyTable.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

int newEvent() {
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void signal(int event) {
    const uint64_t one = 1;
    (void)::write(event, &one, sizeof one);
}

void reset(int event) {
    uint64_t value = 0;
    (void)::read(event, &value, sizeof value);
}

} // namespace

CTesseraQuadrix::CTesseraQuadrix()
    : m_writeEvent(newEvent()), m_stopEvent(newEvent()), m_wakeEvent(newEvent()) {
    m_thread = std::thread([this] { run(); });
}

CTesseraQuadrix::~CTesseraQuadrix() {
    stopThread();
    setReportDescriptor(-1);
    for (int event : {m_writeEvent, m_stopEvent, m_wakeEvent})
        if (event >= 0)
            ::close(event);
}

void CTesseraQuadrix::stopThread() {
    if (!m_thread.joinable())
        return;
    signal(m_stopEvent);
    m_thread.join();
}

void CTesseraQuadrix::wake() {
    signal(m_wakeEvent);
}

void CTesseraQuadrix::signalWrite() {
    signal(m_writeEvent);
}

bool CTesseraQuadrix::volumeAnswers() const {
    struct statvfs info {};
    return !m_connection.volume.empty() && ::statvfs(m_connection.volume.c_str(), &info) == 0;
}

bool CTesseraQuadrix::connect(const QXDeviceCandidate& candidate) {
    if (m_connected || candidate.signallingPath.empty() || candidate.volume.empty())
        return false;
    if (!m_thread.joinable()) {
        reset(m_stopEvent);
        m_thread = std::thread([this] { run(); });
    }
    size_t sector = candidate.sectorSize;
    if (sector == 0) {
        struct statvfs info {};
        if (::statvfs(candidate.volume.c_str(), &info) == 0)
            sector = info.f_bsize;
    }
    if (sector == 0)
        return false;
    {
        std::scoped_lock lock(m_tableLock, m_filesLock);
        if (!m_files.prepare(candidate.volume, sector))
            return false;
    }
    m_connection = candidate;
    m_connection.sectorSize = sector;
    m_connected = true;
    {
        std::lock_guard lock(m_state);
        m_lastReport.fill(0);
    }
    m_hasKeyReports = false;
    if (!candidate.keyReportPath.empty()) {
        const int fd = openReportChannel(candidate.keyReportPath);
        if (fd >= 0) {
            setReportDescriptor(fd);
            m_hasKeyReports = true;
        }
    }
    if (m_files.stageEnableTable(true))
        signalWrite();
    // Last: whoever hears of the connection programs the keys, and how depends on
    // whether the keyboard has the key-report interface.
    if (m_handler)
        m_handler->connected();
    return true;
}

void CTesseraQuadrix::disconnect() {
    if (!m_connected)
        return;
    setReportDescriptor(-1);
    m_hasKeyReports = false;
    {
        std::scoped_lock lock(m_tableLock, m_filesLock);
        m_files.release();
    }
    m_connection = {};
    m_connected = false;
    if (m_handler)
        m_handler->disconnected();
}

// Hands a new report descriptor to the device thread, and closes the old one only after
// the thread has stopped polling it.
void CTesseraQuadrix::setReportDescriptor(int descriptor) {
    std::unique_lock lock(m_state);
    const int old = m_reportFd;
    m_reportFd = descriptor;
    const unsigned generation = ++m_generation;
    lock.unlock();
    wake();
    lock.lock();
    if (m_thread.joinable())
        m_stateSeen.wait_for(lock, std::chrono::seconds(3),
                             [&] { return m_seenGeneration >= generation; });
    lock.unlock();
    if (old >= 0)
        ::close(old);
}

void CTesseraQuadrix::watchChanges(int descriptor, std::function<void()> onChange) {
    {
        std::lock_guard lock(m_state);
        m_changeFd = descriptor;
        m_onChange = std::move(onChange);
        m_changeArmed = descriptor >= 0;
    }
    wake();
}

void CTesseraQuadrix::rearmChanges() {
    {
        std::lock_guard lock(m_state);
        m_changeArmed = m_changeFd >= 0;
    }
    wake();
}

std::array<uint8_t, CTesseraQuadrix::kReportBytes> CTesseraQuadrix::lastReport() const {
    std::lock_guard lock(m_state);
    return m_lastReport;
}

void CTesseraQuadrix::processReport(const uint8_t* report, size_t length) {
    if (length != kReportBytes || !m_handler)
        return;
    std::array<uint8_t, kReportBytes> previous;
    {
        std::lock_guard lock(m_state);
        previous = m_lastReport;
        std::copy(report, report + kReportBytes, m_lastReport.begin());
    }
    for (size_t i = 1; i < kReportBytes; ++i) {
        const uint8_t went = report[i] & ~previous[i];
        const uint8_t came = previous[i] & ~report[i];
        for (int pass = 0; pass < 2; ++pass) {
            const uint8_t bits = pass == 0 ? went : came;
            for (int j = 0; j < 8; ++j) {
                if (!(bits & (1u << j)))
                    continue;
                const size_t key = (i - 1) * 8 + static_cast<size_t>(j);
                if (key >= QXKeyTable::keyCount())
                    continue;
                if (pass == 0)
                    m_handler->keyDown(key);
                else
                    m_handler->keyUp(key);
            }
        }
    }
}

void CTesseraQuadrix::run() {
    uint8_t report[64];
    for (;;) {
        int reportFd, changeFd;
        std::function<void()> onChange;
        {
            std::lock_guard lock(m_state);
            reportFd = m_reportFd;
            changeFd = m_changeArmed ? m_changeFd : -1;
            onChange = m_onChange;
            m_seenGeneration = m_generation;
        }
        m_stateSeen.notify_all();
        pollfd fds[5] = {{reportFd, POLLIN, 0},   {m_writeEvent, POLLIN, 0},
                         {m_stopEvent, POLLIN, 0}, {m_wakeEvent, POLLIN, 0},
                         {changeFd, POLLIN | POLLPRI, 0}};
        if (::poll(fds, 5, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[3].revents) {
            reset(m_wakeEvent);
            continue; // pick up the new state first
        }
        if (reportFd >= 0 && fds[0].revents) {
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                // The report interface went away; stop polling it until a new one comes.
                std::lock_guard lock(m_state);
                if (m_reportFd == reportFd)
                    m_reportFd = -1, ::close(reportFd);
                continue;
            }
            ssize_t n;
            while ((n = ::read(reportFd, report, sizeof report)) > 0)
                processReport(report, static_cast<size_t>(n));
            continue;
        }
        if (fds[1].revents) {
            reset(m_writeEvent);
            std::lock_guard lock(m_filesLock);
            m_files.writePass();
            continue;
        }
        if (fds[2].revents)
            return;
        if (changeFd >= 0 && fds[4].revents) {
            {
                std::lock_guard lock(m_state);
                m_changeArmed = false;
            }
            if (onChange)
                onChange();
        }
    }
}
