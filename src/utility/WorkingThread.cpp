#include "utility/utility.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTickPeriod = std::chrono::milliseconds(100);

// Set when the thread object is destroyed at exit (or when the library is unloaded).
// Calls arriving after that, from other libraries' static destructors, are ignored.
std::atomic<bool> g_gone{false};

template <typename Call> void callGuarded(Call&& call) {
    // A listener's exception must not end the thread every other listener shares.
    try {
        call();
    } catch (...) {
    }
}

template <typename T> bool contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// An added listener and when it next needs a tick.
struct Entry {
    IWorkingThreadListener* listener;
    Clock::duration period;              // zero: every round
    Clock::time_point due = Clock::time_point::min(); // the first round at or after this
};

bool contains(const std::vector<Entry>& list, const IWorkingThreadListener* listener) {
    return std::any_of(list.begin(), list.end(),
                       [&](const Entry& entry) { return entry.listener == listener; });
}

void eraseListener(std::vector<Entry>& list, const IWorkingThreadListener* listener) {
    std::erase_if(list, [&](const Entry& entry) { return entry.listener == listener; });
}

// The one thread that ticks every listener in turn, in rounds 100 ms apart. It sleeps on a
// condition variable while no listener is added, so an idle program does not wake up for
// it, and sleeps through the rounds in which no listener is due. It starts with the first
// Add or Free, and again after a stop.
class WorkingThread {
public:
    static WorkingThread& instance() {
        static WorkingThread thread;
        return thread;
    }

    void add(IWorkingThreadListener* listener, std::chrono::milliseconds period) {
        {
            std::lock_guard lock(m_mutex);
            if (contains(m_listeners, listener) || contains(m_releases, listener))
                return;
            m_listeners.push_back({listener, period});
            m_added = true;
            start();
        }
        m_wake.notify_all();
    }

    void remove(IWorkingThreadListener* listener) {
        std::unique_lock lock(m_mutex);
        eraseListener(m_listeners, listener);
        // On the worker the tick running now is either the caller's own or another
        // listener's; waiting would deadlock in the first case and is needless in the second.
        if (onWorker())
            return;
        m_tickEnded.wait(lock, [&] { return m_ticking != listener; });
    }

    void free(IWorkingThreadListener* listener) {
        {
            std::lock_guard lock(m_mutex);
            eraseListener(m_listeners, listener);
            if (contains(m_releases, listener))
                return;
            m_releases.push_back(listener);
            start();
        }
        m_wake.notify_all();
    }

    void stop() {
        if (onWorker())
            return;
        // One stop at a time: a second caller finds the thread ended or waits for it here.
        std::lock_guard stopping(m_stopMutex);
        {
            std::lock_guard lock(m_mutex);
            if (!m_thread.joinable())
                return;
            m_draining = true;
        }
        m_wake.notify_all();
        m_thread.join();
        std::lock_guard lock(m_mutex);
        m_draining = false;
        m_workerId = std::thread::id();
    }

private:
    WorkingThread() = default;

    // With m_mutex held. The worker takes the lock first thing, so it sees m_workerId.
    void start() {
        if (m_draining || m_thread.joinable())
            return;
        m_thread = std::thread([this] { run(); });
        m_workerId = m_thread.get_id();
    }

    // Runs at exit, after main has returned: listeners still added are neither ticked nor
    // released any more (their libraries may be gone); a tick in progress is waited for.
    ~WorkingThread() {
        g_gone = true;
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (onWorker())
            m_thread.detach(); // exit() was called from a tick
        else if (m_thread.joinable())
            m_thread.join();
    }

    bool onWorker() const { return std::this_thread::get_id() == m_workerId.load(); }

