// Views that redraw on the utility library's working thread, with and without downloads.
// The period rule is driven with explicit tick counter values; the rest runs on the real
// working thread and downloader, against a clock the test holds still.

#include "KitTestContext.h"
#include "kit/CQXViewPluginInstanceEx.h"
#include "kit/CQXViewPluginInstanceExWithDownloading.h"
#include "support/QXHttpTestServer.h"
#include "support/QXTestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

using kittest::KitTestContext;

// What a view did, kept by the test since the view deletes itself.
struct ViewProbe {
    std::atomic<int> updates{0};
    std::atomic<int> releases{0};
    std::atomic<int> destructions{0};
    std::atomic<std::thread::id> deletedOn{};
};

// Counts its updates; its tick counter stands still.
template <uint32_t P> class CountingView : public CQXViewPluginInstanceEx<CountingView<P>, P> {
public:
    using Base = CQXViewPluginInstanceEx<CountingView<P>, P>;
    CountingView(IQXViewPluginContext* context, ViewProbe& probe) : Base(context), m_probe(probe) {}
    ~CountingView() override {
        ++m_probe.destructions;
        m_probe.deletedOn = std::this_thread::get_id();
    }

    void Update() override { ++m_probe.updates; }
    void release() override {
        ++m_probe.releases;
        Base::release();
    }

protected:
    uint32_t tickCount() const override { return 50000; }

private:
    ViewProbe& m_probe;
};

class WorkingThreadView : public testing::Test {
protected:
    // Hands the view to the working thread and waits until it deleted it.
    void releaseAndWait(IQXViewPluginInstance* view) {
        view->Release();
        ASSERT_TRUE(qxtest::waitFor([&] { return m_context.destroyedCount() > 0; }))
            << "the working thread never deleted the released view";
    }

    struct IdleTask : CDownloadTask {
        virtual ~IdleTask() = default;
        void OnComplete(const unsigned char* /*body*/, size_t /*length*/) override {}
    };

    KitTestContext m_context;
    ViewProbe m_probe;
    IdleTask m_idleTask;
};

TEST_F(WorkingThreadView, UpdatesWhenMoreThanThePeriodPassed) {
    auto* view = new CountingView<300>(&m_context, m_probe);
    view->tickAt(10000);
    EXPECT_EQ(m_probe.updates, 1) << "the first tick did not update";
    for (uint32_t now = 10200; now <= 11000; now += 200)
        view->tickAt(now);
    EXPECT_EQ(m_probe.updates, 3) << "ticks 200 ms apart update on every second tick";
    EXPECT_EQ(view->lastPoll(), 10800u);

    view->tickAt(11100);
    EXPECT_EQ(m_probe.updates, 3) << "exactly the period is not more than the period";
    view->tickAt(11101);
    EXPECT_EQ(m_probe.updates, 4);

    // The counter wraps at 2^32; the difference stays right.
    view->tickAt(0xFFFFFF00u);
    view->tickAt(0xFFFFFF00u + 300u);
    EXPECT_EQ(m_probe.updates, 5);
    view->tickAt(0xFFFFFF00u + 301u);
    EXPECT_EQ(m_probe.updates, 6) << "an update across the wrap of the tick counter was missed";
    releaseAndWait(view);
}

TEST_F(WorkingThreadView, ActivationAfterDeactivationUpdatesAtTheFirstTick) {
    // The clock stands still, so only a reset of lastPoll can allow a second update.
    auto* view = new CountingView<300>(&m_context, m_probe);
    view->Activate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.updates == 1; }))
        << "the first tick after Activate did not update";
    view->Deactivate();
    EXPECT_EQ(view->lastPoll(), 0u);
    view->Activate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.updates == 2; }))
        << "the first tick after Deactivate and Activate did not update";
    view->Deactivate();
    releaseAndWait(view);
}

TEST_F(WorkingThreadView, ReleaseDeletesOnceOnTheWorkingThread) {
    auto* view = new CountingView<0>(&m_context, m_probe);
    view->Activate();
    ASSERT_TRUE(qxtest::waitFor([&] { return m_probe.updates >= 1; }));
    view->Deactivate();
    releaseAndWait(view);
    EXPECT_EQ(m_probe.releases, 1);
    EXPECT_EQ(m_probe.destructions, 1);
    EXPECT_EQ(m_context.destroyedCount(), 1);
    EXPECT_NE(m_probe.deletedOn.load(), std::this_thread::get_id());
}

// Starts one download at its first update; notes whether the download's connection was
// already closed when its destructor ran.
class HeldDownloadView : public CQXViewPluginInstanceExWithDownloading<HeldDownloadView, 60000> {
public:
    HeldDownloadView(IQXViewPluginContext* context, qxtest::QXHttpTestServer& server,
                     std::atomic<bool>& progressed, std::atomic<int>& cancelledBeforeDeletion)
        : CQXViewPluginInstanceExWithDownloading(context), m_server(server),
          m_progressed(progressed), m_cancelledBeforeDeletion(cancelledBeforeDeletion) {}
    ~HeldDownloadView() override {
        // Only a download cancelled before this point closes the held connection.
        m_cancelledBeforeDeletion =
            qxtest::waitFor([&] { return m_server.abandonedCount() == 1; }) ? 1 : 0;
    }

    void Update() override {
        std::string url = m_server.url("/held");
        startDownload(std::u16string(url.begin(), url.end()).c_str());
    }
    void OnProgress(int64_t /*received*/, int64_t /*total*/) override { m_progressed = true; }
    void OnComplete(const unsigned char* /*body*/, size_t /*length*/) override {
        ADD_FAILURE() << "the held download completed";
    }

protected:
    uint32_t tickCount() const override { return 100000; }

private:
    qxtest::QXHttpTestServer& m_server;
    std::atomic<bool>& m_progressed;
    std::atomic<int>& m_cancelledBeforeDeletion;
};

TEST_F(WorkingThreadView, DownloadingViewCancelsItsDownloadBeforeDeletion) {
    // The downloader sets curl (and OpenSSL) up on the thread of its first call and keeps it
    // for the process; made on the working thread, OpenSSL's per-thread state of that set-up
    // is reported as a leak at exit, so the test thread makes it first.
    HttpDownloadingUnregisterTask(&m_idleTask);

    qxtest::QXHttpTestServer server;
    server.setRoute(
        "/held", {.contentType = "text/plain", .body = "0123456789", .hold = true, .holdAfter = 4});
    std::atomic<bool> progressed{false};
    std::atomic<int> cancelledBeforeDeletion{-1};
    auto* view = new HeldDownloadView(&m_context, server, progressed, cancelledBeforeDeletion);
    view->Activate();
    ASSERT_TRUE(qxtest::waitFor([&] { return progressed && server.heldCount() == 1; }))
        << "the update did not start the download";
    view->Deactivate();
    releaseAndWait(view);
    EXPECT_EQ(cancelledBeforeDeletion, 1)
        << "the download was still running when the view was deleted";
    EXPECT_EQ(server.requestCount("/held"), 1);
}

} // namespace
