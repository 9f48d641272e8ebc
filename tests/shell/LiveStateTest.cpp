#include "app/QXEditorFolderWatcher.h"
#include "app/QXLiveSystemState.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"
#include "support/QXXvfb.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

bool lockXkbGroup(unsigned group);

namespace {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "shell_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

TEST(LiveSystemState, InstalledLayoutsAndTheCurrentGroupComeFromTheServer) {
    if (!qxtest::QXXvfb::available())
        GTEST_SKIP() << "Xvfb is not installed";
    qxtest::QXXvfb xvfb({"us,de", false});
    ASSERT_EQ(xvfb.error(), "");
    QXLiveSystemState state;
    EXPECT_EQ(state.layouts(), (std::vector<uint32_t>{0x04090409, 0x04070407}));
    EXPECT_EQ(state.currentLayout(), 0x04090409u);
    EXPECT_EQ(state.layoutIndex(0x04070407), 1);
    EXPECT_EQ(state.layoutIndex(0x04190419), -1);
    ASSERT_TRUE(lockXkbGroup(1));
    EXPECT_TRUE(qxtest::waitFor([&] { return state.currentLayout() == 0x04070407u; }))
        << "the German group is current";
    ASSERT_TRUE(lockXkbGroup(0));
    EXPECT_TRUE(qxtest::waitFor([&] { return state.currentLayout() == 0x04090409u; }));
    EXPECT_FALSE(state.isKeyboardConnected());
    state.setKeyboardConnected([] { return true; });
    EXPECT_TRUE(state.isKeyboardConnected());
    state.setKeyboardModifiers(0x40);
    EXPECT_EQ(state.modifierState() & 0x40, 0x40u) << "the keyboard's Num Lock counts";
}

TEST(LiveSystemState, WithoutADisplayEverythingIsUnknownAndNothingBreaks) {
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    QXLiveSystemState state;
    EXPECT_TRUE(state.layouts().empty());
    EXPECT_EQ(state.currentLayout(), 0u);
    EXPECT_FALSE(state.isApplicationForeground(u"anything"));
    EXPECT_TRUE(state.isApplicationRunning(u"shell_tests")) << "this very process runs";
}

TEST(EditorFolderWatcher, ChangesInTheFolderOrItsFilesPostTheShellChange) {
    ensureApplication();
    qxtest::TempDir dir;
    qxtest::writeFile(dir / "a.bmp", "first");
    QXDispatch dispatch;
    struct Counter {
        int changes = 0;
        void changed() { ++changes; }
    } counter;
    dispatch.RegisterHandler(QXM_SHELL_CHANGE, &counter, &Counter::changed);
    QXEditorFolderWatcher watcher(dir.path(), dispatch);
    auto spin = [&](int atLeast) {
        return qxtest::waitFor([&] {
            QCoreApplication::processEvents();
            dispatch.runPosted();
            return counter.changes >= atLeast;
        });
    };
    qxtest::writeFile(dir / "a.bmp", "written in place");
    EXPECT_TRUE(spin(1)) << "a file written in place";
    const int before = counter.changes;
    qxtest::writeFile(dir / "b.tmp", "replacement");
    fs::rename(dir / "b.tmp", dir / "a.bmp");
    EXPECT_TRUE(spin(before + 1)) << "a file replaced by another";
    const int replaced = counter.changes;
    qxtest::writeFile(dir / "a.bmp", "and in place again");
    EXPECT_TRUE(spin(replaced + 1)) << "the replacement is watched too";
}

} // namespace
