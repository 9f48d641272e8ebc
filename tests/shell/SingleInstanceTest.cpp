#include "app/CQXCommandLineInfo.h"
#include "app/QXSingleInstance.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "support/QXTestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

TEST(CommandLine, FlagsInAnyCaseAndTheLastLayersFileWithItsCase) {
    CQXCommandLineInfo a({"/MINIMIZED", "first.layers", "-Restart", "/home/Me/Second.LAYERS"});
    EXPECT_TRUE(a.minimized());
    EXPECT_TRUE(a.restart());
    EXPECT_EQ(a.layersFile(), "/home/Me/Second.LAYERS") << "a path starting with / is no flag";
    CQXCommandLineInfo b({"-minimizedx", "notes.txt", "/restart/x"});
    EXPECT_FALSE(b.minimized());
    EXPECT_FALSE(b.restart());
    EXPECT_EQ(b.layersFile(), "");
}

// The first copy's side runs on this thread's event loop; a later copy's claim runs
// on a thread of its own, as it would in its own process.
class SingleInstanceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "single_instance_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    SingleInstanceTest() : m_first(m_dir.path(), fast()) {
        m_dispatch.RegisterHandler(QXM_SHOW_MAIN_WINDOW, this, &SingleInstanceTest::shown);
        m_dispatch.RegisterHandler(QXM_OPEN_FILE, this, &SingleInstanceTest::opened);
        m_dispatch.RegisterHandler(qxwin::WM_CLOSE, this, &SingleInstanceTest::closed);
    }

    static QXSingleInstance::Timings fast() {
        QXSingleInstance::Timings t;
        t.copyDataDelay = 10ms;
        t.findRetry = 50ms;
        t.restartWait = 1500ms;
        return t;
    }

    // Runs a later copy's claim while this thread serves the first copy.
    bool claimAsSecond(const CQXCommandLineInfo& commandLine, QXSingleInstance& second) {
        std::atomic<int> result{-1};
        std::thread later([&] { result = second.claim(commandLine) ? 1 : 0; });
        bool finished = qxtest::waitFor([&] {
            QCoreApplication::processEvents();
            m_dispatch.runPosted();
            return result != -1;
        });
        later.join();
        return finished && result == 1;
    }

    // Runs a later copy's message on a thread of its own while this thread serves.
    bool postAsSecond(QXSingleInstance& second, uint32_t message) {
        std::atomic<int> result{-1};
        std::thread later([&] { result = second.postToRunning(message) ? 1 : 0; });
        qxtest::waitFor([&] {
            QCoreApplication::processEvents();
            return result != -1;
        });
        later.join();
        return result == 1;
    }

    void shown() { ++m_shown; }
    void opened(const char16_t* path) { m_opened.push_back(path); }
    void closed() {
        ++m_closes;
        if (m_releaseOnClose)
            m_firstCopy.reset();
    }

    qxtest::TempDir m_dir;
    QXDispatch m_dispatch;
    QXSingleInstance m_first;
    std::unique_ptr<QXSingleInstance> m_firstCopy;
    bool m_releaseOnClose = false;
    int m_shown = 0, m_closes = 0;
    std::vector<std::u16string> m_opened;
};

TEST_F(SingleInstanceTest, ASecondCopyHandsOverAndEnds) {
    ASSERT_TRUE(m_first.claim(CQXCommandLineInfo()));
    ASSERT_TRUE(m_first.listen(m_dispatch));
    QXSingleInstance second(m_dir.path(), fast());
    EXPECT_FALSE(claimAsSecond(CQXCommandLineInfo(), second));
    EXPECT_TRUE(qxtest::waitFor([&] {
        QCoreApplication::processEvents();
        m_dispatch.runPosted();
        return m_shown == 1;
    }));

    QXSingleInstance third(m_dir.path(), fast());
    ASSERT_EQ(::chdir(m_dir.path().c_str()), 0);
    EXPECT_FALSE(claimAsSecond(CQXCommandLineInfo({"My Set.LAYERS"}), third));
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0], fromPath(m_dir / "My Set.LAYERS")) << "handed over as a full path";
    EXPECT_EQ(m_shown, 1);
    ASSERT_EQ(::chdir("/"), 0);
}

