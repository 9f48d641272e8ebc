#include "support/QXTestSupport.h"
#include "utility/utility.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>
#include <filesystem>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class TestListener : public IWorkingThreadListener {
public:
    virtual ~TestListener() = default;

    void tick() override {
        {
            std::lock_guard lock(m_mutex);
            m_threads.insert(std::this_thread::get_id());
            m_tickTimes.push_back(Clock::now());
        }
        ++ticks;
        if (onTick)
            onTick();
    }
    void release() override {
        ++releases;
        std::lock_guard lock(m_mutex);
        m_threads.insert(std::this_thread::get_id());
    }

    std::set<std::thread::id> threads() {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }
    std::vector<Clock::time_point> tickTimes() {
        std::lock_guard lock(m_mutex);
        return m_tickTimes;
    }

    std::atomic<int> ticks{0};
    std::atomic<int> releases{0};
    std::function<void()> onTick;

private:
    std::mutex m_mutex;
    std::set<std::thread::id> m_threads;
    std::vector<Clock::time_point> m_tickTimes;
};

// Removes a stack listener even when an assertion ends the test early.
struct Added {
    explicit Added(IWorkingThreadListener* listener) : m_listener(listener) {
        WorkingThreadAddListener(listener);
    }
    ~Added() { WorkingThreadRemoveListener(m_listener); }
    IWorkingThreadListener* m_listener;
};

// Returns once the thread has completed at least `rounds` whole rounds from now.
void waitForRounds(int rounds) {
    TestListener sentinel;
    Added added(&sentinel);
    ASSERT_TRUE(qxtest::waitFor([&] { return sentinel.ticks > rounds; }));
}

TEST(WorkingThreadTest, TicksArriveOnOneLibraryThreadAboutEvery100ms) {
    TestListener listener;
    Added added(&listener);
    ASSERT_TRUE(qxtest::waitFor([&] { return listener.ticks >= 6; }));
    auto threads = listener.threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    auto times = listener.tickTimes();
    EXPECT_GE(times[5] - times[0], 400ms) << "the thread ticks too often";
}

TEST(WorkingThreadTest, NoTickRunsOrFollowsOnceRemoveReturns) {
    struct Slow : TestListener {
        std::atomic<bool> inTick{false};
        std::atomic<bool> removing{false};
        std::atomic<bool> removed{false};
        std::atomic<int> lateTicks{0};
    };
    std::vector<std::unique_ptr<Slow>> listeners;
    for (int round = 0; round < 8; ++round) {
        auto& slow = *listeners.emplace_back(std::make_unique<Slow>());
        // The tick outlasts the start of Remove, so a Remove that does not wait returns
        // while it is still running.
        slow.onTick = [&slow] {
            if (slow.removed)
                ++slow.lateTicks;
            slow.inTick = true;
            qxtest::waitFor([&] { return slow.removing.load(); }, 10s);
            auto until = Clock::now() + 30ms;
            while (Clock::now() < until)
                std::this_thread::yield();
            slow.inTick = false;
        };
        WorkingThreadAddListener(&slow);
        ASSERT_TRUE(qxtest::waitFor([&] { return slow.inTick.load(); }));
        slow.removing = true;
        WorkingThreadRemoveListener(&slow);
        EXPECT_FALSE(slow.inTick) << "Remove returned during a tick";
        slow.removed = true;
    }
    waitForRounds(2);
    for (auto& slow : listeners)
        EXPECT_EQ(slow->lateTicks, 0);
}

