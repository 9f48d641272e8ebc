// The pictures of the editor shown to people (docs/screenshots), taken from a private X
// server: the main window as the program opens it over the shipped profile, its keyboard
// view, conditions and key properties, and the keyboard properties dialog.
//
// The pictures go into the sources only when QX_UPDATE_SCREENSHOTS=1 (or QX_SCREENSHOTS=1)
// is set; otherwise into a scratch folder, so a test run leaves the tree alone.
#include "app/CQXCfgDlg.h"
#include "app/CQXMessageDispatch.h"
#include "app/QXDeviceKeyboardSettings.h"
#include "app/QXMainController.h"
#include "editor/CQXConditionsView.h"
#include "editor/CQXKeyProps.h"
#include "editor/CQXKeyboardPropertiesDlg.h"
#include "editor/CQXLayersTreeCtrl.h"
#include "editor/CQXLayersView.h"
#include "model/QXKeyTable.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXConditionPluginInstance.h"
#include "support/QXTestSupport.h"
#include "support/QXXvfb.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;

namespace {

qxtest::QXXvfb* g_server = nullptr;

size_t keyNamed(std::u16string_view name) {
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (QXKeyTable::key(i).name == name)
            return i;
    return QXKeyTable::keyCount();
}

// What the X server shows of a widget's window (or of a part of it).
QImage shotOf(QWidget* widget) {
    QWidget* window = widget->window();
    const QRect part(widget->mapTo(window, QPoint(0, 0)), widget->size());
    const qreal ratio = window->devicePixelRatioF();
    return window->screen()
        ->grabWindow(window->winId(), part.x(), part.y(), part.width(), part.height())
        .toImage()
        .scaled(QSize(int(part.width() * ratio), int(part.height() * ratio)));
}

// Distinct colours in a picture: a blank or one-colour grab has next to none.
size_t colourCount(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_server)
            GTEST_SKIP() << "Xvfb is not installed";
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
        fs::create_directories(m_dir / "tmp");
    }

    void save(const QImage& image, const char* name) {
        const bool forPeople =
            qEnvironmentVariableIsSet("QX_UPDATE_SCREENSHOTS") || qEnvironmentVariableIsSet("QX_SCREENSHOTS");
        const fs::path folder = forPeople ? fs::path(QX_SOURCE_DIR) / "docs" / "screenshots" : m_dir / "shots";
        fs::create_directories(folder);
        EXPECT_GT(colourCount(image), 20u) << name << " looks blank";
        EXPECT_TRUE(image.save(QString::fromStdString((folder / name).string()))) << name;
    }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_runtime{"XDG_RUNTIME_DIR", (m_dir / "run").string()};
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "config").string()};
};

TEST_F(ScreenshotTest, TheEditorAsAUserFirstSeesIt) {
    // With a keyboard connected, so that the user's layers show.
    const fs::path keyboards = m_dir / "run" / "TesseraQuadrix-virtual";
    qxtest::ChildProcess keyboard({std::string(QX_PROGRAM_DIR) + "/qxvkbd", "--name", "kb", "--no-window"});
    ASSERT_TRUE(qxtest::waitFor([&] { return fs::is_socket(keyboards / "kb" / "control.sock"); }));
    CQXMessageDispatch dispatch;
    QXMainController main(QXMainController::Setup{
        {m_dir / "profile", m_dir / "tmp", fs::path(QX_PROGRAM_DIR)},
        QXDeviceDiscovery::createVirtualBackend(keyboards), {fs::path(QX_TEST_PLUGINS_DIR)}});
    main.loadProfile();
    ASSERT_TRUE(main.connectKeyboard());
    dispatch.Send(QXM_SHOW_MAIN_WINDOW);
    auto* window = qobject_cast<CQXCfgDlg*>(main.mainWindow());
    ASSERT_TRUE(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    // A layer of the user's own, switched on by conditions of every kind, over the
    // shipped default buttons; Q and A selected.
    window->tree()->selectItem(main.tree().find(u"default_buttons"));
    window->newLayer();
    const QXLayersItem::Ptr layer = window->tree()->selectedItem();
    ASSERT_TRUE(layer);
    main.layers().renameItem(layer, u"Browsing");
    auto onOff = makeQX<QXConditionPluginInstance>(main.plugins());
    onOff->setIds(u"test.good", u"switch.condition");
    layer->addCondition(makeQX<QXApplicationCondition>(u"firefox", true));
    layer->addCondition(makeQX<QXSysLayoutCondition>(main.liveState().currentLayout()));
    layer->addCondition(makeQX<QXModifierCondition>(QXModifier::kShift));
    layer->addCondition(makeQX<QXLockCondition>(QXModifier::kCapsLock));
    layer->addCondition(onOff);
    main.layers().conditionsChanged(layer);
    window->tree()->selectItem(main.tree().find(u"default_buttons"));
    window->tree()->selectItem(layer);
    // Q plays music in it, with a picture of its own.
    const size_t q = keyNamed(u"Q");
    const QXLayer::Ptr browsing = layer.dynamicCast<QXLayer>();
    const QXLayer::Ptr defaults = main.tree().find(u"default_buttons").dynamicCast<QXLayer>();
    ASSERT_TRUE(browsing && defaults);
    browsing->setPicture(q, defaults->getButton(q)->image);
    for (const QXActionVerb& verb : QXKeyTable::multimediaVerbs())
        if (verb.name == std::u16string_view(u"Media play"))
            browsing->setActionCode(q, verb.code);
    main.layers().rebuild();
    window->keyboardView()->selectKeys({q, keyNamed(u"A")});
    window->keyboardView()->setFocus();
    QApplication::processEvents();
    QTest::qWait(50); // the X server draws what the window sent; nothing to wait on in Qt

    save(shotOf(window), "main-window.png");
    save(shotOf(window->keyboardView()), "keyboard-view.png");
    save(shotOf(window->conditionsView()), "conditions-view.png");
    save(shotOf(window->keyProps()), "key-properties.png");

    {
        QXDeviceKeyboardSettings settings(main.deviceController());
        CQXKeyboardPropertiesDlg properties(settings, window);
        properties.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&properties));
        QTest::qWait(50);
        save(shotOf(&properties), "keyboard-properties.png");
    }

    delete window;
    main.shutdown();
}

} // namespace

int main(int argc, char** argv) {
    // Real X windows on a server of our own, never the desktop the tests run on.
    std::unique_ptr<qxtest::QXXvfb> server;
    if (qxtest::QXXvfb::available()) {
        qxtest::QXXvfb::Options options;
        options.screen = "1920x1080x24"; // what most people's screens have
        server = std::make_unique<qxtest::QXXvfb>(options);
        if (server->error().empty())
            g_server = server.get();
        else
            std::fprintf(stderr, "%s\n", server->error().c_str());
    }
    qputenv("QT_QPA_PLATFORM", g_server ? "xcb" : "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    return status;
}