TEST_F(SingleInstanceTest, AStartWhileTheRunningCopyEndsWaitsAndStartsInItsPlace) {
    m_firstCopy = std::make_unique<QXSingleInstance>(m_dir.path(), fast());
    ASSERT_TRUE(m_firstCopy->claim(CQXCommandLineInfo()));
    ASSERT_TRUE(m_firstCopy->listen(m_dispatch));
    m_firstCopy->stopListening(); // it is shutting down

    // While it still holds the lock the later copy waits, and gives up only after the
    // restart wait.
    QXSingleInstance patient(m_dir.path(), fast());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(claimAsSecond(CQXCommandLineInfo({"/tmp/Set.layers"}), patient));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1500ms);
    EXPECT_NE(patient.failure().find("/tmp/Set.layers was not imported"), std::string::npos)
        << "an unanswered hand-over is a failure, not a silent end: " << patient.failure();

    // Once it ends, the later copy becomes the first, file and all.
    QXSingleInstance next(m_dir.path(), fast());
    std::atomic<int> result{-1};
    std::thread later([&] { result = next.claim(CQXCommandLineInfo({"/tmp/Set.layers"})) ? 1 : 0; });
    m_firstCopy.reset();
    later.join();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(m_opened.empty()) << "nothing was handed to the ending copy";
}

TEST_F(SingleInstanceTest, RestartTakesOverWhenTheRunningCopyEndsAndGivesUpOtherwise) {
    m_firstCopy = std::make_unique<QXSingleInstance>(m_dir.path(), fast());
    ASSERT_TRUE(m_firstCopy->claim(CQXCommandLineInfo()));
    ASSERT_TRUE(m_firstCopy->listen(m_dispatch));

    QXSingleInstance stubborn(m_dir.path(), fast());
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(claimAsSecond(CQXCommandLineInfo({"-restart"}), stubborn))
        << "the running copy ignored WM_CLOSE";
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1500ms);
    EXPECT_EQ(m_closes, 1);

    m_releaseOnClose = true;
    QXSingleInstance taker(m_dir.path(), fast());
    EXPECT_TRUE(claimAsSecond(CQXCommandLineInfo({"-restart"}), taker));
    EXPECT_EQ(m_closes, 2);
}

TEST_F(SingleInstanceTest, LeftoversOfACrashedCopyDoNotStopTheNextStart) {
    pid_t child = ::fork();
    if (child == 0) {
        QXSingleInstance crashed(m_dir.path(), fast());
        bool ok = crashed.claim(CQXCommandLineInfo());
        // A bound socket left behind, as a crash would leave it.
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, crashed.socketPath().c_str(), sizeof address.sun_path - 1);
        ok = ok && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(fs::exists(m_first.socketPath()));
    EXPECT_TRUE(m_first.claim(CQXCommandLineInfo())) << "the lock died with its holder";
    EXPECT_TRUE(m_first.listen(m_dispatch)) << "the stale socket is replaced";
    QXSingleInstance second(m_dir.path(), fast());
    EXPECT_FALSE(claimAsSecond(CQXCommandLineInfo(), second));
}

// Writes raw bytes to the first copy's socket.
bool sendRaw(const fs::path& socketPath, const std::string& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    ::close(fd);
    return ok;
}

std::string frame(uint32_t message, uint32_t dwData, const std::string& payload,
                  uint32_t declaredSize) {
    std::string out = "QXD1";
    for (uint32_t v : {message, dwData, declaredSize})
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return out + payload;
}

