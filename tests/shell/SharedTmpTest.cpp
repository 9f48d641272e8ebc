// Without XDG_RUNTIME_DIR the program's folders live in the shared temporary folder, where
// another user may have made them first: such folders are refused by name, never used.
#include "app/QXSingleInstance.h"
#include "platform/QXWin32.h"
#include "support/QXTestSupport.h"

#include <future>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qxtest::ProgramResult;
using qxtest::waitFor;

namespace {

const std::string kBin = QX_PROGRAM_DIR;

class SharedTmpTest : public ::testing::Test {
protected:
    SharedTmpTest() {
        // A temporary folder like /tmp: everyone may create in it, nobody may remove
        // another's entries.
        fs::permissions(m_dir.path(), fs::perms::all | fs::perms::sticky_bit);
    }

    // Runs a shell command as the user "nobody".
    static ProgramResult asNobody(const std::string& command) {
        return qxtest::runProgram({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                   "/bin/sh", "-c", command});
    }

    fs::path tmp(const std::string& name) const { return m_dir / (name + std::to_string(::getuid())); }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_runtime{"XDG_RUNTIME_DIR", ""};
    qxtest::ScopedEnv m_tmp{"TMPDIR", m_dir.path().string()};
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "config").string()};
    qxtest::ScopedEnv m_platform{"QT_QPA_PLATFORM", "offscreen"};
    qxtest::ScopedEnv m_display{"DISPLAY", ""};
};

TEST_F(SharedTmpTest, FoldersAnotherUserMadeFirstAreRefusedByName) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "planting folders as another user needs root (setpriv to nobody)";
    const fs::path victim = m_dir / "victim";
    qxtest::writeFile(victim, "the user's own file");
    const fs::path instance = tmp("TesseraQuadrix-").string() + ".run";
    const fs::path temporary = tmp("TesseraQuadrix-");
    const fs::path keyboards = tmp("TesseraQuadrix-virtual-");
    const fs::path dynamic = keyboards / "kb" / "disk" / "vTessera" / "dynamic";
    const ProgramResult planted = asNobody(
        "umask 0 && mkdir '" + instance.string() + "' '" + temporary.string() + "' && mkdir -p '" +
        dynamic.string() + "' && ln -s '" + victim.string() + "' '" + (dynamic / "001.sys").string() + "'");
    ASSERT_EQ(planted.exitStatus, 0) << planted.err;

    // Without its own lock folder the program does not start: the check would be off.
    const ProgramResult refused = qxtest::runProgram({kBin + "/qxcfg", "/minimized"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_NE(refused.err.find(instance.string()), std::string::npos) << refused.err;

    const ProgramResult keyboard = qxtest::runProgram({kBin + "/qxvkbd", "--name", "kb", "--no-window"});
    EXPECT_EQ(keyboard.exitStatus, 1);
    EXPECT_NE(keyboard.err.find(keyboards.string()), std::string::npos) << keyboard.err;

    // With the lock folder its own, the program runs, but drives no keyboard from the
    // planted folder and unpacks nothing into the planted temporary folder.
    ASSERT_EQ(asNobody("rmdir '" + instance.string() + "'").exitStatus, 0);
    auto run = std::async(std::launch::async,
                          [&] { return qxtest::runProgram({kBin + "/qxcfg", "/minimized"}); });
    QXSingleInstance::Timings fast;
    fast.findRetry = 10ms;
    QXSingleInstance probe(instance, fast);
    ASSERT_TRUE(waitFor([&] { return fs::exists(probe.socketPath()) && probe.postToRunning(0); }));
    ASSERT_TRUE(probe.postToRunning(qxwin::WM_CLOSE));
    const ProgramResult ran = run.get();
    EXPECT_EQ(ran.exitStatus, 0) << ran.err;
    EXPECT_NE(ran.err.find(keyboards.string()), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find(temporary.string()), std::string::npos) << ran.err;
    EXPECT_EQ(qxtest::readFile(victim), "the user's own file");

    const ProgramResult imported = qxtest::runProgram(
        {kBin + "/qxctl", "--profile", (m_dir / "other").string(), "import", victim.string()});
    EXPECT_EQ(imported.exitStatus, 1);
    EXPECT_NE(imported.err.find(temporary.string()), std::string::npos) << imported.err;
}

} // namespace
