#include "platform/QXText.h"
#include "support/QXHttpTestServer.h"
#include "support/QXTestSupport.h"
#include "utility/utility.h"

#include <atomic>
#include <curl/curl.h>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Server = qxtest::QXHttpTestServer;

// Records every callback as one line of text ("response 200", "progress 10/20", ...).
class RecordingTask : public IDownloadTask {
public:
    virtual ~RecordingTask() { HttpDownloadingUnregisterTask(this); }

    void OnResponse(int httpStatus) override { record("response " + std::to_string(httpStatus)); }
    void OnFailed(int error, int httpStatus) override {
        record("failed " + std::to_string(error) + " " + std::to_string(httpStatus));
        finished = true;
    }
    int OnContentType(const char16_t* contentType) override {
        record("type " + toUtf8(contentType));
        return acceptContent ? 1 : 0;
    }
    void OnProgress(int64_t received, int64_t total) override {
        record("progress " + std::to_string(received) + "/" + std::to_string(total));
        if (onProgress)
            onProgress();
    }
    void OnTransferEnd(int httpStatus, int64_t length) override {
        record("end " + std::to_string(httpStatus) + " " + std::to_string(length));
    }
    void OnComplete(const unsigned char* data, size_t length) override {
        {
            std::lock_guard lock(m_mutex);
            m_body.assign(reinterpret_cast<const char*>(data), length);
        }
        record("complete");
        finished = true;
    }

    bool start(const std::string& url, const std::u16string& user = u"",
               const std::u16string& password = u"") {
        return HttpDownloadingRegisterTask(this, fromUtf8(url).c_str(), user.c_str(),
                                           password.c_str()) == 1;
    }
    // Cancels, and from then on counts any callback as a fault.
    void stop() {
        HttpDownloadingUnregisterTask(this);
        unregistered = true;
    }

    std::vector<std::string> events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::string body() {
        std::lock_guard lock(m_mutex);
        return m_body;
    }
    std::set<std::thread::id> threads() {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }
    bool sawProgress() {
        for (const std::string& event : events())
            if (event.starts_with("progress"))
                return true;
        return false;
    }

    std::atomic<bool> finished{false};
    std::atomic<bool> unregistered{false};
    std::atomic<int> lateCallbacks{0};
    bool acceptContent = true;
    std::function<void()> onProgress;

private:
    void record(std::string event) {
        if (unregistered)
            ++lateCallbacks;
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
        m_threads.insert(std::this_thread::get_id());
    }

    std::mutex m_mutex;
    std::vector<std::string> m_events;
    std::string m_body;
    std::set<std::thread::id> m_threads;
};

std::string randomBytes(size_t size) {
    std::mt19937 random(11);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Checks the documented order: response, type, progress*, end, complete; progress
// figures grow and stop at the body's length.
void expectCompleteInOrder(const std::vector<std::string>& events, int64_t length, int64_t total) {
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0], "response 200");
    EXPECT_TRUE(events[1].starts_with("type ")) << events[1];
    int64_t last = 0;
    for (size_t i = 2; i + 2 < events.size(); ++i) {
        int64_t received = 0;
        int64_t announced = 0;
        ASSERT_EQ(std::sscanf(events[i].c_str(), "progress %ld/%ld", &received, &announced), 2)
            << events[i];
        EXPECT_GT(received, last);
        EXPECT_EQ(announced, total);
        last = received;
    }
    EXPECT_EQ(last, length);
    EXPECT_EQ(events[events.size() - 2], "end 200 " + std::to_string(length));
    EXPECT_EQ(events.back(), "complete");
}

class HttpDownloadingTest : public ::testing::Test {
protected:
    qxtest::ScopedEnv m_noProxy{"no_proxy", "127.0.0.1,localhost"};
    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_dataHome{"XDG_DATA_HOME", (m_dir / "data").string()};
    Server m_server;
};

