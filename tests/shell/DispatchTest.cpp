#include "app/CQXMessageDispatch.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records what reaches it.
struct Recorder {
    std::vector<std::string>* log;
    std::string name;
    void plain() { log->push_back(name + ".plain"); }
    void other() { log->push_back(name + ".other"); }
    void withKey(unsigned key) { log->push_back(name + ".key" + std::to_string(key)); }
    void withText(const char16_t* text, long extra) {
        log->push_back(name + ".text" + std::to_string(std::u16string(text).size()) + "/" +
                       std::to_string(extra));
    }
};

enum class State { Connected = 0, Disconnected = 1 };
struct StateListener {
    State last = State::Connected;
    void changed(State state) { last = state; }
};

TEST(QXDispatchCore, OneBindingPerObjectAndMember) {
    QXDispatch dispatch;
    std::vector<std::string> log;
    Recorder a{&log, "a"}, b{&log, "b"};
    dispatch.RegisterHandler(QXM_LAYERS_CHANGED, &a, &Recorder::plain);
    dispatch.RegisterHandler(QXM_LAYERS_CHANGED, &a, &Recorder::plain);
    dispatch.RegisterHandler(QXM_LAYERS_CHANGED, &a, &Recorder::other);
    dispatch.RegisterHandler(QXM_LAYERS_CHANGED, &b, &Recorder::plain);
    EXPECT_EQ(dispatch.bindingCount(QXM_LAYERS_CHANGED), 3u);
    dispatch.Send(QXM_LAYERS_CHANGED);
    std::sort(log.begin(), log.end());
    EXPECT_EQ(log, (std::vector<std::string>{"a.other", "a.plain", "b.plain"}));
}

TEST(QXDispatchCore, ParametersReachTheMemberAsTheirTypes) {
    QXDispatch dispatch;
    std::vector<std::string> log;
    Recorder r{&log, "r"};
    StateListener listener;
    dispatch.RegisterHandler(QXM_KEY_CHANGED, &r, &Recorder::withKey);
    dispatch.RegisterHandler(QXM_OPEN_FILE, &r, &Recorder::withText);
    dispatch.RegisterHandler(QXM_DEVICE_STATE, &listener, &StateListener::changed);
    dispatch.Send(QXM_KEY_CHANGED, 42);
    const std::u16string path = u"/tmp/a.layers";
    dispatch.SendCopyData(QXM_OPEN_FILE, path.c_str(), (path.size() + 1) * 2);
    dispatch.SendCopyData(QXM_OPEN_FILE, nullptr, 10); // no data: not dispatched
    dispatch.Send(QXM_DEVICE_STATE, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"r.key42", "r.text13/0"}));
    EXPECT_EQ(listener.last, State::Disconnected);
}

TEST(QXDispatchCore, NothingRunsAfterUnregisterEvenMidDispatch) {
    QXDispatch dispatch;
    std::vector<std::string> log;
    Recorder victim{&log, "victim"};
    struct Killer {
        QXDispatch* dispatch;
        Recorder* victim;
        void run() { dispatch->UnregisterObject(victim); }
    } killer{&dispatch, &victim};
    // Whichever runs first, the victim must not be called once the killer has run.
    dispatch.RegisterHandler(QXM_CONDITIONS_CHANGED, &killer, &Killer::run);
    dispatch.RegisterHandler(QXM_CONDITIONS_CHANGED, &victim, &Recorder::plain);
    dispatch.Send(QXM_CONDITIONS_CHANGED);
    const size_t calls = log.size();
    EXPECT_LE(calls, 1u);
    dispatch.Send(QXM_CONDITIONS_CHANGED);
    EXPECT_EQ(log.size(), calls);
    EXPECT_EQ(dispatch.bindingCount(QXM_CONDITIONS_CHANGED), 1u);
    dispatch.UnregisterObject(&killer);
    EXPECT_EQ(dispatch.bindingCount(QXM_CONDITIONS_CHANGED), 0u);
}

TEST(QXDispatchCore, PostsRunLaterInOrder) {
    QXDispatch dispatch;
    std::vector<std::string> log;
    Recorder r{&log, "r"};
    dispatch.RegisterHandler(QXM_KEY_CHANGED, &r, &Recorder::withKey);
    dispatch.Post(QXM_KEY_CHANGED, 1);
    dispatch.Post(QXM_KEY_CHANGED, 2);
    EXPECT_TRUE(log.empty());
    dispatch.runPosted();
    EXPECT_EQ(log, (std::vector<std::string>{"r.key1", "r.key2"}));
}

