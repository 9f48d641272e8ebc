// The Mail plug-in's views and pages, loaded from the program folder as the program loads
// them: the local mailbox followed through its changes, the web mail feed from a local
// server, and the password kept only in its protected form.

#include "KitTestContext.h"
#include "ScriptedServer.h"
#include "support/QXHttpTestServer.h"
#include "support/QXTestSupport.h"
#include "utility/utility.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QWidget>
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

using kittest::KitTestContext;

const std::string kFolder = std::string(QX_PROGRAM_DIR) + "/Plugins/Mail/";

void* library() {
    static void* handle = [] {
        void* h = dlopen((kFolder + "Mail.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(h, nullptr) << dlerror();
        return h;
    }();
    return handle;
}

IQXViewPluginInstance* createView(const char16_t* id, KitTestContext& context) {
    auto create = reinterpret_cast<QXCreateViewFunction>(dlsym(library(), "createView"));
    return create ? create(id, &context) : nullptr;
}

IQXActionPluginInstance* createAction(const char16_t* id, KitTestContext& context) {
    auto create = reinterpret_cast<QXCreateActionFunction>(dlsym(library(), "createAction"));
    return create ? create(id, &context) : nullptr;
}

void ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "mail_views_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv); // kept to the end
    }
}

QRgb pixel(KitTestContext& context, int x, int y) {
    const unsigned char* p = context.bits() + (47 - y) * 144 + x * 3;
    return qRgb(p[2], p[1], p[0]);
}

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// The key shows the plug-in's picture "name" in the rows above the badge's (0 to 27).
bool showsPicture(KitTestContext& context, const char* name) {
    QImage picture = QImage(QString::fromStdString(kFolder + name)).convertToFormat(QImage::Format_RGB32);
    if (picture.size() != QSize(48, 48))
        return false;
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 48; ++x)
            if (!near(pixel(context, x, y), picture.pixel(x, y), 3))
                return false;
    return true;
}

