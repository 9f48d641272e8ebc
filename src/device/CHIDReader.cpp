#include "device/CHIDReader.h"

#include "device/QXDiskFiles.h"
#include "device/QXReportChannel.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

CHIDReader::CHIDReader() : m_stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CHIDReader::~CHIDReader() {
    stopReading();
    if (m_stop >= 0)
        ::close(m_stop);
}

bool CHIDReader::startReading(const std::string& path) {
    stopReading();
    m_device = openReportChannel(path);
    if (m_device < 0)
        return false;
    uint64_t drain = 0;
    while (::read(m_stop, &drain, sizeof drain) > 0) {
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

void CHIDReader::stopReading() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        (void)::write(m_stop, &one, sizeof one);
        // The thread waits on the stop event beside the device, so it ends at once.
        m_thread.join();
    }
    if (m_device >= 0) {
        ::close(m_device);
        m_device = -1;
    }
}

void CHIDReader::run() {
    uint8_t report[64];
    for (;;) {
        pollfd fds[2] = {{m_stop, POLLIN, 0}, {m_device, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents)
            return;
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))
            return; // the interface went away
        ssize_t n = ::read(m_device, report, sizeof report);
        if (n > 0)
            reportReceived(report, static_cast<size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return;
    }
}

int QXHIDDevice::pattern(const uint8_t* report, size_t length) {
    if (length < 7 || report[0] != 0x01)
        return -1;
    int bit = -1;
    for (int p = 0; p < 48; ++p) {
        if (report[1 + p / 8] & (1u << (p % 8))) {
            if (bit >= 0)
                return -1; // more than one bit: no pattern
            bit = p;
        }
    }
    if (bit < 0)
        return -1;
    const int code = QXDiskFiles::kSignalPrefix + bit;
    if (code == QXDiskFiles::kSignalPrefix)
        return 0;
    for (int digit = 0; digit < 11; ++digit)
        if (code == QXDiskFiles::kSignalDigits[static_cast<size_t>(digit)])
            return digit + 1;
    return -1;
}

void QXHIDDevice::decode(const uint8_t* report, size_t length) {
    const int p = pattern(report, length);
    if (p < 0)
        return;
    switch (m_state) {
    case 0:
        if (p == 0)
            m_state = 1;
        break;
    case 1:
        if (p > 0) {
            m_firstDigit = p - 1;
            m_state = 2;
        }
        break;
    default:
        if (p > 0) {
            const size_t key = static_cast<size_t>((p - 1) * 11 + m_firstDigit);
            m_state = 0;
            m_firstDigit = 0;
            signalledKey(key);
        }
        break;
    }
}
