#include "app/QXEditorFolderWatcher.h"
#include "app/QXLiveSystemState.h"
#include "model/QXLayersController.h"
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

// The layouts may be reordered while the program runs: a language layer follows the
// layout that is current now, not the group number it had at start.
TEST(LiveSystemState, AGermanLayerShowsExactlyWhileGermanIsCurrentAfterTheLayoutsAreReordered) {
    if (!qxtest::QXXvfb::available())
        GTEST_SKIP() << "Xvfb is not installed";
    qxtest::QXXvfb xvfb({"us,de", false});
    ASSERT_EQ(xvfb.error(), "");
    QXLiveSystemState state;
    QXSystemState::setCurrent(&state);
    struct Restore {
        ~Restore() { QXSystemState::setCurrent(nullptr); }
    } restore;

    constexpr uint32_t kGerman = 0x04070407;
    QXLayerTree tree;
    auto german = makeQX<QXLayersGroup>(u"04070407");
    german->addCondition(makeQX<QXSysLayoutCondition>(kGerman));
    auto layer = makeQX<QXLayer>(u"DEU-Main");
    layer->getButton(0)->keystroke = u"ä";
    german->children().push_back(layer);
    tree.topLevel().push_back(german);
    QXDispatch dispatch;
    QXLayersController controller(tree, dispatch);
    // Locks a group, then re-evaluates as the hook's 2031 makes the program do, until the
    // current layout is the expected one; true when the German layer shows then.
    auto germanShowsIn = [&](unsigned group, uint32_t current) {
        if (!lockXkbGroup(group))
            return false;
        qxtest::waitFor([&] {
            dispatch.Send(QXM_HOOK_LANGUAGE);
            return state.currentLayout() == current;
        });
        EXPECT_EQ(state.currentLayout(), current) << "group " << group;
        return controller.pictureStack().winner(0) == layer;
    };
    constexpr uint32_t kUs = 0x04090409;
    EXPECT_FALSE(germanShowsIn(0, kUs)) << "US first";
    EXPECT_TRUE(germanShowsIn(1, kGerman)) << "German second";

    const auto reordered = qxtest::runProgram(
        {"/bin/sh", "-c", "setxkbmap -display \"$DISPLAY\" -layout de,us"});
    ASSERT_EQ(reordered.exitStatus, 0) << reordered.err;
    ASSERT_TRUE(qxtest::waitFor([&] { return state.layouts() == std::vector<uint32_t>{kGerman, kUs}; }))
        << "the new order is read from the server";
    EXPECT_EQ(state.layoutIndex(kGerman), 0);

    EXPECT_TRUE(germanShowsIn(0, kGerman)) << "group 0 is German now";
    EXPECT_FALSE(germanShowsIn(1, kUs)) << "group 1 is US now";
    EXPECT_TRUE(germanShowsIn(0, kGerman)) << "and back to German";
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