// A count badge in colour: a bar of it on row 36 reaching well to both sides of the centre,
// centred on (24, 36) (a pixel to the left, as the shrunk box puts it), white text around
// (24, 36), and nothing of that colour on row 26 above it.
bool showsBadge(KitTestContext& context, QRgb colour) {
    int left = 48, right = -1;
    for (int x = 0; x < 48; ++x)
        if (near(pixel(context, x, 36), colour, 30)) {
            left = std::min(left, x);
            right = std::max(right, x);
        }
    bool white = false;
    for (int y = 31; y <= 41; ++y)
        for (int x = 18; x <= 30; ++x)
            white = white || qGray(pixel(context, x, y)) > 230;
    bool above = false;
    for (int x = 0; x < 48; ++x)
        above = above || near(pixel(context, x, 26), colour, 30);
    // The bar's rows on its left end: centred near row 36 too.
    int top = 48, bottom = -1;
    for (int y = 0; y < 48; ++y)
        if (near(pixel(context, left + 3, y), colour, 30)) {
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    return left < 17 && right > 31 && std::abs((left + right) / 2.0 - 23.5) <= 1.5 &&
           std::abs((top + bottom) / 2.0 - 35.5) <= 2 && white && !above;
}

// For people: the key at twice its size above its page, in docs/screenshots when
// QX_SCREENSHOTS is set, else in a scratch folder.
void saveKeyAndPage(KitTestContext& context, QWidget* page, const char* name) {
    QImage key(48, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            key.setPixel(x, y, pixel(context, x, y));
    QImage pageImage = page->grab().toImage();
    QImage shot(std::max(pageImage.width(), 112), 112 + pageImage.height(), QImage::Format_RGB32);
    shot.fill(QColor(64, 64, 64));
    {
        QPainter painter(&shot);
        painter.drawImage(QRect(8, 8, 96, 96), key);
        painter.drawImage(0, 112, pageImage);
    }
    bool forPeople = qEnvironmentVariableIsSet("QX_UPDATE_SCREENSHOTS") ||
                     qEnvironmentVariableIsSet("QX_SCREENSHOTS");
    qxtest::TempDir scratch;
    QString folder = forPeople ? QStringLiteral(QX_SOURCE_DIR "/docs/screenshots")
                               : QString::fromStdString(scratch.path().string());
    EXPECT_TRUE(shot.save(folder + QLatin1Char('/') + QLatin1String(name)));
}

const QRgb kBrownGold = qRgb(202, 165, 108);
const QRgb kRed = qRgb(237, 28, 36);

void addMessages(const std::filesystem::path& folder, int from, int to) {
    for (int i = from; i < to; ++i)
        qxtest::writeFile(folder / ("1700000000." + std::to_string(i) + ".host"),
                          "From: a@b\nSubject: " + std::to_string(i) + "\n\nhello\n");
}

// The local mail view follows the user's Maildir from no store at all, through an empty
// one, to twelve new messages and back to none: error picture, no badge, the brown-gold
// badge with 12.
TEST(MailLocalView, FollowsTheMaildirThroughItsChanges) {
    ensureApplication();
    qxtest::TempDir home;
    qxtest::ScopedEnv homeEnv("HOME", home.path().string());
    qxtest::ScopedEnv mailEnv("MAIL", (home / "no-such-spool").string());
    KitTestContext context;
    IQXViewPluginInstance* view = createView(u"incount.shellmail.view", context);
    ASSERT_NE(view, nullptr);
    view->Activate();

    EXPECT_TRUE(qxtest::waitFor([&] { return showsPicture(context, "mailer_error.png"); }));

    std::filesystem::create_directories(home / "Maildir/cur");
    std::filesystem::create_directories(home / "Maildir/tmp");
    std::filesystem::create_directories(home / "Maildir/new");
    EXPECT_TRUE(qxtest::waitFor([&] { return showsPicture(context, "mailer_no.png"); }));
    EXPECT_FALSE(showsBadge(context, kBrownGold));

    addMessages(home / "Maildir/new", 0, 12);
    EXPECT_TRUE(qxtest::waitFor([&] {
        return showsPicture(context, "mailer_get.png") && showsBadge(context, kBrownGold);
    }));
    for (const auto& entry : std::filesystem::directory_iterator(home / "Maildir/new"))
        std::filesystem::rename(entry.path(), home / "Maildir/cur" / entry.path().filename());
    EXPECT_TRUE(qxtest::waitFor([&] { return showsPicture(context, "mailer_no.png"); }));

    view->Deactivate();
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
}

// An mbox counts the messages that have no read status.
TEST(MailLocalView, CountsUnreadMessagesOfAnMbox) {
    ensureApplication();
    qxtest::TempDir home;
    qxtest::ScopedEnv homeEnv("HOME", home.path().string());
    qxtest::ScopedEnv mailEnv("MAIL", (home / "spool").string());
    std::string mbox;
    for (int i = 0; i < 12; ++i)
        mbox += "From a@b Mon Jan  1 00:00:00 2024\nSubject: x\n" +
                std::string(i % 3 == 0 ? "Status: RO\n" : "Status: O\n") +
                "\nFrom the body, not a new message\n\n";
    qxtest::writeFile(home / "spool", mbox);
    KitTestContext context;
    IQXViewPluginInstance* view = createView(u"incount.shellmail.view", context);
    ASSERT_NE(view, nullptr);
    view->Activate();
    // 8 unread of 12: the badge shows; which digits is the font's business.
    EXPECT_TRUE(qxtest::waitFor([&] {
        return showsPicture(context, "mailer_get.png") && showsBadge(context, kBrownGold);
    }));
    view->Deactivate();
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
}

// The web mail view reads the feed with the account's credentials: the count on a red
// badge, the newest link opened with "&" by the action; a feed without a count keeps the
// picture; a failure shows the broken link.
TEST(MailWebView, ReadsTheFeedAndOpensTheNewestMessage) {
    ensureApplication();
    qxtest::TempDir dir;
    qxtest::ScopedEnv dataEnv("XDG_DATA_HOME", (dir / "data").string());
    // A recording opener first in PATH.
    std::filesystem::create_directories(dir / "bin");
    qxtest::writeFile(dir / "bin/xdg-open",
                      "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + (dir / "opened").string() + "'\n");
    std::filesystem::permissions(dir / "bin/xdg-open", std::filesystem::perms::owner_all);
    qxtest::ScopedEnv path("PATH", (dir / "bin").string() + ":" + qgetenv("PATH").toStdString());

    qxtest::QXHttpTestServer server;
    server.setRoute("/feed", {.contentType = "application/atom+xml",
                              .body = "<feed><fullcount>12</fullcount><entry><title>a</title>"
                                      "<link rel=\"alternate\" href=\"http://mail.test/?a=1&amp;b=2\" />"
                                      "</entry><entry><link rel=\"alternate\" href=\"http://old\" />"
                                      "</entry></feed>"});
    qxtest::ScopedEnv feed("QX_MAIL_FEED_URL", server.url("/feed"));

    KitTestContext context;
    char16_t protectedPassword[kQXTextCapacity] = {};
    ASSERT_EQ(PassProtect(u"s3cret", protectedPassword, kQXTextCapacity), 1);
    context.SetProperty(u"UserName", u"ann");
    context.SetProperty(u"Password", protectedPassword);
    IQXViewPluginInstance* view = createView(u"incount.gmail.view", context);
    ASSERT_NE(view, nullptr);
    IQXActionPluginInstance* action = createAction(u"goto.gmail.action", context);
    ASSERT_NE(action, nullptr);
    action->KeyDown(); // before any feed: nothing to open
    context.setViewInstance(view);
    view->Activate();

    EXPECT_TRUE(qxtest::waitFor(
        [&] { return showsPicture(context, "mail.png") && showsBadge(context, kRed); }));
    ASSERT_GE(server.requestCount("/feed"), 1);
    // Basic authentication with the plain password: "ann:s3cret".
    EXPECT_EQ(server.requests().front().header("authorization"), "Basic YW5uOnMzY3JldA==");

    action->KeyDown();
    EXPECT_TRUE(qxtest::waitFor([&] {
        return qxtest::readFile(dir / "opened") == "http://mail.test/?a=1&b=2\n";
    }));

    // The action made the next tick poll again; this feed has no count: the count and the
    // picture stay (the newest link goes with the entries that are no longer there).
    server.setRoute("/feed", {.contentType = "application/atom+xml", .body = "<feed></feed>"});
    int requests = server.requestCount("/feed");
    int updates = context.updateCount();
    action->KeyDown();
    EXPECT_TRUE(qxtest::waitFor([&] { return server.requestCount("/feed") > requests; }));
    // The placeholder, then the feed's picture.
    EXPECT_TRUE(qxtest::waitFor([&] { return context.updateCount() >= updates + 2; }));
    EXPECT_TRUE(showsPicture(context, "mail.png") && showsBadge(context, kRed));

    // A refused request, at the poll that a new activation makes at once: the broken link.
    server.setRoute("/feed", {.status = 401, .body = "no"});
    view->Deactivate();
    view->Activate();
    EXPECT_TRUE(qxtest::waitFor([&] { return showsPicture(context, "no_connect.png"); }));

    action->Release();
    view->Deactivate();
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 2; }));
}

