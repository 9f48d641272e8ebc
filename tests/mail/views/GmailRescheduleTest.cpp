// The web mail view's timing, driven by a test clock on the view class itself: an edit of
// the account brings the next poll to about 7 s after the edit.

#include "CGmailPluginView.h"
#include "KitTestContext.h"
#include "support/QXHttpTestServer.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <atomic>
#include <gtest/gtest.h>

namespace {

class ClockedGmailView : public CGmailPluginView {
public:
    using CGmailPluginView::CGmailPluginView;
    std::atomic<uint32_t> now{0};

protected:
    uint32_t tickCount() const override { return now; }
};

TEST(MailWebViewTiming, AnEditBringsTheNextPollToSevenSecondsLater) {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "mail_views_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv); // kept to the end
    }
    qxtest::TempDir dir;
    qxtest::ScopedEnv dataEnv("XDG_DATA_HOME", (dir / "data").string());
    qxtest::QXHttpTestServer server;
    server.setRoute("/feed", {.body = "<fullcount>1</fullcount>"});
    qxtest::ScopedEnv feed("QX_MAIL_FEED_URL", server.url("/feed"));
    kittest::KitTestContext context;
    auto* view = new ClockedGmailView(&context);

    // Before the first poll an edit leaves the view polling at its first tick.
    view->SetUserName(QStringLiteral("ann"));
    EXPECT_EQ(view->lastPoll(), 0u);

    view->now = 100000;
    view->tickAt(100000);
    EXPECT_TRUE(qxtest::waitFor([&] { return context.updateCount() == 2; })); // placeholder, count
    EXPECT_EQ(view->lastPoll(), 100000u);

    // An edit 2 s after the poll: the next poll is due 7 s after the edit, not 58 s.
    view->now = 102000;
    view->SetPassword(QStringLiteral("secret"));
    view->tickAt(109000);
    EXPECT_EQ(server.requestCount("/feed"), 1);
    view->tickAt(109001);
    EXPECT_EQ(view->lastPoll(), 109001u);
    EXPECT_TRUE(qxtest::waitFor([&] { return server.requestCount("/feed") == 2; }));
    EXPECT_TRUE(qxtest::waitFor([&] { return context.updateCount() == 3; }));

    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
}

} // namespace
