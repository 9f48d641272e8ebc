// The editor's main window over the real main controller, the shipped items and the
// test plug-ins, on Qt's offscreen platform; the story test drives a virtual keyboard
// run as its own program.
#include "app/CQXCfgDlg.h"
#include "app/CQXMessageDispatch.h"
#include "app/QXMainController.h"
#include "app/QXTrayIcon.h"
#include "editor/CQXLayersTreeCtrl.h"
#include "editor/CQXCommonPluginProps.h"
#include "editor/CQXDisplayProps.h"
#include "editor/CQXKeyProps.h"
#include "editor/CQXLayersView.h"
#include "pluginhost/QXPluginRegistry.h"
#include "store/QXProfile.h"
#include "model/QXKeyTable.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "support/QXTestSupport.h"

#include <QAction>
#include <QDropEvent>
#include <QMimeData>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QToolBar>
#include <QToolButton>
#include <QTest>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qxtest::waitFor;

namespace {

constexpr size_t kF1 = 1, kF2 = 2;
constexpr uint16_t kRed = 0xF800, kGreen = 0x07E0;

std::string displayFile(size_t key) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.sys", QXKeyTable::key(key).displayNumber);
    return name;
}

// A display file's picture in one RGB 5-6-5 colour.
std::string solid(uint16_t colour) {
    std::string bytes;
    for (int i = 0; i < 48 * 48; ++i)
        bytes += static_cast<char>(colour >> 8), bytes += static_cast<char>(colour & 0xFF);
    return bytes;
}

// What a file dialog was asked for, and the file the "user" picks in it.
struct DialogLog {
    QString title;
    QString selected;
    QString suffix;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
};

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
        fs::create_directories(m_dir / "tmp");
    }
    ~MainWindowTest() override {
        if (m_main) {
            delete m_main->mainWindow();
            m_main->shutdown();
        }
    }

    QXProfileFolders folders() const { return {m_dir / "profile", m_dir / "tmp", fs::path(QX_PROGRAM_DIR)}; }

    // The program as qxcfg starts it, with the keyboards of `keyboards` (virtual ones).
    void start() {
        m_main = std::make_unique<QXMainController>(QXMainController::Setup{
            folders(), QXDeviceDiscovery::createVirtualBackend(m_dir / "run" / "TesseraQuadrix-virtual"),
            {fs::path(QX_TEST_PLUGINS_DIR)}});
        m_main->loadProfile();
        m_main->connectKeyboard();
    }

    CQXCfgDlg* open() {
        m_dispatch.Send(QXM_SHOW_MAIN_WINDOW);
        auto* window = qobject_cast<CQXCfgDlg*>(m_main->mainWindow());
        EXPECT_TRUE(window);
        if (window) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
            window->setFileDialogRunner([this](QFileDialog& dialog) {
                m_dialogs.push_back({dialog.windowTitle(), dialog.selectedFiles().value(0),
                                     dialog.defaultSuffix(), dialog.nameFilters(), dialog.acceptMode(),
                                     dialog.fileMode()});
                if (m_answer.isEmpty())
                    return int(QDialog::Rejected);
                dialog.selectFile(m_answer);
                m_answer.clear();
                return int(QDialog::Accepted);
            });
        }
        return window;
    }

    fs::path tessera() const { return m_dir / "run" / "TesseraQuadrix-virtual" / "kb" / "disk" / "vTessera"; }
    std::string display(size_t key) const {
        return qxtest::readFile(tessera() / "dynamic" / displayFile(key)).substr(0, 4608);
    }
    // The program writes the keyboard from its device thread: wait for it.
    bool shows(size_t key, uint16_t colour) {
        return waitFor([&] {
            QApplication::processEvents();
            return display(key) == solid(colour);
        });
    }

    std::unique_ptr<qxtest::ChildProcess> startKeyboard() {
        auto keyboard = std::make_unique<qxtest::ChildProcess>(
            std::vector<std::string>{std::string(QX_PROGRAM_DIR) + "/qxvkbd", "--name", "kb", "--no-window"});
        EXPECT_TRUE(waitFor([&] { return fs::is_socket(tessera().parent_path().parent_path() / "control.sock"); }));
        return keyboard;
    }

    fs::path picture(const char* name, QColor colour) {
        QImage image(48, 48, QImage::Format_RGB32);
        image.fill(colour);
        const fs::path path = m_dir / name;
        EXPECT_TRUE(image.save(QString::fromStdString(path.string())));
        return path;
    }

    static void dropFile(QWidget* target, const fs::path& file) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
        const QPoint at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        ASSERT_TRUE(enter.isAccepted()) << "the panel refused the file";
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
    }

    QXLayersItem::Ptr userItem(size_t index) {
        const QXItemList& items = m_main->tree().userLayers()->children();
        return index < items.size() ? items[index] : QXLayersItem::Ptr();
    }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_runtime{"XDG_RUNTIME_DIR", (m_dir / "run").string()};
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "config").string()};
    qxtest::ScopedEnv m_log{"QX_TEST_PLUGIN_LOG", (m_dir / "plugin.log").string()};
    CQXMessageDispatch m_dispatch;
    std::unique_ptr<QXMainController> m_main;
    std::vector<DialogLog> m_dialogs;
    QString m_answer; // the file the next file dialog picks; cancelled when empty
};

