// The Functions plug-in's text picture, pages, drops and hot-key text, through the built
// library's exports under Qt's offscreen platform.

#include "FunctionsLibrary.h"
#include "KitTestContext.h"
#include "QXHotkeyText.h"
#include "controls/CTesSliderCtrl.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace {

using kittest::KitTestContext;

void ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "functions_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv); // kept to the end
    }
}

struct Rgb {
    int r, g, b;
};

// The key picture of a fresh "drawstring.view" with the given properties, once activated.
class Picture {
public:
    explicit Picture(std::initializer_list<std::pair<const char16_t*, const char16_t*>> props) {
        ensureApplication();
        for (auto [name, value] : props)
            m_context.SetProperty(name, value);
        IQXViewPluginInstance* view = functionstest::createView()(u"drawstring.view", &m_context);
        EXPECT_NE(view, nullptr);
        if (!view)
            return;
        view->Activate();
        view->Release();
    }

    // Top-down coordinates; the surface stores rows bottom-up in blue-green-red order.
    Rgb at(int x, int y) {
        const unsigned char* p = m_context.bits() + (47 - y) * 144 + x * 3;
        return {p[2], p[1], p[0]};
    }
    // The rows and columns holding pixels unlike the corner's: left, top, right, bottom.
    QRect ink() {
        Rgb bg = at(0, 0);
        QRect box;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                Rgb c = at(x, y);
                if (std::abs(c.r - bg.r) + std::abs(c.g - bg.g) + std::abs(c.b - bg.b) > 60)
                    box = box.united(QRect(x, y, 1, 1));
            }
        return box;
    }
    // The picture top-down, as people see it on the key.
    QImage image() {
        QImage image(48, 48, QImage::Format_RGB32);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                Rgb c = at(x, y);
                image.setPixel(x, y, qRgb(c.r, c.g, c.b));
            }
        return image;
    }
    bool same(Picture& other) {
        return std::equal(m_context.bits(), m_context.bits() + 48 * 144, other.m_context.bits());
    }
    int updates() const { return m_context.updateCount(); }

private:
    KitTestContext m_context;
};

TEST(FunctionsTextPicture, FreshViewShowsSampleTextWhiteOnBlackCentred) {
    Picture picture({});
    EXPECT_EQ(picture.updates(), 1) << "Activate publishes the picture";
    Rgb corner = picture.at(0, 0);
    EXPECT_EQ(corner.r + corner.g + corner.b, 0) << "black background";
    QRect ink = picture.ink();
    ASSERT_FALSE(ink.isEmpty()) << "no text drawn";
    int brightest = 0;
    for (int y = ink.top(); y <= ink.bottom(); ++y)
        for (int x = ink.left(); x <= ink.right(); ++x) {
            Rgb c = picture.at(x, y);
            brightest = std::max(brightest, c.r + c.g + c.b);
            EXPECT_TRUE(c.r == c.g && c.g == c.b) << "grey levels only (white text, smoothed)";
        }
    EXPECT_GE(brightest, 3 * 250) << "white text";
    EXPECT_LE(std::abs(ink.left() - (47 - ink.right())), 3) << "centred across";
    EXPECT_LE(std::abs(ink.top() - (47 - ink.bottom())), 3) << "centred top to bottom";
    EXPECT_GT(ink.height(), 16) << "\"Sample text\" at 8 points wraps into two lines";
    Picture longWord({{u"String", u"Abcdefghijklmnop"}});
    EXPECT_GT(longWord.ink().height(), 16) << "a word wider than the key breaks inside";
}

