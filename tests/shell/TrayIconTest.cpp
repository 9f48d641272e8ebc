// The tray icon's menu and its following of the keyboard, in-process on Qt's offscreen
// platform (which has no notification area: the program runs on without the icon).
#include "app/QXTrayIcon.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

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
