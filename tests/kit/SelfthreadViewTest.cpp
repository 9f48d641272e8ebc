// Views with a thread of their own: the run loop, restarts, and who deletes the object.

#include "KitTestContext.h"
#include "kit/CQXSelfthreadViewPluginInstanceEx.h"
#include "support/QXTestSupport.h"

#include <algorithm>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using kittest::KitTestContext;

// What the view's hooks saw, kept by the test since the view deletes itself. threadEnd can be
// held at a gate so that the test acts while the thread is stopping.
class ThreadProbe {
public:
    struct State {
        int begins = 0;
        int ends = 0;
        std::vector<uint32_t> wakeUps;
        std::vector<std::thread::id> threads; // of every threadBegin
        bool deleted = false;
        std::thread::id deletedOn;
        int endsAtDeletion = -1;
        int ownEvent = -1;
    };

    template <typename Change> void change(Change&& change) {
        std::lock_guard lock(m_mutex);
        change(m_state);
    }
    State state() {
        std::lock_guard lock(m_mutex);
        return m_state;
    }
    size_t wakeUpsOf(uint32_t result) {
        std::vector<uint32_t> wakeUps = state().wakeUps;
        return std::count(wakeUps.begin(), wakeUps.end(), result);
    }

    void setGateClosed(bool closed) {
        {
            std::lock_guard lock(m_mutex);
            m_gateClosed = closed;
        }
        m_gateChanged.notify_all();
    }
    void passGate() {
        std::unique_lock lock(m_mutex);
        m_gateChanged.wait(lock, [&] { return !m_gateClosed; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_gateChanged;
    bool m_gateClosed = false;
    State m_state;
};

struct ProbeOptions {
    bool ownEvent = false;     // adds an event of its own in threadBegin
    bool throwOnFirst = false; // the first wakeUp throws
};

class ProbeView : public CQXSelfthreadViewPluginInstanceEx<ProbeView> {
public:
    ProbeView(IQXViewPluginContext* context, ThreadProbe& probe, ProbeOptions options = {})
        : CQXSelfthreadViewPluginInstanceEx(context), m_probe(probe), m_options(options) {}
    ~ProbeView() override {
        m_probe.change([](ThreadProbe::State& s) {
            s.deleted = true;
            s.deletedOn = std::this_thread::get_id();
            s.endsAtDeletion = s.ends;
        });
    }

protected:
    void threadBegin() override {
        int ownEvent = m_options.ownEvent ? addEvent() : -1;
        m_probe.change([&](ThreadProbe::State& s) {
            ++s.begins;
            s.threads.push_back(std::this_thread::get_id());
            s.ownEvent = ownEvent;
        });
    }
    void threadEnd() override {
        m_probe.change([](ThreadProbe::State& s) { ++s.ends; });
        m_probe.passGate();
    }
    void wakeUp(uint32_t waitResult) override {
        m_probe.change([&](ThreadProbe::State& s) { s.wakeUps.push_back(waitResult); });
        if (m_options.throwOnFirst && m_probe.state().wakeUps.size() == 1)
            throw std::runtime_error("first wake-up fails");
    }

private:
    ThreadProbe& m_probe;
    ProbeOptions m_options;
};

class SelfthreadView : public testing::Test {
protected:
    void waitForDeletion() {
        ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.state().deleted; }))
            << "the view was never deleted";
        EXPECT_EQ(m_context.destroyedCount(), 1);
    }

    KitTestContext m_context;
    ThreadProbe m_probe;
};

TEST_F(SelfthreadView, ReleaseWithoutThreadDeletesAtOnce) {
    auto* view = new ProbeView(&m_context, m_probe);
    view->Release();
    EXPECT_TRUE(m_probe.state().deleted);
    EXPECT_EQ(m_probe.state().deletedOn, std::this_thread::get_id());
    EXPECT_EQ(m_probe.state().begins, 0);
    EXPECT_EQ(m_context.destroyedCount(), 1);
}

TEST_F(SelfthreadView, ReleaseRightAfterStartIsDoneByTheThreadAfterItsHooks) {
    m_probe.setGateClosed(true); // the thread cannot end before Release was called
    auto* view = new ProbeView(&m_context, m_probe);
    view->Activate();
    view->Deactivate();
    view->Release();
    EXPECT_FALSE(m_probe.state().deleted) << "deleted while its thread ran";
    m_probe.setGateClosed(false);
    waitForDeletion();
    ASSERT_EQ(m_probe.state().threads.size(), 1u);
    EXPECT_EQ(m_probe.state().deletedOn, m_probe.state().threads[0])
        << "not deleted by its own thread";
    EXPECT_EQ(m_probe.state().endsAtDeletion, 1);
    EXPECT_EQ(m_probe.state().wakeUps, std::vector<uint32_t>{kQXWaitTimeout});
}

TEST_F(SelfthreadView, ActivateWhileStoppingRunsAgain) {
    auto* view = new ProbeView(&m_context, m_probe);
    view->Activate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.state().wakeUps.size() == 1; }));
    m_probe.setGateClosed(true);
    view->Deactivate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.state().ends == 1; }));
    view->Activate(); // the thread is in threadEnd
    m_probe.setGateClosed(false);
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.state().wakeUps.size() == 2; }))
        << "the thread did not run again";
    EXPECT_EQ(m_probe.state().begins, 2);
    EXPECT_EQ(m_probe.state().threads[0], m_probe.state().threads[1]);

    view->Deactivate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.state().ends == 2; }))
        << "the run after the restart did not stop";
    view->Release();
    waitForDeletion();
    EXPECT_EQ(m_probe.state().begins, 2);
}

TEST_F(SelfthreadView, HandlerRunsOnEveryPeriodAndOwnEventAndSurvivesExceptions) {
    auto* view = new ProbeView(&m_context, m_probe, {.ownEvent = true, .throwOnFirst = true});
    view->setWaitPeriod(20);
    view->Activate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.wakeUpsOf(kQXWaitTimeout) >= 3; }))
        << "the loop did not go on after the first wake-up threw";
    ASSERT_EQ(m_probe.state().ownEvent, 1);
    view->signalEvent(1);
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.wakeUpsOf(1) == 1; }))
        << "the view's own event did not wake the handler with its index";
    EXPECT_EQ(m_probe.state().ends, 0);
    EXPECT_EQ(m_probe.wakeUpsOf(0), 0u) << "the stop result reached the handler";

    view->Deactivate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.state().ends == 1; }));
    view->Release();
    waitForDeletion();
}

} // namespace