// A window that records the messages it was subscribed to.
class RecordingWindow : public QObject {
public:
    explicit RecordingWindow(std::vector<std::string>* log) : m_log(log) {}
    bool event(QEvent* e) override {
        if (e->type() == QXDispatchEvent::type()) {
            auto* d = static_cast<QXDispatchEvent*>(e);
            m_log->push_back("window." + std::to_string(d->message()) + "/" +
                             std::to_string(d->wParam()));
            return true;
        }
        return QObject::event(e);
    }

private:
    std::vector<std::string>* m_log;
};

class DispatchWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "dispatch_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }
    // Runs the event loop until the condition holds.
    static bool spinUntil(const std::function<bool()>& condition) {
        return qxtest::waitFor([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }
};

TEST_F(DispatchWindowTest, SubscribedWindowsGetTheMessageAfterTheBindings) {
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    CQXMessageDispatch dispatch;
    EXPECT_EQ(dispatch.objectName(), "QXDispatch Window");
    EXPECT_EQ(&QXDispatch::current(), &dispatch);
    std::vector<std::string> log;
    Recorder r{&log, "binding"};
    auto window = std::make_unique<RecordingWindow>(&log);
    dispatch.RegisterHandler(QXM_KEY_CHANGED, &r, &Recorder::withKey);
    dispatch.SubscribeWindow(QXM_KEY_CHANGED, window.get());
    dispatch.SubscribeWindow(QXM_KEY_CHANGED, window.get());
    dispatch.Send(QXM_KEY_CHANGED, 7);
    EXPECT_EQ(log, (std::vector<std::string>{"binding.key7", "window.2043/7"}));

    log.clear();
    window.reset(); // deleted without unsubscribing: skipped
    dispatch.Send(QXM_KEY_CHANGED, 8);
    EXPECT_EQ(log, (std::vector<std::string>{"binding.key8"}));
}

TEST_F(DispatchWindowTest, SendFromAWorkerReturnsOnlyAfterTheGuiThreadRanTheHandler) {
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    CQXMessageDispatch dispatch;
    struct Handler {
        std::atomic<int> runs{0};
        std::atomic<bool> onGuiThread{false};
        void run(unsigned) {
            onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            ++runs;
        }
    } handler;
    dispatch.RegisterHandler(QXM_KEY_CHANGED, &handler, &Handler::run);
    std::atomic<int> seenAfterSend{-1};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        dispatch.Send(QXM_KEY_CHANGED, 3);
        seenAfterSend = handler.runs.load();
        dispatch.Post(QXM_KEY_CHANGED, 4);
        done = true;
    });
    EXPECT_TRUE(spinUntil([&] { return done && handler.runs == 2; }));
    worker.join();
    EXPECT_EQ(seenAfterSend, 1) << "the send waited for the handler";
    EXPECT_TRUE(handler.onGuiThread);
}

TEST_F(DispatchWindowTest, AWorkerSendingWhileTheGuiThreadWaitsForItDoesNotDeadlock) {
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    CQXMessageDispatch dispatch;
    struct Handler {
        int runs = 0;
        void run() { ++runs; }
    } handler;
    dispatch.RegisterHandler(QXM_VIEW_IMAGE_CHANGED, &handler, &Handler::run);
    {
        // The GUI thread waits for a worker that sends meanwhile, as when a view is
        // deactivated while its tick publishes a picture.
        QXDispatch::GuiWait waiting;
        std::thread worker([&] { dispatch.Send(QXM_VIEW_IMAGE_CHANGED); });
        worker.join();
    }
    EXPECT_EQ(handler.runs, 0);
    EXPECT_TRUE(spinUntil([&] { return handler.runs == 1; })) << "the message is not lost";
}

TEST_F(DispatchWindowTest, CloseDestroysTheWindowAndHelpShowsTheMainWindow) {
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    CQXMessageDispatch dispatch;
    std::vector<std::string> log;
    Recorder shower{&log, "show"}, destroyed{&log, "destroy"};
    dispatch.RegisterHandler(QXM_SHOW_MAIN_WINDOW, &shower, &Recorder::plain);
    dispatch.RegisterHandler(qxwin::WM_DESTROY, &destroyed, &Recorder::plain);
    dispatch.Send(qxwin::WM_COMMAND, qxwin::IDHELP);
    EXPECT_EQ(log, (std::vector<std::string>{"show.plain"}));
    dispatch.Post(qxwin::WM_CLOSE);
    EXPECT_TRUE(spinUntil([&] { return dispatch.destroyed(); }));
    EXPECT_EQ(log.back(), "destroy.plain");
    dispatch.Send(QXM_SHOW_MAIN_WINDOW);
    EXPECT_EQ(log.size(), 2u) << "a destroyed window dispatches nothing";
}

} // namespace