TEST_F(HttpDownloadingTest, DeliversTheBodyWithProgressUpToTheTotal) {
    const std::string body = randomBytes(300000);
    m_server.setRoute("/data", {.contentType = "application/octet-stream",
                                .body = body,
                                .pieceSize = 50000,
                                .piecePause = 5ms});
    RecordingTask task;
    ASSERT_TRUE(task.start(m_server.url("/data")));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    EXPECT_EQ(task.body(), body);
    expectCompleteInOrder(task.events(), 300000, 300000);
    EXPECT_EQ(task.events()[1], "type application/octet-stream");
    auto threads = task.threads();
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u) << "called on the caller's thread";
}

TEST_F(HttpDownloadingTest, BodyWithoutLengthHasNoTotal) {
    m_server.setRoute("/chunked", {.contentType = "text/xml; charset=UTF-8",
                                   .body = std::string(70000, 'c'),
                                   .chunked = true,
                                   .pieceSize = 20000});
    m_server.setRoute("/until-close", {.body = "read until the end", .noContentLength = true});

    RecordingTask chunked;
    RecordingTask untilClose;
    ASSERT_TRUE(chunked.start(m_server.url("/chunked")));
    ASSERT_TRUE(untilClose.start(m_server.url("/until-close")));
    ASSERT_TRUE(qxtest::waitFor([&] { return chunked.finished && untilClose.finished; }));
    expectCompleteInOrder(chunked.events(), 70000, 0);
    EXPECT_EQ(chunked.events()[1], "type text/xml; charset=UTF-8");
    expectCompleteInOrder(untilClose.events(), 18, 0);
    EXPECT_EQ(untilClose.events()[1], "type ") << "no Content-Type means an empty type";
}

TEST_F(HttpDownloadingTest, RedirectIsFollowedAndOnlyTheFinalResponseReported) {
    m_server.setRoute("/old", {.status = 302,
                               .contentType = "text/html",
                               .headers = {{"Location", "/new"}},
                               .body = "moved"});
    m_server.setRoute("/new", {.contentType = "text/plain", .body = "here"});
    RecordingTask task;
    ASSERT_TRUE(task.start(m_server.url("/old")));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    EXPECT_EQ(task.events(), (std::vector<std::string>{"response 200", "type text/plain",
                                                       "progress 4/4", "end 200 4", "complete"}));
    EXPECT_EQ(m_server.requestCount("/new"), 1);
}

TEST_F(HttpDownloadingTest, ErrorStatusFails) {
    RecordingTask task;
    ASSERT_TRUE(task.start(m_server.url("/nothing-here")));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    EXPECT_EQ(task.events(), (std::vector<std::string>{"response 404", "failed 0 404"}));
}

TEST_F(HttpDownloadingTest, RefusedConnectionFails) {
    Server::RefusingPort closed;
    RecordingTask task;
    ASSERT_TRUE(task.start("http://127.0.0.1:" + std::to_string(closed.port()) + "/"));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    EXPECT_EQ(task.events(),
              (std::vector<std::string>{"failed " + std::to_string(CURLE_COULDNT_CONNECT) + " 0"}));
}

TEST_F(HttpDownloadingTest, ContentTypeRefusalStopsTheDownload) {
    m_server.setRoute("/page", {.contentType = "text/html", .body = std::string(5000, 'h')});
    RecordingTask task;
    task.acceptContent = false;
    ASSERT_TRUE(task.start(m_server.url("/page")));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    EXPECT_EQ(task.events(),
              (std::vector<std::string>{"response 200", "type text/html", "failed 0 200"}));
}

TEST_F(HttpDownloadingTest, SendsBasicAuthWithTheProtectedPassword) {
    std::u16string sealed(512, u'\0');
    ASSERT_EQ(PassProtect(u"pä55", sealed.data(), 512), 1);
    m_server.setRoute("/feed", {.contentType = "application/atom+xml", .body = "<feed/>"});
    RecordingTask task;
    ASSERT_TRUE(task.start(m_server.url("/feed"), u"ann", sealed.c_str()));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    ASSERT_EQ(task.events().back(), "complete");
    ASSERT_EQ(m_server.requests().size(), 1u);
    EXPECT_EQ(m_server.requests()[0].header("Authorization"), "Basic YW5uOnDDpDU1");
}

