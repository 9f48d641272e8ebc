#include "platform/QXText.h"
#include "support/QXHttpTestServer.h"
#include "support/QXTestSupport.h"
#include "utility/utility.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Runs after the library's own exit-time destructors (it is registered before the
// library's threads exist); from then on nothing may call into the program.
std::atomic<bool> g_libraryShutDown{false};

// Objects with static storage and trivial destructors: they stay valid during exit, so a
// late call is detected instead of being undefined behaviour.
struct BusyListener final : IWorkingThreadListener {
    void tick() override { ++ticks; }
    void release() override { ::_exit(5); } // never freed: must not be released at exit
    std::atomic<int> ticks{0};
} g_listener;

struct HeldTask final : IDownloadTask {
    void OnResponse(int) override { check(); }
    void OnFailed(int, int) override { check(); }
    int OnContentType(const char16_t*) override {
        check();
        return 1;
    }
    void OnProgress(int64_t, int64_t) override { check(); }
    void OnTransferEnd(int, int64_t) override { check(); }
    void OnComplete(const unsigned char*, size_t) override { check(); }
    static void check() {
        if (g_libraryShutDown)
            ::_exit(6);
    }
} g_task;

void exitWhileBusy() {
    std::atexit([] {
        g_libraryShutDown = true;
        // Three tick periods without a tick: the working thread has really stopped.
        int ticks = g_listener.ticks;
        if (qxtest::waitFor([ticks] { return g_listener.ticks != ticks; },
                            std::chrono::milliseconds(300)))
            ::_exit(4);
    });
    // Never destroyed: its threads keep the held response open through the exit.
    static auto* server = new qxtest::QXHttpTestServer;
    server->setRoute("/held", {.body = "never finished", .hold = true, .holdAfter = 3});
    WorkingThreadAddListener(&g_listener);
    HttpDownloadingRegisterTask(&g_task, fromUtf8(server->url("/held")).c_str(), u"", u"");
    if (!qxtest::waitFor([] { return g_listener.ticks > 0 && server->heldCount() == 1; }))
        ::_exit(3);
    std::exit(0);
}

TEST(ProcessExitTest, ExitWithTicksAndDownloadsRunningIsClean) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exitWhileBusy(), ::testing::ExitedWithCode(0), "");
}

} // namespace