TEST(FunctionsTextPicture, SizeBelowFourIsEightPointsAndPointsAreAt96Dpi) {
    Picture eight({{u"Size", u"8"}});
    Picture three({{u"Size", u"3"}});
    Picture four({{u"Size", u"4"}});
    Picture garbage({{u"Size", u"big"}});
    EXPECT_TRUE(three.same(eight)) << "3 points draws at 8";
    EXPECT_TRUE(garbage.same(eight)) << "a size that is no number draws at 8";
    EXPECT_FALSE(four.same(eight)) << "4 points is a size of its own";
    EXPECT_LT(four.ink().height(), eight.ink().height());

    // 36 points on a 96 DPI surface is a 48-pixel em: a capital H is about 35 pixels tall.
    Picture big({{u"String", u"H"}, {u"Size", u"36"}});
    EXPECT_NEAR(big.ink().height(), 35, 3);
}

TEST(FunctionsTextPicture, ColoursAreWindowsColourValues) {
    Picture red({{u"Color", u"0"}, {u"BkColor", u"255"}, {u"String", u"W"}, {u"Size", u"30"}});
    Rgb corner = red.at(0, 0);
    EXPECT_EQ(corner.r, 255) << "0x0000FF is red";
    EXPECT_EQ(corner.g + corner.b, 0);
    QRect ink = red.ink();
    ASSERT_FALSE(ink.isEmpty());
    bool black = false;
    for (int y = ink.top(); y <= ink.bottom(); ++y)
        for (int x = ink.left(); x <= ink.right(); ++x) {
            Rgb c = red.at(x, y);
            black |= c.r == 0 && c.g == 0 && c.b == 0;
        }
    EXPECT_TRUE(black) << "colour 0 with a background is black text, not white";
}

TEST(FunctionsPages, TextPicturePageStoresEachChangeAndRedraws) {
    ensureApplication();
    KitTestContext context;
    IQXViewPluginInstance* view = functionstest::createView()(u"drawstring.view", &context);
    ASSERT_NE(view, nullptr);
    view->Activate();
    QWidget parent;
    IQXPluginGUIController* gui = view->GetGUIController();
    ASSERT_NE(gui, nullptr);
    QPointer<QWidget> page = static_cast<QWidget*>(gui->CreateGUI(&parent));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->parentWidget(), &parent);

    auto* slider = page->findChild<CTesSliderCtrl*>(QStringLiteral("1027"));
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->minimum(), 4);
    EXPECT_EQ(slider->maximum(), 72);
    EXPECT_EQ(slider->GetNumTics(), 35u) << "a tick every 2 points";
    EXPECT_EQ(slider->value(), 8) << "an empty size shows as 8";
    int before = context.updateCount();
    slider->setValue(20);
    EXPECT_EQ(context.property(u"Size"), u"20");
    EXPECT_GT(context.updateCount(), before) << "the key is redrawn at once";

    auto* text = page->findChild<QLineEdit*>(QStringLiteral("1025"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->maxLength(), 255);
    QTest::keyClicks(text, QStringLiteral("Hi"));
    EXPECT_EQ(context.property(u"String"), u"Hi");
    QTest::keyClick(text, Qt::Key_Escape);
    EXPECT_FALSE(page->isHidden()) << "Escape belongs to the editor, it does not close the page";

    EXPECT_EQ(gui->DestroyGUI(), 1);
    EXPECT_TRUE(page.isNull());
    view->Release();
    EXPECT_EQ(context.destroyedCount(), 1);
}

TEST(FunctionsPages, HotkeyFieldCapturesTheCombinationAndStoresIt) {
    ensureApplication();
    KitTestContext context;
    context.SetProperty(u"Hotkey", u"12:112");
    IQXActionPluginInstance* action = functionstest::createAction()(u"hotkey.action", &context);
    ASSERT_NE(action, nullptr);
    QWidget parent;
    QPointer<QWidget> page = static_cast<QWidget*>(action->GetGUIController()->CreateGUI(&parent));
    ASSERT_TRUE(page);
    auto* field = page->findChild<QLineEdit*>(QStringLiteral("1040"));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), QStringLiteral("Win+Shift+F1"));

    QTest::keyPress(field, Qt::Key_Control, Qt::ControlModifier);
    QTest::keyRelease(field, Qt::Key_Control, Qt::NoModifier);
    EXPECT_EQ(field->text(), QString()) << "a modifier let go without a key is forgotten";
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(field->text(), QStringLiteral("Ctrl+Alt+A"));
    EXPECT_EQ(context.property(u"Hotkey"), u"3:65");
    QTest::keyClick(field, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(field->text(), QStringLiteral("Shift+Tab")) << "Tab is captured, not a focus move";
    EXPECT_EQ(context.property(u"Hotkey"), u"4:9");
    action->Release(); // with the page still open: it goes with the instance
    EXPECT_TRUE(page.isNull());
}