TEST_F(MainWindowTest, ToolBarMenusAndTheirGreyingFollowTheTreeAndTheFileDialogsProposeTheRightFiles) {
    start();
    CQXCfgDlg* window = open();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tessera Quadrix Configurator " QX_VERSION_TEXT));

    // Eight buttons in order, with their texts, tips and pictures; two separators.
    QStringList texts;
    for (QAction* a : window->toolBar()->actions()) {
        if (a->isSeparator()) {
            texts << QStringLiteral("|");
            continue;
        }
        texts << a->text();
        EXPECT_FALSE(a->toolTip().isEmpty()) << a->text().toStdString();
        EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
        EXPECT_EQ(a->objectName().toInt(), CQXCfgDlg::kNewLayer + texts.size() - 1 -
                                               texts.count(QStringLiteral("|")));
    }
    EXPECT_EQ(texts.join(QLatin1Char(',')),
              QStringLiteral("New Layer,New Group,Delete,|,Paint,Export,Import,|,Updates,Properties"));
    ASSERT_TRUE(window->action(CQXCfgDlg::kAbout));
    EXPECT_EQ(window->action(CQXCfgDlg::kAbout)->text(), QStringLiteral("About Configurator..."));
    EXPECT_EQ(window->action(CQXCfgDlg::kForum)->text(), QStringLiteral("Discussion forum..."));
    QStringList opened;
    window->setUrlOpener([&](const QString& url) { return opened << url, true; });
    window->action(CQXCfgDlg::kForum)->trigger();
    EXPECT_EQ(opened, QStringList{QString::fromLatin1(QXTrayIcon::kForumPage)});

    // Nothing selected: nothing to delete, paint or export.
    window->tree()->clearSelection();
    window->updateCommands();
    EXPECT_FALSE(window->action(CQXCfgDlg::kDelete)->isEnabled());
    EXPECT_FALSE(window->action(CQXCfgDlg::kPaint)->isEnabled());
    EXPECT_FALSE(window->exportLayerImageAction()->isEnabled());
    // A group: exported as a whole, but it has no picture; "Layers" itself stays.
    window->tree()->selectItem(m_main->tree().userLayers());
    EXPECT_TRUE(window->exportLayerAction()->isEnabled());
    EXPECT_FALSE(window->exportLayerImageAction()->isEnabled());
    EXPECT_FALSE(window->action(CQXCfgDlg::kDelete)->isEnabled());
    // A new layer: selected, everything on.
    window->action(CQXCfgDlg::kNewLayer)->trigger();
    const QXLayersItem::Ptr layer = window->tree()->selectedItem();
    ASSERT_TRUE(layer && !layer->isGroup());
    EXPECT_TRUE(layer->isActive()) << "a new layer takes part at once";
    EXPECT_TRUE(window->exportLayerImageAction()->isEnabled());
    EXPECT_TRUE(window->action(CQXCfgDlg::kDelete)->isEnabled());
    EXPECT_TRUE(window->action(CQXCfgDlg::kPaint)->isEnabled());

    // Export proposes the name and ".layers"; import takes both extensions.
    m_answer = QString::fromStdString((m_dir / "out" / "mine").string());
    fs::create_directories(m_dir / "out");
    window->exportLayerAction()->trigger();
    ASSERT_EQ(m_dialogs.size(), 1u);
    EXPECT_EQ(QFileInfo(m_dialogs[0].selected).fileName(), QStringLiteral("New layer.layers"));
    EXPECT_EQ(m_dialogs[0].suffix, QStringLiteral("layers"));
    EXPECT_EQ(m_dialogs[0].mode, QFileDialog::AcceptSave);
    EXPECT_EQ(m_dialogs[0].filters, QStringList{QStringLiteral("Layers files (*.layers)")});
    ASSERT_TRUE(fs::exists(m_dir / "out" / "mine.layers")) << "the default extension is added";

    fs::copy_file(m_dir / "out" / "mine.layers", m_dir / "out" / "theirs.tqlz");
    const size_t before = m_main->tree().userLayers()->children().size();
    for (const char* name : {"mine.layers", "theirs.tqlz"}) {
        m_answer = QString::fromStdString((m_dir / "out" / name).string());
        window->importLayerAction()->trigger();
        EXPECT_TRUE(window->findChildren<QMessageBox*>().isEmpty()) << name;
    }
    EXPECT_EQ(m_dialogs.back().filters, QStringList{QStringLiteral("Layers files (*.layers *.tqlz)")});
    EXPECT_EQ(m_main->tree().userLayers()->children().size(), before + 2);
    EXPECT_EQ(window->tree()->selectedItem(), userItem(0)) << "the imported item is selected";

    // A file that is no layers file: told, nothing added.
    std::ofstream(m_dir / "out" / "bad.layers") << "not an archive";
    m_answer = QString::fromStdString((m_dir / "out" / "bad.layers").string());
    window->importLayerAction()->trigger();
    EXPECT_EQ(m_main->tree().userLayers()->children().size(), before + 2);
    EXPECT_EQ(window->findChildren<QMessageBox*>().size(), 1);

    // The layer picture goes out and comes back as a new layer.
    window->tree()->selectItem(layer);
    m_answer = QString::fromStdString((m_dir / "out" / "picture").string());
    window->exportLayerImageAction()->trigger();
    EXPECT_EQ(m_dialogs.back().filters, QStringList{QStringLiteral("PNG Image (*.png)")});
    ASSERT_TRUE(fs::exists(m_dir / "out" / "picture.png"));
    m_answer = QString::fromStdString((m_dir / "out" / "picture.png").string());
    window->importLayerFromImageAction()->trigger();
    EXPECT_EQ(userItem(0)->displayName(), u"picture");

    // The keyboard's files for the whole tree.
    m_answer = QString::fromStdString((m_dir / "dump").string());
    window->exportLayoutAction()->trigger();
    EXPECT_EQ(m_dialogs.back().title, QStringLiteral("Select destination folder for dumping"));
    EXPECT_TRUE(fs::exists(m_dir / "dump" / "Tessera" / "scancode.sys"));
}