TEST(WorkingThreadTest, AddAndRemoveFromManyThreads) {
    std::atomic<int> ticks{0};
    std::atomic<int> violations{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            std::atomic<bool> inTick{false};
            TestListener listener;
            listener.onTick = [&] {
                inTick = true;
                ++ticks;
                auto until = Clock::now() + 2ms;
                while (Clock::now() < until)
                    std::this_thread::yield();
                inTick = false;
            };
            // Until enough ticks have met the add/remove traffic, or a generous time-out.
            auto deadline = Clock::now() + 20s;
            while (ticks < 12 && Clock::now() < deadline) {
                WorkingThreadAddListener(&listener);
                std::this_thread::yield();
                WorkingThreadRemoveListener(&listener);
                if (inTick)
                    ++violations;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_GE(ticks, 12);
    EXPECT_EQ(violations, 0);
}

TEST(WorkingThreadTest, FreeStopsTicksAndReleasesOnceOnTheWorker) {
    auto* listener = new TestListener; // deleted below, after release has been seen
    std::atomic<int> ticksAtFree{0};
    WorkingThreadAddListener(listener);
    ASSERT_TRUE(qxtest::waitFor([&] { return listener->ticks > 0; }));
    ticksAtFree = listener->ticks.load();
    WorkingThreadFreeListener(listener);
    ASSERT_TRUE(qxtest::waitFor([&] { return listener->releases == 1; }));
    waitForRounds(2);
    EXPECT_EQ(listener->releases, 1);
    EXPECT_LE(listener->ticks, ticksAtFree + 1) << "ticked after being freed";
    EXPECT_EQ(listener->threads().size(), 1u) << "release ran on another thread than tick";
    delete listener;
}

TEST(WorkingThreadTest, FreeOfAListenerNeverAddedStillReleasesIt) {
    struct SelfDeleting : IWorkingThreadListener {
        virtual ~SelfDeleting() = default;
        explicit SelfDeleting(std::atomic<int>& released) : m_released(released) {}
        void tick() override {}
        void release() override {
            ++m_released;
            delete this;
        }
        std::atomic<int>& m_released;
    };
    std::atomic<int> released{0};
    WorkingThreadFreeListener(new SelfDeleting(released));
    ASSERT_TRUE(qxtest::waitFor([&] { return released == 1; }));
    waitForRounds(1);
    EXPECT_EQ(released, 1);
}

TEST(WorkingThreadTest, RemoveAndFreeFromInsideTheTick) {
    TestListener removing;
    removing.onTick = [&] { WorkingThreadRemoveListener(&removing); };
    Added added(&removing);

    TestListener freeing;
    freeing.onTick = [&] { WorkingThreadFreeListener(&freeing); };
    WorkingThreadAddListener(&freeing);

    ASSERT_TRUE(qxtest::waitFor([&] { return freeing.releases == 1; }));
    waitForRounds(2);
    EXPECT_EQ(removing.ticks, 1);
    EXPECT_EQ(freeing.ticks, 1);
    EXPECT_EQ(freeing.releases, 1);
}

TEST(WorkingThreadTest, ListenerAddedTwiceTicksOncePerRound) {
    TestListener twice;
    TestListener once;
    WorkingThreadAddListener(&twice);
    Added addedTwice(&twice);
    Added addedOnce(&once);
    ASSERT_TRUE(qxtest::waitFor([&] { return once.ticks >= 5; }));
    WorkingThreadRemoveListener(&twice);
    WorkingThreadRemoveListener(&once);
    EXPECT_LE(std::abs(twice.ticks - once.ticks), 1);
}

} // namespace

namespace {

TEST(WorkingThreadTest, StopReleasesWhatWasHandedOverEndsTheThreadAndAddStartsItAgain) {
    TestListener kept;
    std::atomic<pid_t> worker{0};
    kept.onTick = [&] { worker = static_cast<pid_t>(::syscall(SYS_gettid)); };
    Added added(&kept);
    ASSERT_TRUE(qxtest::waitFor([&] { return worker != 0; }));
    const pid_t first = worker;

    // Handed over just before: released by the time the stop returns, on the old thread.
    auto* freed = new TestListener;
    WorkingThreadFreeListener(freed);
    WorkingThreadStop();
    EXPECT_EQ(freed->releases, 1);
    delete freed;
    const std::string task = "/proc/self/task/" + std::to_string(first);
    EXPECT_FALSE(std::filesystem::exists(task)) << "the thread has ended";
    WorkingThreadStop(); // nothing left to stop

    // A listener still added ticks again, on a new thread, once another is added.
    TestListener other;
    Added second(&other);
    EXPECT_TRUE(qxtest::waitFor([&] { return other.ticks > 0 && worker != first; }));
}

} // namespace

namespace {

// Voluntary context switches of one thread of this process: how often it went to sleep.
long sleepsOf(pid_t thread) {
    const std::string status = qxtest::readFile("/proc/self/task/" + std::to_string(thread) + "/status");
    const size_t at = status.find("voluntary_ctxt_switches:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 24);
}

TEST(WorkingThreadTest, APeriodicListenerWakesTheThreadOnlyWhenDueAndOthersStillTickAtOnce) {
    TestListener periodic;
    std::atomic<pid_t> worker{0};
    std::atomic<long> sleepsAtTick[3] = {{-1}, {-1}, {-1}};
    periodic.onTick = [&] {
        worker = static_cast<pid_t>(::syscall(SYS_gettid));
        const int n = periodic.ticks - 1;
        if (n < 3)
            sleepsAtTick[n] = sleepsOf(worker);
    };
    WorkingThreadAddPeriodicListener(&periodic, 1000);
    ASSERT_TRUE(qxtest::waitFor([&] { return periodic.ticks >= 3; }, 30s));
    WorkingThreadRemoveListener(&periodic);
    // Each tick strictly more than the period after the one before, as views count it.
    const auto times = periodic.tickTimes();
    for (size_t i = 1; i < 3; ++i)
        EXPECT_GT(times[i] - times[i - 1], 1000ms);
    // Rounds every 100 ms would have put the thread to sleep about 20 times in between.
    EXPECT_LE(sleepsAtTick[2] - sleepsAtTick[0], 6) << "the thread woke while nothing was due";

    // While the thread sleeps towards a listener due in a minute, one added now ticks now.
    TestListener slow, plain;
    WorkingThreadAddPeriodicListener(&slow, 60000);
    ASSERT_TRUE(qxtest::waitFor([&] { return slow.ticks == 1; }));
    Added added(&plain);
    EXPECT_TRUE(qxtest::waitFor([&] { return plain.ticks >= 2; }));
    EXPECT_EQ(slow.ticks, 1);
    WorkingThreadRemoveListener(&slow);
}

} // namespace