TEST(FunctionsExecute, OfThreeDroppedFilesTheFirstIsKept) {
    ensureApplication();
    KitTestContext context;
    IQXActionPluginInstance* action = functionstest::createAction()(u"execute.action", &context);
    ASSERT_NE(action, nullptr);
    QWidget parent;
    QPointer<QWidget> page = static_cast<QWidget*>(action->GetGUIController()->CreateGUI(&parent));
    IQXPluginDropTarget* target = action->GetDropTarget();
    ASSERT_NE(target, nullptr);
    ASSERT_NE(target->AcceptFiles(3), 0);
    // As the program drops: file after file while the target asks for more.
    int taken = 0;
    for (const char16_t* path : {u"/tmp/one.txt", u"/tmp/two.txt", u"/tmp/three.txt"}) {
        ++taken;
        if (!target->DropFile(path))
            break;
    }
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(context.property(u"Path"), u"/tmp/one.txt");
    auto* field = page->findChild<QLineEdit*>(QStringLiteral("1011"));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), QStringLiteral("/tmp/one.txt")) << "the page shows the drop";
    action->Release();
}

// The picture for people (docs/screenshots/functions-text-keys.png): text keys as the plug-in
// draws them, twice their size, above the text picture page. Into the sources only when
// QX_UPDATE_SCREENSHOTS (or QX_SCREENSHOTS) is set, otherwise into a scratch folder.
TEST(FunctionsPages, TextKeysAndTheirPageForPeople) {
    ensureApplication();
    std::vector<QImage> keys;
    keys.push_back(Picture({}).image());
    keys.push_back(Picture({{u"String", u"Copy"}, {u"Size", u"11"}, {u"Bold", u"1"}}).image());
    keys.push_back(
        Picture({{u"String", u"Ctrl+Alt+A"}, {u"Color", u"65535"}, {u"BkColor", u"8388608"}})
            .image());
    keys.push_back(Picture({{u"String", u"\u00DF"},
                            {u"Size", u"28"},
                            {u"Italic", u"1"},
                            {u"Color", u"0"},
                            {u"BkColor", u"255"}})
                       .image());
    KitTestContext context;
    IQXViewPluginInstance* view = functionstest::createView()(u"drawstring.view", &context);
    ASSERT_NE(view, nullptr);
    QWidget parent;
    parent.resize(300, 196);
    auto* page = static_cast<QWidget*>(view->GetGUIController()->CreateGUI(&parent));
    ASSERT_NE(page, nullptr);
    QImage pageImage = page->grab().toImage();

    QImage shot(std::max(pageImage.width(), 8 + 104 * 4), 112 + pageImage.height(),
                QImage::Format_RGB32);
    shot.fill(QColor(64, 64, 64));
    {
        QPainter painter(&shot);
        for (size_t i = 0; i < keys.size(); ++i)
            painter.drawImage(QRect(8 + 104 * static_cast<int>(i), 8, 96, 96), keys[i]);
        painter.drawImage(0, 112, pageImage);
    }
    view->Release();

    bool forPeople = qEnvironmentVariableIsSet("QX_UPDATE_SCREENSHOTS") ||
                     qEnvironmentVariableIsSet("QX_SCREENSHOTS");
    qxtest::TempDir scratch;
    QString folder = forPeople ? QStringLiteral(QX_SOURCE_DIR "/docs/screenshots")
                               : QString::fromStdString(scratch.path().string());
    QDir().mkpath(folder);
    EXPECT_TRUE(shot.save(folder + QStringLiteral("/functions-text-keys.png")));
    // Which family the unknown default "Tahoma" fell back to, for the record.
    QFont fallback(QStringLiteral("sans-serif"));
    fallback.setStyleHint(QFont::SansSerif);
    RecordProperty("sans_serif_family", QFontInfo(fallback).family().toStdString());
}