TEST_F(MainWindowTest, ClosingDestroysTheWindowKeepsTheProgramAndTheNextOpeningIsWhereTheUserLeftIt) {
    start();
    QPointer<CQXCfgDlg> window = open();
    ASSERT_TRUE(window);
    window->action(CQXCfgDlg::kNewLayer)->trigger();
    ASSERT_FALSE(m_main->layers().selectedItems().empty());
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(window && window->isVisible()) << "Escape does not close the editor";

    window->resize(window->width() + 120, window->height() + 80);
    window->move(40, 30);
    const QRect where = window->geometry();
    window->close();
    EXPECT_TRUE(waitFor([&] {
        QApplication::processEvents();
        return window.isNull();
    })) << "closed means destroyed";
    EXPECT_EQ(m_main->mainWindow(), nullptr);
    EXPECT_TRUE(m_main->layers().selectedItems().empty())
        << "the keyboard no longer shows what the editor had selected";

    window = open();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->geometry().size(), where.size());
}

TEST_F(MainWindowTest, AUserBuildsLayersWithPicturesAndViewsAndTheKeyboardAndTheProfileFollow) {
    auto keyboard = startKeyboard();
    start();
    ASSERT_TRUE(m_main->device().isConnected());
    CQXCfgDlg* window = open();
    ASSERT_TRUE(window);
    CQXLayersView* view = window->keyboardView();
    CQXDisplayProps* panel = window->keyProps()->displayProps();

    // A new layer; F1 gets a picture dropped on the display panel, F2 the test plug-in's
    // colour view, turned green.
    window->action(CQXCfgDlg::kNewLayer)->trigger();
    const QXLayer::Ptr first = window->tree()->selectedItem().dynamicCast<QXLayer>();
    ASSERT_TRUE(first);
    view->selectKeys({kF1});
    dropFile(panel, picture("red.png", QColor(255, 0, 0)));
    EXPECT_TRUE(shows(kF1, kRed)) << "the dropped picture reaches the keyboard";

    view->selectKeys({kF2});
    QAction* colour = panel->pluginMenu()->findChild<QAction*>(QStringLiteral("1632"));
    ASSERT_TRUE(colour);
    colour->trigger();
    ASSERT_TRUE(first->getButton(kF2)->view);
    first->getButton(kF2)->view->setProperty(u"Color", u"65280");
    void* library = dlopen(m_main->plugins().find(u"test.good")->path().c_str(), RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_TRUE(library);
    reinterpret_cast<void (*)()>(dlsym(library, "qxTestRedraw"))();
    EXPECT_TRUE(shows(kF2, kGreen)) << "the view's pictures reach the keyboard";
    dlclose(library);

    // The virtual keyboard's own picture shows it too.
    const fs::path shot = m_dir / "keyboard.png";
    const qxtest::ProgramResult snapped = qxtest::runProgram(
        {std::string(QX_PROGRAM_DIR) + "/qxvkbd", "snapshot", shot.string(), "--name", "kb"});
    ASSERT_EQ(snapped.exitStatus, 0) << snapped.err;
    EXPECT_TRUE(fs::exists(shot));

    // F1 copied into a second layer through the clipboard.
    view->selectKeys({kF1});
    view->setFocus();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    window->action(CQXCfgDlg::kNewLayer)->trigger();
    const QXLayer::Ptr second = window->tree()->selectedItem().dynamicCast<QXLayer>();
    ASSERT_TRUE(second && second != first);
    view->selectKeys({kF1});
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(second->getButton(kF1)->image) << "pasted";
    EXPECT_NE(second->getButton(kF1)->image, first->getButton(kF1)->image) << "a copy of its own";

    // The first layer goes out to a file, is deleted, and comes back.
    window->tree()->selectItem(first);
    m_answer = QString::fromStdString((m_dir / "first.layers").string());
    window->exportLayerAction()->trigger();
    ASSERT_TRUE(fs::exists(m_dir / "first.layers"));
    window->action(CQXCfgDlg::kDelete)->trigger();
    EXPECT_FALSE(m_main->tree().find(first->identifier()));
    EXPECT_TRUE(waitFor([&] {
        QApplication::processEvents();
        return display(kF2) != solid(kGreen);
    })) << "the deleted layer's view left the keyboard";
    m_answer = QString::fromStdString((m_dir / "first.layers").string());
    window->importLayerAction()->trigger();
    const QXLayer::Ptr back = window->tree()->selectedItem().dynamicCast<QXLayer>();
    ASSERT_TRUE(back);
    EXPECT_TRUE(shows(kF1, kRed));
    EXPECT_TRUE(shows(kF2, kGreen)) << "the imported view is live again";
    const std::u16string backId = back->identifier(), secondId = second->identifier();

    // Everything is in the profile the program writes at exit.
    delete window;
    m_main->shutdown();
    m_main.reset();
    QXProfile profile(folders(), QXKeyTable::names());
    const QXPropertyNode::Ptr root = profile.load();
    QXLayerTree tree;
    tree.loadFrom(*root->findChild(u"Layers"));
    const QXLayer::Ptr savedBack = tree.find(backId).dynamicCast<QXLayer>();
    const QXLayer::Ptr savedSecond = tree.find(secondId).dynamicCast<QXLayer>();
    ASSERT_TRUE(savedBack && savedSecond);
    for (const QXLayer::Ptr& layer : {savedBack, savedSecond}) {
        QXButton* button = layer->getButton(kF1);
        ASSERT_TRUE(button->image) << "F1 of " << toUtf8(layer->displayName());
        ASSERT_TRUE(button->image->loadSource());
        RGBQUAD pixel{};
        button->image->getPixelColor(24, 24, &pixel);
        EXPECT_EQ(pixel.rgbRed, 255);
        EXPECT_EQ(pixel.rgbGreen, 0);
    }
    ASSERT_TRUE(savedBack->getButton(kF2)->view);
    EXPECT_EQ(savedBack->getButton(kF2)->view->subPluginId(), u"color.view");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
