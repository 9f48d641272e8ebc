// The program itself, started twice on a private X server.
#include "app/QXSingleInstance.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"
#include "support/QXXvfb.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qxtest::ChildProcess;

namespace {

const std::string kTitle = "Tessera Quadrix Configurator";

class QxcfgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "qxcfg_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override {
        if (!qxtest::QXXvfb::available())
            GTEST_SKIP() << "Xvfb is not installed";
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
        m_xvfb = std::make_unique<qxtest::QXXvfb>();
        ASSERT_EQ(m_xvfb->error(), "");
    }

    std::vector<std::string> qxcfg(std::vector<std::string> args) {
        args.insert(args.begin(), std::string(QX_PROGRAM_DIR) + "/qxcfg");
        return args;
    }

    QXSingleInstance& instance() { return m_instance; }

    // The running copy answers on its socket.
    bool answers() {
        QXSingleInstance probe(m_dir / "run", fastProbe());
        return fs::exists(probe.socketPath()) && probe.postToRunning(0);
    }

    static QXSingleInstance::Timings fastProbe() {
        QXSingleInstance::Timings t;
        t.findRetry = 10ms;
        return t;
    }

    bool windowShown() {
        return qxtest::runProgram({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", kTitle})
                   .exitStatus == 0;
    }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_runtime{"XDG_RUNTIME_DIR", (m_dir / "run").string()};
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "config").string()};
    qxtest::ScopedEnv m_platform{"QT_QPA_PLATFORM", "xcb"};
    std::unique_ptr<qxtest::QXXvfb> m_xvfb;
    QXSingleInstance m_instance{m_dir / "run", {}};
};

TEST_F(QxcfgTest, ASecondStartShowsTheFirstCopysWindowAndEnds) {
    ChildProcess first(qxcfg({"/minimized"}));
    ASSERT_TRUE(qxtest::waitFor([&] { return answers(); })) << "the first copy listens";
    EXPECT_FALSE(windowShown()) << "started minimized";

    qxtest::ProgramResult second = qxtest::runProgram(qxcfg({}));
    EXPECT_EQ(second.exitStatus, 0) << second.err;
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(qxtest::waitFor([&] { return windowShown(); })) << "the first copy showed itself";
}

TEST_F(QxcfgTest, RestartClosesTheRunningCopyAndTakesOver) {
    ChildProcess first(qxcfg({"-minimized"}));
    ASSERT_TRUE(qxtest::waitFor([&] { return answers(); }));
    ChildProcess second(qxcfg({"-minimized", "-restart"}));
    EXPECT_TRUE(first.waitForExit()) << "the running copy ended";
    EXPECT_EQ(first.exitStatus(), 0);
    EXPECT_TRUE(qxtest::waitFor([&] { return answers(); })) << "the new copy took over";
    EXPECT_TRUE(second.running());
}

TEST_F(QxcfgTest, RestartGivesUpWhenTheRunningCopyWillNotEnd) {
    // A stand-in that holds the lock and ignores WM_CLOSE.
    QXDispatch ignoring;
    ASSERT_TRUE(instance().claim(CQXCommandLineInfo()));
    ASSERT_TRUE(instance().listen(ignoring));
    const auto started = std::chrono::steady_clock::now();
    ChildProcess restart(qxcfg({"-minimized", "-restart"}));
    EXPECT_TRUE(qxtest::waitFor(
        [&] {
            QCoreApplication::processEvents();
            return !restart.running();
        },
        30s));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 6900ms) << "it waited the full 7000 ms";
    EXPECT_EQ(restart.exitStatus(), 0);
    EXPECT_FALSE(windowShown());
}

} // namespace