    void run() {
        std::unique_lock lock(m_mutex);
        auto nextRound = Clock::now();
        while (!m_stopping) {
            if (!m_releases.empty()) {
                IWorkingThreadListener* listener = m_releases.front();
                m_releases.erase(m_releases.begin());
                lock.unlock();
                callGuarded([&] { listener->release(); });
                lock.lock();
            } else if (m_draining) {
                return;
            } else if (m_listeners.empty()) {
                m_wake.wait(lock, [&] {
                    return m_stopping || m_draining || !m_listeners.empty() ||
                           !m_releases.empty();
                });
                nextRound = Clock::now();
            } else {
                // The first round at which some listener is due.
                m_added = false;
                Clock::time_point due = Clock::time_point::max();
                for (const Entry& entry : m_listeners)
                    due = std::min(due, entry.due);
                Clock::time_point round = nextRound;
                if (due > round)
                    round += (due - round + kTickPeriod - Clock::duration(1)) / kTickPeriod *
                             kTickPeriod;
                if (Clock::now() < round) {
                    m_wake.wait_until(lock, round, [&] {
                        return m_stopping || m_draining || !m_releases.empty() || m_added;
                    });
                    if (Clock::now() < round)
                        continue; // woken early: what is due may have changed
                }
                runRound(lock, round);
                // A slow round delays the next one instead of causing a burst of catch-ups.
                nextRound = std::max(round + kTickPeriod, Clock::now());
            }
        }
    }

    void runRound(std::unique_lock<std::mutex>& lock, Clock::time_point round) {
        m_round.clear();
        for (const Entry& entry : m_listeners)
            if (entry.due <= round)
                m_round.push_back(entry.listener);
        for (IWorkingThreadListener* listener : m_round) {
            // Removed or freed by an earlier tick of this round, or from another thread.
            auto entry = std::find_if(m_listeners.begin(), m_listeners.end(),
                                      [&](const Entry& e) { return e.listener == listener; });
            if (m_stopping || m_draining || entry == m_listeners.end())
                continue;
            // Strictly more than the period after this round: a listener that counts its
            // own period from its tick finds it has passed.
            entry->due = round + entry->period + Clock::duration(1);
            m_ticking = listener;
            lock.unlock();
            callGuarded([&] { listener->tick(); });
            lock.lock();
            m_ticking = nullptr;
            m_tickEnded.notify_all();
        }
    }

    std::mutex m_mutex;
    std::mutex m_stopMutex; // held by WorkingThreadStop while it waits for the thread
    std::condition_variable m_wake;      // the worker waits for listeners, releases or stop
    std::condition_variable m_tickEnded; // removing threads wait for a tick to end
    std::vector<Entry> m_listeners; // ticked in the order they were added
    std::vector<IWorkingThreadListener*> m_releases;  // handed over, release() still due
    std::vector<IWorkingThreadListener*> m_round;     // worker only
    IWorkingThreadListener* m_ticking = nullptr;      // whose tick runs now
    bool m_added = false;    // a listener was added since the worker chose its next round
    bool m_stopping = false; // the program is exiting: the thread ends for good
    bool m_draining = false; // a stop waits: release what was handed over, then end
    std::thread m_thread;
    // Read without the lock by onWorker; empty while no thread runs.
    std::atomic<std::thread::id> m_workerId{};
};

} // namespace

extern "C" {

QX_UTILITY_API void WorkingThreadAddListener(IWorkingThreadListener* listener) {
    if (listener && !g_gone)
        WorkingThread::instance().add(listener, std::chrono::milliseconds(0));
}

QX_UTILITY_API void WorkingThreadAddPeriodicListener(IWorkingThreadListener* listener,
                                                     unsigned int periodMilliseconds) {
    if (listener && !g_gone)
        WorkingThread::instance().add(listener, std::chrono::milliseconds(periodMilliseconds));
}

QX_UTILITY_API void WorkingThreadRemoveListener(IWorkingThreadListener* listener) {
    if (listener && !g_gone)
        WorkingThread::instance().remove(listener);
}

QX_UTILITY_API void WorkingThreadFreeListener(IWorkingThreadListener* listener) {
    if (listener && !g_gone)
        WorkingThread::instance().free(listener);
}

QX_UTILITY_API void WorkingThreadStop() {
    if (!g_gone)
        WorkingThread::instance().stop();
}

} // extern "C"