TEST(FunctionsActions, WithoutAnXServerAKeyPressSaysWhyInTheLog) {
    ensureApplication();
    // The plug-in's message goes to the log of whichever copy of the facade it reaches,
    // standard error by default: catch that.
    std::fflush(stderr);
    const qxtest::TempDir dir;
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    {
        qxtest::ScopedEnv noDisplay("DISPLAY", "");
        KitTestContext context;
        context.SetProperty(u"String", u"ab");
        IQXActionPluginInstance* action = functionstest::createAction()(u"string.action", &context);
        EXPECT_NE(action, nullptr);
        if (action) {
            action->KeyDown();
            action->Release();
        }
    }
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    EXPECT_NE(qxtest::readFile(dir / "stderr").find("Typing a text: no X display to send keys to"), std::string::npos)
        << qxtest::readFile(dir / "stderr");
}

// Zombie children of this process: an opener that nobody waited for.
int zombieChildren() {
    int zombies = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string stat = qxtest::readFile(entry.path() / "stat");
        size_t end = stat.rfind(')');
        if (end == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &parent) == 2 &&
            parent == ::getpid() && state == 'Z')
            ++zombies;
    }
    return zombies;
}

TEST(FunctionsExecute, PressOpensThePathWithTheDesktopsOpenerAndLeavesNoZombie) {
    ensureApplication();
    qxtest::TempDir dir;
    qxtest::writeFile(dir / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.got.tmp\"\n"
                                        "mv \"$0.got.tmp\" \"$0.got\"\n");
    std::filesystem::permissions(dir / "xdg-open", std::filesystem::perms::owner_all);
    qxtest::ScopedEnv path("PATH", dir.path().string() + ":" + qgetenv("PATH").toStdString());
    KitTestContext context;
    context.SetProperty(u"Path", u"/tmp/a file.txt");
    IQXActionPluginInstance* action = functionstest::createAction()(u"execute.action", &context);
    ASSERT_NE(action, nullptr);
    action->KeyDown();
    action->KeyUp();
    action->Release();
    ASSERT_TRUE(qxtest::waitFor([&] { return std::filesystem::exists(dir / "xdg-open.got"); }))
        << "the opener was never started";
    EXPECT_EQ(qxtest::readFile(dir / "xdg-open.got"), "/tmp/a file.txt");
    EXPECT_EQ(zombieChildren(), 0);
}

TEST(FunctionsHotkeyText, DisplayTextAndStoredForm) {
    using QXHotkeyText::displayText;
    using QXHotkeyText::parse;
    EXPECT_EQ(displayText(parse(u"3:65")), "Ctrl+Alt+A");
    EXPECT_EQ(displayText(parse(u"12:112")), "Win+Shift+F1");
    EXPECT_EQ(displayText(parse(u"15:5")), "Win+Ctrl+Alt+Shift+#05");
    EXPECT_EQ(displayText(parse(u"0:103")), "Num 7");
    EXPECT_EQ(displayText(parse(u"2:0")), "Ctrl+");
    EXPECT_EQ(parse(u"365"), (QXHotkeyText::Hotkey{})) << "no colon: no hot-key";
    EXPECT_EQ(parse(u"00000000003:65"), (QXHotkeyText::Hotkey{}))
        << "the colon must be among the first ten characters";
    EXPECT_EQ(parse(u"x:65"), (QXHotkeyText::Hotkey{0, 65})) << "no number reads as 0";
    EXPECT_EQ(QXHotkeyText::format({3, 65}), u"3:65");
}

} // namespace
