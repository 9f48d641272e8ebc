// The Video plug-in with clips the tests make with GStreamer: how a picture is fitted on the
// key, playing once and looping, the sound's toggle, web pages that lead to a stream, the
// page, and the library as the program loads it.

#include "CVideoPluginView.h"
#include "CVideoPropertiesFrame.h"
#include "KitTestContext.h"
#include "VideoFrame.h"
#include "VideoPage.h"
#include "support/QXHttpTestServer.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

namespace {

using kittest::KitTestContext;

void ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "video_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv); // kept to the end
    }
}

// A Theora clip of frames of the test pattern, made with gst-launch-1.0; with sound when
// asked (a tone in Vorbis).
std::string makeClip(const qxtest::TempDir& dir, const std::string& name, int width, int height,
                     int frames, const std::string& pattern, bool withSound = false) {
    const std::string path = (dir / name).string();
    std::vector<std::string> argv = {"/usr/bin/gst-launch-1.0",
                                     "-q",
                                     "videotestsrc",
                                     "num-buffers=" + std::to_string(frames),
                                     "pattern=" + pattern,
                                     "!",
                                     "video/x-raw,width=" + std::to_string(width) +
                                         ",height=" + std::to_string(height) + ",framerate=10/1",
                                     "!",
                                     "videoconvert",
                                     "!",
                                     "theoraenc",
                                     "!",
                                     "oggmux",
                                     "name=mux",
                                     "!",
                                     "filesink",
                                     "location=" + path};
    if (withSound)
        for (const char* part : {"audiotestsrc", "num-buffers=100", "!", "audioconvert", "!",
                                 "vorbisenc", "!", "mux."})
            argv.push_back(part);
    const qxtest::ProgramResult result = qxtest::runProgram(argv);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return path;
}

// The key's pixel at (x, y), top row first.
QRgb pixel(KitTestContext& context, int x, int y) {
    const unsigned char* p = context.bits() + (47 - y) * 144 + x * 3;
    return qRgb(p[2], p[1], p[0]);
}

bool bright(QRgb colour) {
    return qGray(colour) > 180;
}
bool black(QRgb colour) {
    return qGray(colour) < 20;
}

// The picture's bounding box of bright pixels on the key.
QRect brightArea(KitTestContext& context) {
    QRect area;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            if (bright(pixel(context, x, y)))
                area |= QRect(x, y, 1, 1);
    return area;
}

bool keyIsBlack(KitTestContext& context) {
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            if (!black(pixel(context, x, y)))
                return false;
    return true;
}

// A view on a test key whose "Path" is path, activated as the program does, and released
// (waiting until its thread deleted it) at the end.
struct PlayingKey {
    explicit PlayingKey(const std::string& path, bool looping = false) {
        context.SetProperty(u"Path", QString::fromStdString(path).toStdU16String().c_str());
        context.SetProperty(u"Looping", looping ? u"true" : u"false");
        view = new CVideoPluginView(&context);
        context.setViewInstance(view);
        view->Activate();
    }
    ~PlayingKey() {
        view->Release();
        EXPECT_TRUE(qxtest::waitFor([this] { return context.destroyedCount() == 1; }));
    }
    KitTestContext context;
    CVideoPluginView* view;
};

