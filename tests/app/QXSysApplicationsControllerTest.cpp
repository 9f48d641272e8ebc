#include "app/QXSysApplicationsController.h"

#include "QXApplicationsTestSupport.h"
#include "QXTestWindows.h"
#include "app/QXProcessList.h"
#include "app/QXX11Windows.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "store/QXPropertyList.h"
#include "support/QXXvfb.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;
using qxtest::SentMessages;
using qxtest::TempDesktop;
using qxtest::TestProgram;

namespace {

void processStarted(pid_t pid) {
    QXDispatch::current().Send(QXM_HOOK_PROCESS, 1, pid);
}

void processEnded(pid_t pid) {
    QXDispatch::current().Send(QXM_HOOK_PROCESS, 0, pid);
}

void activated(unsigned long window, uint32_t message = QXM_HOOK_ACTIVATE) {
    QXDispatch::current().Send(message, window, 0);
}

} // namespace

class RunningApplicationsTest : public ::testing::Test, protected TempDesktop {};

TEST_F(RunningApplicationsTest, OnlyTheFirstStartAndTheLastEndOfAProgramAreAnnounced) {
    TestProgram program(m_dir / "programs");
    QXSysApplicationsController controller;
    SentMessages sent;
    EXPECT_FALSE(controller.isRunning(program.name()));

    const pid_t first = program.start();
    ASSERT_GT(first, 0);
    processStarted(first);
    EXPECT_EQ(sent.runningChanged, 1);
    EXPECT_TRUE(controller.isRunning(program.fileName())) << "names are compared in lower case";

    processStarted(first);
    const pid_t second = program.start();
    ASSERT_GT(second, 0);
    processStarted(second);
    EXPECT_EQ(sent.runningChanged, 1) << "a second copy changes nothing";
    EXPECT_EQ(controller.runningApplications().count(program.name()), 2u);

    program.stop(first);
    processEnded(first);
    EXPECT_EQ(sent.runningChanged, 1) << "one of two copies ended";
    EXPECT_TRUE(controller.isRunning(program.name()));

    program.stop(second);
    processEnded(second);
    EXPECT_EQ(sent.runningChanged, 2) << "the last copy ended";
    EXPECT_FALSE(controller.isRunning(program.name()));
    EXPECT_EQ(controller.runningApplications().count(program.name()), 0u);

    processEnded(second);
    processStarted(second); // gone before its start was handled
    EXPECT_EQ(sent.runningChanged, 2);
    EXPECT_TRUE(controller.applications().empty()) << "a program without an entry is not listed";
}

TEST_F(RunningApplicationsTest, ProgramsRunningAtStartAreInTheRunningSet) {
    TestProgram program(m_dir / "programs");
    const pid_t pid = program.start();
    ASSERT_GT(pid, 0);
    QXSysApplicationsController controller;
    SentMessages sent;
    EXPECT_TRUE(controller.isRunning(program.name()));
    EXPECT_TRUE(controller.isRunning(QXProcessList::processName(::getpid())));

    program.stop(pid);
    processEnded(pid);
    EXPECT_EQ(sent.runningChanged, 1);
    EXPECT_FALSE(controller.isRunning(program.name()));
}

// An X server of the test's own (DISPLAY points at it) with windows whose owners the
// test chooses.
class ForegroundApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_haveXvfb)
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_EQ(m_xvfb.error(), "");
        ASSERT_TRUE(m_windows.ok());
    }

    // Before the temporary desktop replaces PATH, which is searched for Xvfb.
    const bool m_haveXvfb = qxtest::QXXvfb::available();
    qxtest::QXXvfb m_xvfb;
    QXTestWindows m_windows{m_xvfb.display()};
    TempDesktop m_desktop;
};

TEST_F(ForegroundApplicationTest, ChangesWhenAWindowOfAnotherApplicationIsActivated) {
    TestProgram program(m_desktop.m_dir / "programs");
    const pid_t first = program.start(), second = program.start();
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    const unsigned long firstWindow = m_windows.create(first);
    const unsigned long secondWindow = m_windows.create(second);
    const unsigned long ownWindow = m_windows.create(::getpid());
    const unsigned long anonymous = m_windows.create(0);
    const unsigned long remote = m_windows.create(second, "elsewhere.invalid");
    const std::u16string self = QXProcessList::processName(::getpid());

    QXSysApplicationsController controller;
    SentMessages sent;
    activated(firstWindow);
    EXPECT_EQ(sent.foregroundChanged, 1);
    EXPECT_TRUE(controller.isForeground(program.fileName()));
    activated(firstWindow, QXM_HOOK_WINDOW_ACTIVATED);
    activated(secondWindow);
    EXPECT_EQ(sent.foregroundChanged, 1) << "another window of the same application";

    activated(ownWindow, QXM_HOOK_WINDOW_ACTIVATED);
    EXPECT_EQ(sent.foregroundChanged, 2);
    EXPECT_EQ(controller.foregroundApplication(), self);
    EXPECT_FALSE(controller.isForeground(program.name()));

    m_windows.destroy(firstWindow);
    activated(firstWindow);
    EXPECT_EQ(sent.foregroundChanged, 3) << "a vanished window has no application";
    EXPECT_EQ(controller.foregroundApplication(), u"");
    activated(secondWindow);
    activated(anonymous);
    EXPECT_EQ(sent.foregroundChanged, 5);
    EXPECT_FALSE(controller.isForeground(u""));
    activated(remote);
    EXPECT_EQ(sent.foregroundChanged, 5) << "a process id from another machine means nothing";
}