// The page shows the password as typed but the view stores only the protected form.
TEST(MailPropertiesFrame, StoresOnlyTheProtectedPassword) {
    ensureApplication();
    qxtest::TempDir dir;
    qxtest::ScopedEnv dataEnv("XDG_DATA_HOME", (dir / "data").string());
    KitTestContext context;
    char16_t protectedPassword[kQXTextCapacity] = {};
    ASSERT_EQ(PassProtect(u"old", protectedPassword, kQXTextCapacity), 1);
    context.SetProperty(u"Password", protectedPassword);
    context.SetProperty(u"UserName", u"ann");
    IQXViewPluginInstance* view = createView(u"incount.gmail.view", context);
    ASSERT_NE(view, nullptr);
    QWidget parent;
    auto* page = static_cast<QWidget*>(view->GetGUIController()->CreateGUI(&parent));
    ASSERT_NE(page, nullptr);
    auto* login = page->findChild<QLineEdit*>(QStringLiteral("2004"));
    auto* password = page->findChild<QLineEdit*>(QStringLiteral("2005"));
    ASSERT_TRUE(login && password);
    EXPECT_EQ(login->text(), QStringLiteral("ann"));
    EXPECT_EQ(password->text(), QStringLiteral("old"));
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);

    password->clear();
    QTest::keyClicks(password, QStringLiteral("n3w-pass"));
    std::u16string stored = context.property(u"Password");
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(stored.find(u"n3w"), std::u16string::npos);
    char16_t plain[256] = {};
    ASSERT_EQ(PassUnprotect(stored.c_str(), plain, 256), 1);
    EXPECT_EQ(std::u16string(plain), u"n3w-pass");

    QTest::keyClicks(login, QStringLiteral("e"));
    EXPECT_EQ(context.property(u"UserName"), u"anne");
    view->GetGUIController()->DestroyGUI();
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
}

} // namespace

