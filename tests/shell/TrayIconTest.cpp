// The tray icon's menu and its following of the keyboard, in-process on Qt's offscreen
// platform (which has no notification area: the program runs on without the icon).
#include "app/QXQtLog.h"
#include "app/QXTrayIcon.h"
#include "platform/QXLog.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <thread>

namespace {

class TrayIconTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static qxtest::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "program_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QApplication(argc, argv);
    }
    TrayIconTest() { QXDispatch::setCurrent(&m_dispatch); }
    ~TrayIconTest() override { QXDispatch::setCurrent(nullptr); }

    struct Shows {
        int count = 0;
        void show() { ++count; }
    };
    QXDispatch m_dispatch;
    Shows m_shows;
};

TEST_F(TrayIconTest, TheMenuOffersConfigureOnlyWhileNoMainWindowIsOpenAndTheIconFollowsTheKeyboard) {
    bool windowOpen = false;
    QXTrayIcon tray(false, [&] { return windowOpen; });
    EXPECT_FALSE(tray.visible()) << "no notification area here";
    m_dispatch.RegisterHandler(QXM_SHOW_MAIN_WINDOW, &m_shows, &Shows::show);

    QList<QAction*> items = tray.menu().actions();
    ASSERT_EQ(items.size(), 6);
    QStringList texts;
    for (QAction* item : items)
        texts << (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(texts.join(QLatin1Char('|')).toStdString(),
              "Configure...|-|About Configurator...|Discussion forum...|-|Exit");
    EXPECT_EQ(tray.menu().defaultAction(), items[0]);

    Q_EMIT tray.menu().aboutToShow();
    EXPECT_TRUE(items[0]->isEnabled());
    windowOpen = true;
    Q_EMIT tray.menu().aboutToShow();
    EXPECT_FALSE(items[0]->isEnabled()) << "grey while the main window exists";

    // A left click shows the main window; so does "Configure...", but not while grey.
    m_dispatch.Send(QXM_TRAY_NOTIFY, 0, 0x0201);
    items[0]->trigger();
    EXPECT_EQ(m_shows.count, 1);
    windowOpen = false;
    Q_EMIT tray.menu().aboutToShow();
    items[0]->trigger();
    EXPECT_EQ(m_shows.count, 2);

    m_dispatch.Send(QXM_DEVICE_STATE, 0, 0);
    EXPECT_TRUE(tray.connected());
    m_dispatch.Send(QXM_DEVICE_STATE, 1, 0);
    EXPECT_FALSE(tray.connected());
    m_dispatch.UnregisterObject(&m_shows);
}

} // namespace

namespace {

// What the store repairs while the program starts, and what goes wrong later on any
// thread, reaches the user once, in a balloon from the icon, besides the log.
TEST_F(TrayIconTest, WarningsReachTheUserOnceWhateverThreadLogsThem) {
    QXTrayIcon tray(false, [] { return false; });
    QStringList shown;
    int balloons = 0;
    QXUserNotices notices([&](const QStringList& notes) {
        ++balloons;
        shown += notes;
        tray.notify(notes);
    });
    QXLog::warning(QXLog::kStore, "kept the unreadable Layer.plist");
    QXLog::debug(QXLog::kStore, "not for the user");
    EXPECT_EQ(balloons, 0) << "nothing is shown before there is a place to show it";
    notices.start();
    EXPECT_EQ(balloons, 1);
    EXPECT_EQ(tray.lastNotice().toStdString(), "kept the unreadable Layer.plist");

    std::thread([] {
        QXLog::warning(QXLog::kStore, "cannot write A.png");
        QXLog::warning(QXLog::kStore, "cannot write B.png");
    }).join();
    ASSERT_TRUE(qxtest::waitFor([&] {
        QCoreApplication::processEvents();
        return shown.size() == 3;
    }));
    QCoreApplication::processEvents();
    EXPECT_EQ(balloons, 2) << "warnings that come together share one balloon";
    EXPECT_EQ(shown.join(QLatin1Char('|')).toStdString(),
              "kept the unreadable Layer.plist|cannot write A.png|cannot write B.png");
}

} // namespace