TEST_F(ForegroundApplicationTest, WindowOwnersAreReadFromTheDisplayOnly) {
    {
        QXX11Windows windows;
        const unsigned long window = m_windows.create(4242);
        EXPECT_EQ(windows.windowProcessId(window), 4242);
        EXPECT_EQ(windows.windowProcessId(m_windows.create(0)), 0);
        m_windows.destroy(window);
        EXPECT_EQ(windows.windowProcessId(window), 0);
        EXPECT_EQ(windows.windowProcessId(0), 0);
    }
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    QXX11Windows windows;
    EXPECT_FALSE(windows.hasDisplay());
    EXPECT_EQ(windows.windowProcessId(m_windows.create(4242)), 0);
}

TEST(X11WindowsTest, AServerThatGoesAwayEndsNothingButTheAnswers) {
    if (!qxtest::QXXvfb::available())
        GTEST_SKIP() << "Xvfb is not installed";
    auto xvfb = std::make_unique<qxtest::QXXvfb>();
    ASSERT_EQ(xvfb->error(), "");
    unsigned long window = 0;
    {
        QXTestWindows test(xvfb->display());
        test.keepWindows();
        window = test.create(4242);
    }
    QXX11Windows windows;
    EXPECT_EQ(windows.windowProcessId(window), 4242);
    xvfb.reset();
    EXPECT_EQ(windows.windowProcessId(window), 0);
    EXPECT_FALSE(windows.hasDisplay());
}

class ApplicationsProfileTest : public ::testing::Test, protected TempDesktop {};

TEST_F(ApplicationsProfileTest, KeepsTheUserAdditionsInOrderAndDropsVanishedFiles) {
    const fs::path zeta = program("bin/qxzeta"), alpha = program("bin/qxalpha");
    const fs::path gone = program("bin/qxgone"), other = program("bin/qxother");
    const fs::path file = m_dir / "profile/Applications.plist";
    {
        QXSysApplicationsController controller;
        controller.addApplication(fromPath(zeta), true, true);
        controller.addApplication(fromPath(gone), true, true);
        controller.addApplication(fromPath(other), true, false); // listed, not the user's
        controller.addApplication(fromPath(alpha), true, true);
        QXPropertyNode root(u"root");
        controller.saveTo(root);
        ASSERT_TRUE(root.findChild(u"Applications"));
        fs::create_directories(file.parent_path());
        ASSERT_TRUE(savePropertyList(*root.findChild(u"Applications"), file));
    }
    fs::remove(gone);

    QXPropertyNode root(u"root");
    QXPropertyNode::Ptr stored = loadPropertyList(file, u"Applications");
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->children().size(), 3u);
    EXPECT_EQ(stored->children()[0]->name(), u"qxzeta");
    EXPECT_EQ(stored->children()[0]->childValue(u"Path"), fromPath(zeta));
    root.addChild(stored);

    QXSysApplicationsController controller;
    controller.loadFrom(root);
    std::vector<std::u16string> user;
    for (const auto* application : controller.userApplications())
        user.push_back(application->name);
    EXPECT_EQ(user, (std::vector<std::u16string>{u"qxzeta", u"qxalpha"}));
    EXPECT_EQ(controller.find(u"qxalpha")->path, fromPath(alpha));

    QXPropertyNode saved(u"root");
    controller.saveTo(saved);
    EXPECT_EQ(printPropertyList(*saved.findChild(u"Applications")), printPropertyList(*[&] {
                  auto expected = makeQX<QXPropertyNode>(u"Applications");
                  expected->addChild(u"qxzeta")->addChild(u"Path", fromPath(zeta));
                  expected->addChild(u"qxalpha")->addChild(u"Path", fromPath(alpha));
                  return expected;
              }()));
}