namespace {

// A listening socket on 127.0.0.1 that nobody serves; tells whether a client connected.
class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(m_fd, 4), 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    std::u16string address() const {
        return u"127.0.0.1:" + QString::number(m_port).toStdU16String();
    }
    bool connected() {
        int fd = ::accept(m_fd, nullptr, nullptr);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

} // namespace

// A POP3 view without a password shows the error picture and never connects; with the
// account complete it logs in with the recovered password and shows the mailbox's 12
// messages on the brown-gold badge, while the profile keeps only the protected form.
TEST(MailPop3View, CountsTheMailboxAndNeedsACompleteAccount) {
    ensureApplication();
    qxtest::TempDir dir;
    qxtest::ScopedEnv dataEnv("XDG_DATA_HOME", (dir / "data").string());
    {
        Listener listener;
        KitTestContext context;
        context.SetProperty(u"Server", listener.address().c_str());
        context.SetProperty(u"UserName", u"ann");
        IQXViewPluginInstance* view = createView(u"incount.pop.view", context);
        ASSERT_NE(view, nullptr);
        view->Activate();
        EXPECT_TRUE(qxtest::waitFor([&] { return showsPicture(context, "mailer_error.png"); }));
        view->Deactivate();
        view->Release();
        EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
        EXPECT_FALSE(listener.connected());
    }

    std::vector<std::string> seen;
    ScriptedServer server([&](ScriptedServer::Peer& peer) {
        peer.send("+OK ready\r\n");
        for (const char* answer : {"-ERR unknown command\r\n", "+OK\r\n", "+OK logged in\r\n",
                                   "+OK\r\n", "+OK 12 48000\r\n", "+OK bye\r\n"}) {
            seen.push_back(peer.readLine());
            peer.send(answer);
        }
        peer.waitForClose();
    });
    KitTestContext context;
    context.SetProperty(u"Server", server.address().c_str());
    IQXViewPluginInstance* view = createView(u"incount.pop.view", context);
    ASSERT_NE(view, nullptr);
    QWidget parent;
    auto* page = static_cast<QWidget*>(view->GetGUIController()->CreateGUI(&parent));
    ASSERT_NE(page, nullptr);
    auto* serverEdit = page->findChild<QLineEdit*>(QStringLiteral("2006"));
    ASSERT_NE(serverEdit, nullptr);
    EXPECT_EQ(serverEdit->text().toStdU16String(), server.address());
    EXPECT_TRUE(serverEdit->toolTip().contains(QStringLiteral("pop3s://")));
    QTest::keyClicks(page->findChild<QLineEdit*>(QStringLiteral("2004")), QStringLiteral("ann"));
    QTest::keyClicks(page->findChild<QLineEdit*>(QStringLiteral("2005")), QStringLiteral("pw"));

    view->Activate();
    EXPECT_TRUE(qxtest::waitFor([&] {
        return showsPicture(context, "mailer_get.png") && showsBadge(context, kBrownGold);
    }));
    saveKeyAndPage(context, page, "mail-pop3-key.png");
    view->GetGUIController()->DestroyGUI();
    view->Deactivate();
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
    server.finish();
    const std::vector<std::string> expected = {"CAPA\r\n", "USER ann\r\n", "PASS pw\r\n",
                                               "NOOP\r\n", "STAT\r\n",     "QUIT\r\n"};
    EXPECT_EQ(seen, expected);
    EXPECT_NE(context.property(u"Password"), u"pw");
    EXPECT_FALSE(context.property(u"Password").empty());
}

namespace {

// A port on 127.0.0.1 that was free a moment ago.
} // namespace

// Over HTTPS the feed is read when its certificate verifies against the trusted authority,
// and refused (the broken link) when it does not: never read unverified.
TEST(MailWebView, ReadsTheFeedOverHttpsOnlyWithAVerifiedCertificate) {
    ensureApplication();
    qxtest::TempDir dir;
    const std::string d = dir.path().string();
    qxtest::ProgramResult made = qxtest::runProgram(
        {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/key.pem",
         "-out", d + "/cert.pem", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
         "subjectAltName=IP:127.0.0.1"});
    if (made.exitStatus != 0)
        GTEST_SKIP() << "openssl cannot make a test certificate (install openssl): " << made.err;
    qxtest::writeFile(dir / "feed.xml", "<feed><fullcount>12</fullcount><entry>"
                                        "<link rel=\"alternate\" href=\"https://x/?a&amp;b\"/>"
                                        "</entry></feed>");
    const uint16_t port = qxtest::freeLoopbackPort();
    // s_server serves files of its working folder.
    qxtest::ChildProcess https({"/bin/sh", "-c",
                                "cd '" + d + "' && exec /usr/bin/openssl s_server -quiet -WWW -accept " +
                                    std::to_string(port) + " -cert cert.pem -key key.pem"});
    ASSERT_TRUE(qxtest::waitFor([&] { return qxtest::acceptsOnLoopback(port); }));
    qxtest::ScopedEnv feed("QX_MAIL_FEED_URL",
                           "https://127.0.0.1:" + std::to_string(port) + "/feed.xml");

    for (bool trusted : {true, false}) {
        qxtest::ScopedEnv ca("QX_MAIL_CA_FILE", trusted ? d + "/cert.pem" : "");
        KitTestContext context;
        IQXViewPluginInstance* view = createView(u"incount.gmail.view", context);
        ASSERT_NE(view, nullptr);
        view->Activate();
        if (trusted)
            EXPECT_TRUE(qxtest::waitFor(
                [&] { return showsPicture(context, "mail.png") && showsBadge(context, kRed); }));
        else
            EXPECT_TRUE(qxtest::waitFor([&] { return showsPicture(context, "no_connect.png"); }));
        view->Deactivate();
        view->Release();
        EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
    }
}

// The local mail key's action starts the application the desktop names for "mailto:"
// addresses; with none and no xdg-email, a press does nothing.
TEST(MailLocalAction, StartsTheDesktopsMailProgram) {
    ensureApplication();
    qxtest::TempDir dir;
    std::filesystem::create_directories(dir / "bin");
    const std::string launched = (dir / "launched").string();
    qxtest::writeFile(dir / "bin/xdg-mime", "#!/bin/sh\necho 'mymail.desktop'\n");
    qxtest::writeFile(dir / "bin/gtk-launch",
                      "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + launched + "'\n");
    for (const char* name : {"bin/xdg-mime", "bin/gtk-launch"})
        std::filesystem::permissions(dir / name, std::filesystem::perms::owner_all);
    KitTestContext context;
    IQXViewPluginInstance* view = createView(u"incount.shellmail.view", context);
    IQXActionPluginInstance* action = createAction(u"goto.shellmail.action", context);
    ASSERT_TRUE(view && action);
    context.setViewInstance(view);
    {
        qxtest::ScopedEnv path("PATH", (dir / "bin").string());
        action->KeyDown();
        EXPECT_TRUE(qxtest::waitFor([&] { return qxtest::readFile(launched) == "mymail\n"; }));
    }
    {
        qxtest::ScopedEnv path("PATH", (dir / "nothing").string());
        action->KeyDown();
        action->KeyUp();
    }
    EXPECT_EQ(qxtest::readFile(launched), "mymail\n");
    action->Release();
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 2; }));
}
