#pragma once

#include "kit/CQXPluginInstance.h"
#include "kit/QXAutoResetEvent.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// A view with a thread of its own, for work that may block (sockets, mailboxes). T is the
// concrete view, derived from this template, and implements the hooks below.
//
// Each run of the thread (from Activate to the stop that Deactivate asks for): threadBegin,
// then wakeUp(kQXWaitTimeout) at once, again after every wait period without a signal
// (kQXWaitTimeout) and whenever one of T's own events is set (its index, 1 and up), then
// threadEnd after the stop event (index 0). Exceptions from the hooks are swallowed; the
// loop goes on. Activate while the thread is stopping makes it run again instead of ending.
//
// Threads: Activate, Deactivate and Release come from the program's GUI thread; the hooks
// run on the view's thread. Release while the thread runs stops it, and the thread deletes
// the object when it ends; Release with no thread deletes at once. A library that made such
// a view must stay loaded until the view was deleted.
template <typename T>
class CQXSelfthreadViewPluginInstanceEx : public CQXPluginInstance<IQXViewPluginInstance> {
public:
    explicit CQXSelfthreadViewPluginInstanceEx(IQXViewPluginContext* context)
        : CQXPluginInstance<IQXViewPluginInstance>(context) {}

    // Throws when no event or thread could be made; the view then stays idle.
    void Activate() override {
        std::lock_guard lock(m_mutex);
        if (m_thread.joinable()) {
            m_restartRequested = true;
            return;
        }
        m_events.clear();
        m_events.emplace_back(); // the stop event
        if (!m_events.front().valid()) {
            m_events.clear();
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
        try {
            m_thread = std::thread([this] { run(); });
        } catch (...) {
            m_events.clear();
            throw;
        }
    }

    // Also cancels a restart that an Activate during the stop asked for, so that the
    // last call wins.
    void Deactivate() override {
        std::lock_guard lock(m_mutex);
        m_restartRequested = false;
        if (m_thread.joinable())
            m_events.front().set();
    }

    void Release() override {
        {
            std::lock_guard lock(m_mutex);
            if (m_thread.joinable()) {
                m_releaseRequested = true;
                m_restartRequested = false;
                m_events.front().set();
                return;
            }
        }
        delete static_cast<T*>(this);
    }

    // Sets T's event index (from addEvent) or, with 0, the stop event. Any thread; an index
    // without an event (no thread runs) is ignored.
    void signalEvent(uint32_t index) {
        std::lock_guard lock(m_mutex);
        if (index < m_events.size())
            m_events[index].set();
    }

    // How long the thread waits for an event before calling wakeUp(kQXWaitTimeout), in
    // milliseconds (kQXWaitInfinite: no time-out). Any thread; used from the next wait on.
    void setWaitPeriod(uint32_t milliseconds) { m_waitPeriod = milliseconds; }
    uint32_t waitPeriod() const { return m_waitPeriod; }

protected:
    // The hooks, on the view's thread. threadBegin and threadEnd open and close a run.
    virtual void threadBegin() {}
    virtual void threadEnd() {}
    // waitResult: kQXWaitTimeout (the first call of a run and after a quiet period) or the
    // index of T's event that was set.
    virtual void wakeUp(uint32_t waitResult) = 0;

    // Adds an auto-reset event for the thread to wait on and returns its index, the wait
    // result that reports it; -1 when none could be made or the list is full. Only on the
    // view's thread, in threadBegin: the events are closed at the end of every run.
    int addEvent() {
        std::lock_guard lock(m_mutex);
        if (m_events.empty() || m_events.size() >= kQXMaximumWaitEvents)
            return -1;
        QXAutoResetEvent event;
        if (!event.valid())
            return -1;
        m_events.push_back(std::move(event));
        return static_cast<int>(m_events.size() - 1);
    }

private:
    template <typename Hook> static void guarded(Hook&& hook) {
        try {
            hook();
        } catch (...) {
        }
    }

    void run() {
        for (;;) {
            guarded([this] { threadBegin(); });
            uint32_t result = kQXWaitTimeout;
            while (result != 0) {
                guarded([this, result] { wakeUp(result); });
                // The list changes only on this thread (addEvent); other threads only set
                // events under the lock, so the wait reads it without the lock.
                result = qxWaitForAnyEvent(m_events, m_waitPeriod);
                if (result == kQXWaitFailed)
                    break; // waiting again would spin
            }
            guarded([this] { threadEnd(); });

            std::unique_lock lock(m_mutex);
            // Closing and, for a restart, making the new stop event happen under one lock,
            // so a Deactivate always finds the stop event of the run it means to stop.
            m_events.clear();
            if (m_restartRequested.exchange(false)) {
                m_events.emplace_back();
                if (m_events.front().valid())
                    continue;
                m_events.clear();
            }
            std::thread self = std::move(m_thread);
            bool release = m_releaseRequested.exchange(false);
            lock.unlock();
            // Nothing of the object is touched from here on unless this thread deletes it:
            // without a pending Release the GUI thread may start a new thread or delete it.
            self.detach();
            if (release)
                delete static_cast<T*>(this);
            return;
        }
    }

    std::atomic<uint32_t> m_waitPeriod{1000};
    // Index 0 is the stop event, then T's own. Changed only under m_mutex, and only on the
    // view's thread while it runs (by the GUI thread in Activate when none runs).
    std::vector<QXAutoResetEvent> m_events;
    std::atomic<bool> m_releaseRequested{false};
    std::atomic<bool> m_restartRequested{false};
    std::thread m_thread; // not joinable when no thread runs
    // Guards the events list, the flags and m_thread between the GUI and the view's thread.
    std::mutex m_mutex;
};
