#pragma once

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>
#include <vector>

// What qxWaitForAnyEvent returns when the time-out passed without a signal, and when the
// wait itself failed. Event indexes are always below kQXMaximumWaitEvents.
constexpr uint32_t kQXWaitTimeout = 258;
constexpr uint32_t kQXWaitFailed = 0xFFFFFFFF;
constexpr uint32_t kQXWaitInfinite = 0xFFFFFFFF;
constexpr size_t kQXMaximumWaitEvents = 64;

// An auto-reset event: set() signals it from any thread; the wait that reports it resets
// it, so one waiter wakes once however often it was set meanwhile. Built on an eventfd
// (a counter that a read returns and clears), so waiting costs nothing while nothing is set.
// Created unsignalled. Owns its descriptor; movable, not copyable.
class QXAutoResetEvent {
public:
    QXAutoResetEvent() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~QXAutoResetEvent() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    QXAutoResetEvent(QXAutoResetEvent&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    QXAutoResetEvent& operator=(QXAutoResetEvent&& other) noexcept {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    QXAutoResetEvent(const QXAutoResetEvent&) = delete;
    QXAutoResetEvent& operator=(const QXAutoResetEvent&) = delete;

    // False when the system gave no descriptor (out of descriptors): such an event is
    // never signalled.
    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Any thread.
    void set() {
        if (m_fd < 0)
            return;
        uint64_t one = 1;
        while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    // Takes the signal if there is one; true when the event was set.
    bool tryReset() {
        if (m_fd < 0)
            return false;
        uint64_t count = 0;
        ssize_t got;
        do {
            got = ::read(m_fd, &count, sizeof count);
        } while (got < 0 && errno == EINTR);
        return got == static_cast<ssize_t>(sizeof count);
    }

private:
    int m_fd;
};

// Waits until one of the events is set or timeoutMs milliseconds passed (kQXWaitInfinite:
// no time-out). Returns the index of the set event (the lowest when several are set; only
// that one is reset), kQXWaitTimeout, or kQXWaitFailed for an empty or too long list or a
// failing poll.
inline uint32_t qxWaitForAnyEvent(std::vector<QXAutoResetEvent>& events, uint32_t timeoutMs) {
    if (events.empty() || events.size() > kQXMaximumWaitEvents)
        return kQXWaitFailed;
    using Clock = std::chrono::steady_clock;
    const bool noTimeout = timeoutMs == kQXWaitInfinite;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::array<pollfd, kQXMaximumWaitEvents> watched{};
    for (size_t i = 0; i < events.size(); ++i)
        watched[i] = pollfd{events[i].fd(), POLLIN, 0};
    for (;;) {
        int waitMs = -1;
        if (!noTimeout) {
            // Rounded up, so that the wait does not end just short of the deadline; long
            // time-outs are waited for in pieces that fit poll's int.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(
                std::clamp<int64_t>(left.count(), 0, std::numeric_limits<int>::max()));
        }
        int ready = ::poll(watched.data(), static_cast<nfds_t>(events.size()), waitMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return kQXWaitFailed;
        }
        if (ready == 0) {
            if (!noTimeout && Clock::now() >= deadline)
                return kQXWaitTimeout;
            continue;
        }
        for (size_t i = 0; i < events.size(); ++i) {
            if (watched[i].revents & (POLLERR | POLLNVAL))
                return kQXWaitFailed;
            // Another waiter may have taken the signal first: then wait on.
            if ((watched[i].revents & POLLIN) && events[i].tryReset())
                return static_cast<uint32_t>(i);
        }
    }
}