TEST_F(HttpDownloadingTest, UnreadablePasswordFailsWithoutARequest) {
    RecordingTask task;
    ASSERT_TRUE(task.start(m_server.url("/feed"), u"ann", u"bm90IHByb3RlY3RlZA=="));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    EXPECT_EQ(task.events(), (std::vector<std::string>{"failed 0 0"}));
    EXPECT_EQ(m_server.requestCount(), 0);
}

TEST_F(HttpDownloadingTest, UnregisterDuringAHeldResponseEndsAllCallbacks) {
    m_server.setRoute("/held", {.body = std::string(1000, 'b'), .hold = true, .holdAfter = 100});
    RecordingTask task;
    ASSERT_TRUE(task.start(m_server.url("/held")));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.sawProgress(); }));
    task.stop();
    // The library must hang up rather than let the connection run on.
    ASSERT_TRUE(qxtest::waitFor([&] { return m_server.abandonedCount() == 1; }));
    m_server.releaseHeld();
    EXPECT_EQ(task.lateCallbacks, 0);
    EXPECT_FALSE(task.finished);
}

TEST_F(HttpDownloadingTest, UnregisterWaitsForACallbackInProgress) {
    m_server.setRoute("/held", {.body = std::string(1000, 'b'), .hold = true, .holdAfter = 100});
    RecordingTask task;
    std::atomic<bool> inCallback{false};
    std::atomic<bool> unregistering{false};
    std::atomic<bool> callbackDone{false};
    task.onProgress = [&] {
        inCallback = true;
        qxtest::waitFor([&] { return unregistering.load(); }, 10s);
        auto until = std::chrono::steady_clock::now() + 50ms;
        while (std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        callbackDone = true;
    };
    ASSERT_TRUE(task.start(m_server.url("/held")));
    ASSERT_TRUE(qxtest::waitFor([&] { return inCallback.load(); }));
    unregistering = true;
    task.stop();
    EXPECT_TRUE(callbackDone) << "Unregister returned while a callback was running";
    ASSERT_TRUE(qxtest::waitFor([&] { return m_server.abandonedCount() == 1; }));
    EXPECT_EQ(task.lateCallbacks, 0);
}

TEST_F(HttpDownloadingTest, UnregisterFromInsideACallback) {
    m_server.setRoute("/held", {.body = std::string(1000, 'b'), .hold = true, .holdAfter = 100});
    RecordingTask task;
    task.onProgress = [&] { task.stop(); };
    ASSERT_TRUE(task.start(m_server.url("/held")));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.unregistered.load(); }));
    ASSERT_TRUE(qxtest::waitFor([&] { return m_server.abandonedCount() == 1; }));
    m_server.releaseHeld();
    EXPECT_EQ(task.lateCallbacks, 0);
    EXPECT_EQ(task.events(),
              (std::vector<std::string>{"response 200", "type ", "progress 100/1000"}));
}

TEST_F(HttpDownloadingTest, RegisteringAgainCancelsTheEarlierDownload) {
    m_server.setRoute("/held", {.status = 203, .body = "never seen", .hold = true});
    m_server.setRoute("/now", {.body = "fresh"});
    RecordingTask task;
    ASSERT_TRUE(task.start(m_server.url("/held")));
    ASSERT_TRUE(qxtest::waitFor([&] { return m_server.heldCount() == 1; }));
    ASSERT_TRUE(task.start(m_server.url("/now")));
    ASSERT_TRUE(qxtest::waitFor([&] { return task.finished.load(); }));
    ASSERT_TRUE(qxtest::waitFor([&] { return m_server.abandonedCount() == 1; }));
    EXPECT_EQ(task.body(), "fresh");
    // The first download may have got as far as its headers before it was cancelled.
    auto events = task.events();
    if (!events.empty() && events[0] == "response 203")
        events.erase(events.begin(),
                     events.begin() + (events.size() > 1 && events[1] == "type " ? 2 : 1));
    expectCompleteInOrder(events, 5, 5);
}

} // namespace