TEST_F(SingleInstanceTest, MalformedHandOversAreDroppedAndServiceGoesOn) {
    ASSERT_TRUE(m_first.claim(CQXCommandLineInfo()));
    ASSERT_TRUE(m_first.listen(m_dispatch));
    const std::string path(reinterpret_cast<const char*>(u"/x.layers"), 18); // no terminator
    const std::vector<std::string> bad = {
        "garbage that is long enough",
        frame(qxwin::WM_COPYDATA, QXM_OPEN_FILE, path, 18),
        frame(qxwin::WM_COPYDATA, QXM_OPEN_FILE, std::string(9, 'a'), 9), // odd size
        frame(qxwin::WM_COPYDATA, QXM_KEY_CHANGED, std::string(4, '\0'), 4),
        frame(qxwin::WM_COPYDATA, QXM_OPEN_FILE, "", 1u << 30), // oversized
        frame(QXM_LAYERS_CHANGED, 0, "", 0),                     // not a hand-over
        frame(QXM_SHOW_MAIN_WINDOW, 0, "", 0).substr(0, 10),     // cut short
    };
    for (const std::string& bytes : bad)
        ASSERT_TRUE(sendRaw(m_first.socketPath(), bytes));
    QXSingleInstance second(m_dir.path(), fast());
    EXPECT_TRUE(postAsSecond(second, QXM_SHOW_MAIN_WINDOW));
    EXPECT_FALSE(postAsSecond(second, QXM_LAYERS_CHANGED)) << "not taken, so not answered";
    EXPECT_TRUE(qxtest::waitFor([&] {
        QCoreApplication::processEvents();
        m_dispatch.runPosted();
        return m_shown == 1;
    }));
    EXPECT_TRUE(m_opened.empty());
}

// The lowest descriptor number not in use: a limit at it leaves no handle to spare.
int lowestFreeDescriptor() {
    int fd = 0;
    while (::fcntl(fd, F_GETFD) >= 0)
        ++fd;
    return fd;
}

TEST_F(SingleInstanceTest, RunningOutOfHandlesPausesTheHandOverButNeverEndsIt) {
    ASSERT_TRUE(m_first.claim(CQXCommandLineInfo()));
    ASSERT_TRUE(m_first.listen(m_dispatch));
    std::atomic<bool> outOfHandles{false};
    const int observer = QXLog::addObserver([&](QXLogLevel, const char*, std::string_view text) {
        if (text.find("out of file handles") != std::string_view::npos)
            outOfHandles = true;
    });

    // A later copy is queued, its message sent, when the first copy has no handle left to
    // take it in.
    const int caller = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_first.socketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(caller, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string message = frame(QXM_SHOW_MAIN_WINDOW, 0, "", 0);
    ASSERT_EQ(::send(caller, message.data(), message.size(), MSG_NOSIGNAL), ssize_t(message.size()));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFreeDescriptor());
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool refused = qxtest::waitFor([&] {
        QCoreApplication::processEvents();
        return outOfHandles.load();
    });
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    QXLog::removeObserver(observer);
    ASSERT_TRUE(refused) << "the accept failed for want of handles";

    // With handles free again the queued caller gets its answer, and later ones are served.
    EXPECT_TRUE(qxtest::waitFor([&] {
        QCoreApplication::processEvents();
        m_dispatch.runPosted();
        pollfd p{caller, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && m_shown == 1;
    }));
    char answer = 0;
    EXPECT_EQ(::recv(caller, &answer, 1, 0), 1);
    EXPECT_EQ(answer, '\x01');
    ::close(caller);
    QXSingleInstance later(m_dir.path(), fast());
    EXPECT_FALSE(claimAsSecond(CQXCommandLineInfo({"/tmp/After.layers"}), later));
    EXPECT_EQ(later.failure(), "");
    ASSERT_EQ(m_opened.size(), 1u) << "the listening socket is still there";
    EXPECT_EQ(m_opened[0], u"/tmp/After.layers");
}

} // namespace