TEST(VideoFitTest, PicturesAreScaledInThePipelineAndCentredOnTheKey) {
    qxtest::TempDir dir;
    struct Case {
        int width, height;
        QRect expected;
    };
    for (const Case& c : {Case{320, 240, QRect(0, 6, 48, 36)}, Case{240, 320, QRect(6, 0, 36, 48)},
                          Case{100, 100, QRect(0, 0, 48, 48)}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(VideoFrame::fitToKey(c.width, c.height).width, c.expected.width());
        const std::string clip =
            makeClip(dir, std::to_string(c.width) + ".ogv", c.width, c.height, 5, "white");
        PlayingKey key(clip);
        EXPECT_TRUE(qxtest::waitFor([&] { return brightArea(key.context) == c.expected; }))
            << "bright area " << brightArea(key.context).x() << "," << brightArea(key.context).y()
            << " " << brightArea(key.context).width() << "x" << brightArea(key.context).height();
        // Black around the picture.
        if (c.expected.top() > 0) {
            EXPECT_TRUE(black(pixel(key.context, 24, c.expected.top() - 1)));
        }
        if (c.expected.left() > 0) {
            EXPECT_TRUE(black(pixel(key.context, c.expected.left() - 1, 24)));
        }
    }
}

TEST(VideoPlaybackTest, PlayingOnceLeavesTheLastFrameAndLoopingGoesOn) {
    qxtest::TempDir dir;
    const std::string clip = makeClip(dir, "ball.ogv", 64, 64, 10, "ball");
    {
        PlayingKey once(clip);
        ASSERT_TRUE(qxtest::waitFor([&] { return once.view->runsEnded() == 1; }));
        const int updates = once.context.updateCount();
        EXPECT_GE(updates, 3);
        EXPECT_LE(updates, 12); // a clear and about one update per frame
        EXPECT_FALSE(keyIsBlack(once.context));
        EXPECT_EQ(once.view->source(), clip);
    }
    {
        PlayingKey looping(clip, true);
        // Ten frames a run: thirty updates are the third time round.
        EXPECT_TRUE(qxtest::waitFor([&] { return looping.context.updateCount() > 30; }))
            << looping.context.updateCount() << " updates";
        EXPECT_TRUE(looping.view->running());
    }
}

TEST(VideoPlaybackTest, AMissingOrUnreadableFileLeavesTheKeyBlackAndTheThreadEnds) {
    qxtest::TempDir dir;
    qxtest::writeFile(dir / "notes.ogv", "not a video at all\n");
    for (const std::string& path : {(dir / "missing.ogv").string(), (dir / "notes.ogv").string()}) {
        SCOPED_TRACE(path);
        PlayingKey key(path, true);
        EXPECT_TRUE(qxtest::waitFor([&] { return key.view->source() == path; }));
        EXPECT_TRUE(qxtest::waitFor([&] { return key.view->runsEnded() == 1; }));
        EXPECT_TRUE(keyIsBlack(key.context));
    }
}

TEST(VideoPlaybackTest, SoundStartsMutedAndTheMuteActionTogglesBackAndForth) {
    qxtest::TempDir dir;
    const std::string clip = makeClip(dir, "tone.ogv", 64, 48, 100, "smpte", true);
    PlayingKey key(clip);
    ASSERT_TRUE(qxtest::waitFor([&] { return key.view->volume() >= 0; }));
    EXPECT_EQ(key.view->volume(), 0.0);
    key.view->DoToggleMute();
    EXPECT_TRUE(qxtest::waitFor([&] { return key.view->volume() == 1.0; }));
    key.view->DoToggleMute();
    EXPECT_TRUE(qxtest::waitFor([&] { return key.view->volume() == 0.0; }));
}

TEST(VideoPageTest, PagesAndStreamListsNameTheStreamToPlay) {
    using VideoPage::findStreamAddress;
    EXPECT_EQ(findStreamAddress("<html><EMBED width=48 TYPE=\"application/x-mplayer2\" "
                                "src=http://h/v.asf autostart=1></embed>"),
              "http://h/v.asf");
    EXPECT_EQ(findStreamAddress("<embed src='mms://h/live' type='application/x-mplayer2'>"),
              "mms://h/live");
    EXPECT_EQ(findStreamAddress("<embed type=\"video/mp4\" src=\"x.mp4\">"), "");
    // A stream list: the "mms://" entry wins over an earlier "http://" one.
    EXPECT_EQ(findStreamAddress("<asx><entry><ref href=\"http://h/a.asf\" />"
                                "<REF HREF=\"mms://h/a\"/></entry></asx>"),
              "mms://h/a");
    EXPECT_EQ(findStreamAddress("<asx><ref href='http://h/a.asf'/></asx>"), "http://h/a.asf");

    EXPECT_TRUE(VideoPage::isPageContentType("text/html; charset=UTF-8"));
    EXPECT_TRUE(VideoPage::isPageContentType("video/x-ms-asf"));
    EXPECT_FALSE(VideoPage::isPageContentType("video/ogg"));
    EXPECT_FALSE(VideoPage::isPageContentType("text/plain"));
}

TEST(VideoPageTest, AWebPageLeadsToTheStreamItEmbedsAndOtherVideoTypesPlayDirectly) {
    qxtest::TempDir dir;
    const std::string clip = makeClip(dir, "page.ogv", 100, 100, 20, "white");
    qxtest::QXHttpTestServer server;
    // A plain server: no ranges, so the player reads the clip as a stream.
    server.setRoute("/clip.ogv",
                    {200, "video/ogg", {{"Accept-Ranges", "none"}}, qxtest::readFile(clip)});
    const std::string clipUrl = server.url("/clip.ogv");
    server.setRoute("/page.html", {200,
                                   "text/html; charset=UTF-8",
                                   {},
                                   "<html><body><embed type=application/x-mplayer2 src=" + clipUrl +
                                       " width=320></body></html>"});
    server.setRoute("/list.asx", {200,
                                  "video/x-ms-asf",
                                  {},
                                  "<asx><entry><ref href=\"" + clipUrl +
                                      "\" />"
                                      "<ref href=\"mms://127.0.0.1:1/live\" /></entry></asx>"});
    {
        // The page is read, and the address of its embedded player played from the server.
        PlayingKey key(server.url("/page.html"));
        EXPECT_TRUE(qxtest::waitFor([&] { return key.view->source() == clipUrl; }));
        EXPECT_TRUE(
            qxtest::waitFor([&] { return brightArea(key.context) == QRect(0, 0, 48, 48); }));
        EXPECT_EQ(server.requestCount("/page.html"), 1);
    }
    {
        // A stream list: its "mms://" entry is the one taken.
        PlayingKey key(server.url("/list.asx"));
        EXPECT_TRUE(
            qxtest::waitFor([&] { return key.view->source() == "mms://127.0.0.1:1/live"; }));
    }
    {
        // Any other video type is the stream itself.
        PlayingKey key(clipUrl);
        EXPECT_TRUE(qxtest::waitFor([&] { return key.view->source() == clipUrl; }));
        EXPECT_TRUE(
            qxtest::waitFor([&] { return brightArea(key.context) == QRect(0, 0, 48, 48); }));
    }
}

TEST(VideoViewTest, ThePageAndADropChangeThePathAndTheLoopingOfTheKey) {
    ensureApplication();
    qxtest::TempDir dir;
    const std::string clip = makeClip(dir, "drop.ogv", 64, 64, 5, "white");
    KitTestContext context;
    auto* view = new CVideoPluginView(&context);
    QWidget parent;
    auto* page = static_cast<QWidget*>(view->CreateGUI(&parent));
    ASSERT_NE(page, nullptr);
    auto* path = page->findChild<QLineEdit*>(QStringLiteral("2004"));
    auto* loop = page->findChild<QCheckBox*>(QStringLiteral("2007"));
    ASSERT_TRUE(path && loop && page->findChild<QWidget*>(QStringLiteral("2005")) &&
                page->findChild<QWidget*>(QStringLiteral("2006")));
    EXPECT_FALSE(path->accessibleName().isEmpty());

    QTest::keyClicks(path, QStringLiteral("/tmp/a.ogv"));
    EXPECT_EQ(context.property(u"Path"), u"/tmp/a.ogv");
    QTest::mouseClick(loop, Qt::LeftButton);
    EXPECT_EQ(context.property(u"Looping"), u"true");

    // Only the first dropped file is taken, and the page shows it.
    ASSERT_EQ(view->AcceptFiles(2), 1);
    EXPECT_EQ(view->DropFile(QString::fromStdString(clip).toStdU16String().c_str()), 0);
    EXPECT_EQ(path->text().toStdString(), clip);
    EXPECT_TRUE(qxtest::waitFor([&] { return view->source() == clip; }));

    const QStringList filters = CVideoPropertiesFrame::fileFilters();
    ASSERT_EQ(filters.size(), 3);
    EXPECT_TRUE(filters[0].contains(QLatin1String("*.ogv")) &&
                filters[0].contains(QLatin1String("*.mp4")));
    EXPECT_EQ(filters[1], QStringLiteral("Gif animation (*.gif)"));

    // For people: the page as the editor shows it.
    if (qEnvironmentVariableIsSet("QX_UPDATE_SCREENSHOTS")) {
        path->setText(QStringLiteral("/home/me/Videos/harbour.webm")); // not the scratch path
        EXPECT_TRUE(
            page->grab().save(QStringLiteral(QX_SOURCE_DIR "/docs/screenshots/video-page.png")));
    }
    EXPECT_EQ(view->DestroyGUI(), 1);
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
}

TEST(VideoLibraryTest, AKeyWithoutAPathPlaysTheShippedClipAndReleaseEndsThePlayer) {
    void* library = dlopen(QX_PROGRAM_DIR "/Plugins/Video/Video.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto createView = reinterpret_cast<QXCreateViewFunction>(dlsym(library, "createView"));
    auto createAction = reinterpret_cast<QXCreateActionFunction>(dlsym(library, "createAction"));
    ASSERT_TRUE(createView && createAction);

    KitTestContext context;
    IQXViewPluginInstance* view = createView(u"any.view", &context);
    ASSERT_NE(view, nullptr);
    context.setViewInstance(view);
    view->Activate();
    EXPECT_TRUE(qxtest::waitFor([&] { return !keyIsBlack(context) && context.updateCount() > 5; }));

    // Both kinds of action work on the view of their key; with no path, opening does nothing.
    KitTestContext actionContext;
    actionContext.setViewInstance(view);
    for (const char16_t* id : {u"goto.video.action", u"mute.video.action"}) {
        IQXActionPluginInstance* action = createAction(id, &actionContext);
        ASSERT_NE(action, nullptr);
        action->KeyDown();
        action->KeyUp();
        action->Release();
    }
    // Released while it plays: deleted by its own thread when that ends.
    view->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
    EXPECT_EQ(actionContext.destroyedCount(), 2);
    // The library stays loaded: GStreamer's types, once registered, cannot be unloaded.
}

} // namespace
