// The key property panels on the shipped default profile, with the test plug-ins, on
// Qt's offscreen platform: what each control stores on the selected keys of the current
// layer, what the panels show for stored values, and what survives a save.
#include "editor/CQXKeyProps.h"

#include "editor/CQXActionProps.h"
#include "editor/CQXDisplayProps.h"
#include "editor/CQXKeyPreview.h"
#include "editor/CQXKeyboardSelect.h"
#include "editor/CQXLayersView.h"
#include "editor/CQXOnScreenKeyboard.h"
#include "editor/CQXPluginProps.h"
#include "editor/CQXViewProps.h"
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXPluginHostFactory.h"
#include "pluginhost/QXPluginRegistry.h"
#include "store/QXProfile.h"
#include "EditorTestSupport.h"
#include "support/QXTestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QUrl>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using qxtest::Counter;
using qxtest::centreOf;

constexpr size_t kEscape = 0, kQ = 42, kA = 64;

// A fresh profile seeded with the shipped button sets, a layer of the user's own
// ("Mine") selected in the layer tree, and the panels beside a keyboard view.
class KeyPropsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qxtest::ensureOffscreenApplication(); }

    KeyPropsTest()
        : m_profile({m_dir / "profile", m_dir / "tmp", fs::path(QX_PROGRAM_DIR)}, QXKeyTable::names()) {
        fs::create_directories(m_dir / "tmp");
        QXPluginInstanceFactory::setCurrent(&m_factory);
        QXPropertyNode plugins;
        QXPluginRegistry::scan(QX_TEST_PLUGINS_DIR, plugins);
        m_registry.build(plugins);
        load(m_tree);
        m_mine = createLayer(m_tree.userLayers()->children());
        m_mine->setDisplayName(u"Mine");
        m_controller = std::make_unique<QXLayersController>(m_tree, m_dispatch);
        m_controller->selectItem(m_mine);
        m_keyboard = std::make_unique<CQXLayersView>(*m_controller, m_dispatch);
        m_props = std::make_unique<CQXKeyProps>(*m_controller, *m_keyboard, m_registry, m_dispatch);
        m_props->resize(1000, 240);
        m_dispatch.RegisterHandler(QXM_KEY_EDITED, &m_edits, &Counter::hit);
    }
    ~KeyPropsTest() override {
        m_dispatch.UnregisterObject(&m_edits);
        m_props.reset();
        m_keyboard.reset();
        m_controller->unselectAll();
        m_controller.reset();
        m_tree.topLevel().clear();
        QXPluginInstanceFactory::setCurrent(nullptr);
    }

    void load(QXLayerTree& tree) {
        QXPropertyNode::Ptr root = m_profile.load();
        ASSERT_TRUE(root);
        if (auto layers = root->findChild(u"Layers"))
            tree.loadFrom(*layers);
        tree.ensureFixedItems(m_profile);
    }
    // The keyboard view's selection, as a click there makes it.
    void select(std::vector<size_t> keys) {
        m_keyboard->selectKeys(keys);
        m_dispatch.Send(QXM_KEY_SELECTED);
    }
    template <class W> W* control(QWidget* panel, const QString& name) {
        auto* w = panel->findChild<W*>(name);
        EXPECT_TRUE(w) << "no control " << name.toStdString();
        return w;
    }
    QXButton& own(size_t key) { return *m_mine->getButton(key); }
    std::u16string entry(size_t key, std::u16string_view name) {
        const QXPropertyNode::Ptr& p = own(key).properties();
        QXPropertyNode::Ptr node = p ? p->findChild(name) : QXPropertyNode::Ptr();
        return node ? node->value() : u"(none)";
    }
    fs::path picture(const char* name, QColor colour, int size = 48) {
        QImage image(size, size, QImage::Format_RGB32);
        image.fill(colour);
        const fs::path path = m_dir / name;
        EXPECT_TRUE(image.save(QString::fromStdString(path.string())));
        return path;
    }
    static void dropFiles(QWidget* target, const std::vector<fs::path>& files) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const fs::path& file : files)
            urls << QUrl::fromLocalFile(QString::fromStdString(file.string()));
        mime.setUrls(urls);
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        ASSERT_TRUE(enter.isAccepted()) << "the panel refused to take files";
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
    }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_pluginLog{"QX_TEST_PLUGIN_LOG", (m_dir / "plugin.log").string()};
    QXProfile m_profile;
    QXDispatch m_dispatch;
    QXPluginRegistry m_registry;
    QXPluginHostFactory m_factory{m_registry};
    QXLayerTree m_tree;
    QXLayer::Ptr m_mine;
    std::unique_ptr<QXLayersController> m_controller;
    std::unique_ptr<CQXLayersView> m_keyboard;
    std::unique_ptr<CQXKeyProps> m_props;
    Counter m_edits;
};

TEST_F(KeyPropsTest, KeyVerbsShowWhatIsStoredAndStoreWhatIsChosen) {
    CQXActionProps* action = m_props->actionProps();
    auto* byDefault = control<QRadioButton>(action, "1080");
    auto* multimedia = control<QRadioButton>(action, "1081");
    auto* other = control<QRadioButton>(action, "1082");
    auto* verbs = control<QListWidget>(action, "1077");
    auto* selectKey = control<QPushButton>(action, "1084");
    ASSERT_TRUE(byDefault && multimedia && other && verbs && selectKey);
    ASSERT_EQ(verbs->count(), 17);
    EXPECT_EQ(verbs->visualItemRect(verbs->item(0)).height(), 24);
    for (int i = 0; i < verbs->count(); ++i)
        EXPECT_FALSE(verbs->item(i)->icon().isNull()) << "verb " << i << " has no icon";

    // Nothing selected, or a layer with the fixed-item mark: greyed, not hidden.
    select({});
    EXPECT_FALSE(action->isEnabled());
    m_mine->setFlag(QXLayersItem::kFixed);
    select({kQ});
    for (QWidget* panel : std::initializer_list<QWidget*>{
             action, m_props->displayProps(), m_props->viewProps(), m_props->pluginProps()}) {
        EXPECT_FALSE(panel->isEnabled()) << panel->accessibleName().toStdString();
        // The plug-in's settings share a tab with the text appearance, which shows first.
        if (panel != m_props->pluginProps()) {
            EXPECT_FALSE(panel->isHidden()) << panel->accessibleName().toStdString();
        }
    }
    m_mine->clearFlag(QXLayersItem::kFixed);
    select({kQ});
    EXPECT_TRUE(m_props->pluginProps()->isEnabled());

    // A code equal to the key's own is the default; a code of another key is named.
    m_mine->setPicture(kQ, {});
    m_mine->setActionCode(kQ, QXKeyTable::key(kQ).actionCode);
    m_mine->setPicture(kA, {});
    m_mine->setActionCode(kA, QXKeyTable::key(kEscape).actionCode);
    select({kQ});
    EXPECT_TRUE(action->isEnabled());
    EXPECT_TRUE(byDefault->isChecked());
    EXPECT_EQ(other->text(), "Other verb");
    EXPECT_FALSE(verbs->isEnabled());
    select({kA});
    EXPECT_TRUE(other->isChecked());
    EXPECT_EQ(other->text(), "Other verb (Esc)");
    EXPECT_TRUE(selectKey->isEnabled());

    // A verb chosen from the list goes to every selected key, and the keyboard hears it.
    select({kQ, kA});
    const int edits = m_edits.count;
    multimedia->click();
    EXPECT_TRUE(verbs->isEnabled());
    const QXActionVerb verb = QXKeyTable::multimediaVerbs()[3];
    verbs->setCurrentRow(3);
    EXPECT_EQ(own(kQ).actionCode, verb.code);
    EXPECT_EQ(own(kA).actionCode, verb.code);
    EXPECT_GT(m_edits.count, edits);
    select({kA});
    EXPECT_TRUE(multimedia->isChecked());
    EXPECT_EQ(verbs->currentRow(), 3);

    // "Other verb": the key picked on the keyboard picture gives its code.
    action->keyChooser = [](QWidget*, size_t current) -> std::optional<size_t> {
        EXPECT_EQ(current, kA);
        return size_t{1}; // F1
    };
    other->click();
    selectKey->click();
    EXPECT_EQ(own(kA).actionCode, QXKeyTable::key(1).actionCode);
    EXPECT_EQ(other->text(), "Other verb (F1)");

    // "Default" clears the stored code.
    byDefault->click();
    EXPECT_EQ(own(kA).actionCode, 0);
    EXPECT_EQ(own(kQ).actionCode, verb.code) << "a key that was not selected changed";
}

TEST_F(KeyPropsTest, TextAppearanceDefaultsCopyPasteAndReset) {
    CQXViewProps* text = m_props->viewProps();
    m_mine->setPicture(kQ, {});
    m_mine->setPicture(kA, {});
    select({kQ});

    // No entries: Tahoma, 28 points, white on black; shown even where Tahoma is missing.
    EXPECT_EQ(CQXViewProps::read(own(kQ)), CQXViewProps::Appearance{});
    EXPECT_EQ(text->shown(), CQXViewProps::Appearance{});
    EXPECT_EQ(control<QComboBox>(text, "FontFace")->currentText(), "Tahoma");
    EXPECT_EQ(control<QSpinBox>(text, "FontSizeEdit")->value(), 28);
    EXPECT_EQ(text->shown().color, 0xFFFFFFu);
    EXPECT_EQ(text->shown().bkColor, 0u);

    // Each control writes its entry; colours with red in the lowest byte.
    control<QCheckBox>(text, "Bold")->click();
    control<QSpinBox>(text, "FontSizeEdit")->setValue(40);
    text->setEntry(u"Color",
                   u"" + QString::number(CQXViewProps::toColorRef(Qt::red)).toStdU16String());
    EXPECT_EQ(entry(kQ, u"Bold"), u"true");
    EXPECT_EQ(entry(kQ, u"FontSize"), u"40");
    EXPECT_EQ(entry(kQ, u"Color"), u"255");
    EXPECT_EQ(entry(kA, u"Bold"), u"(none)") << "a key that was not selected changed";
    select({kA});
    select({kQ});
    EXPECT_TRUE(text->shown().bold);
    EXPECT_EQ(text->shown().size, 40);
    EXPECT_EQ(CQXViewProps::fromColorRef(text->shown().color), QColor(Qt::red));

    // Copy from Q, paste on A: all six arrive, A's other properties stay.
    own(kA).ensureProperties().addChild(u"Keep", u"me");
    control<QPushButton>(text, "Copy")->click();
    select({kA});
    EXPECT_EQ(text->shown(), CQXViewProps::Appearance{});
    control<QPushButton>(text, "Paste")->click();
    EXPECT_EQ(CQXViewProps::read(own(kA)), CQXViewProps::read(own(kQ)));
    EXPECT_EQ(entry(kA, u"FontFace"), u"Tahoma");
    EXPECT_EQ(entry(kA, u"BkColor"), u"0");

    // Reset removes the six, so the defaults apply again; the rest stays.
    control<QPushButton>(text, "Reset")->click();
    for (std::u16string_view name :
         {u"FontFace", u"FontSize", u"Bold", u"Italic", u"Color", u"BkColor"})
        EXPECT_EQ(entry(kA, name), u"(none)");
    EXPECT_EQ(entry(kA, u"Keep"), u"me");
    EXPECT_EQ(text->shown(), CQXViewProps::Appearance{});
    EXPECT_TRUE(CQXViewProps::read(own(kQ)).bold) << "reset reached a key not selected";
}

TEST_F(KeyPropsTest, ChainedPluginChoiceSetsThePairAndHostsTheViewsPage) {
    CQXCommonPluginProps* display = m_props->displayProps();
    CQXCommonPluginProps* action = m_props->actionProps();
    select({kQ, kA});
    ASSERT_TRUE(display->chain()->isChecked()) << "the chain is on when the panels open";
    EXPECT_EQ(display->chain()->objectName(), "1072");
    EXPECT_EQ(display->chain()->toolTip(),
              "Selecting this chain, relative pair of view and action plugins will synchronize "
              "when you select either of them");
    EXPECT_EQ(display->selectButton()->text(), "Select a plugin");

    // The view menu lists the views of the registry from 1632 on.
    QMenu* menu = display->pluginMenu();
    QAction* colour = menu->findChild<QAction*>("1632");
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->text(), "Colour");
    const int edits = m_edits.count;
    colour->trigger();
    for (size_t key : {kQ, kA}) {
        ASSERT_TRUE(own(key).view) << "key " << key;
        EXPECT_EQ(own(key).view->subPluginId(), u"color.view");
        ASSERT_TRUE(own(key).action) << "the chain did not choose the paired action";
        EXPECT_EQ(own(key).action->subPluginId(), u"log.action");
        EXPECT_EQ(own(key).view->keyIndex(), static_cast<int>(key));
    }
    EXPECT_GT(m_edits.count, edits);
    EXPECT_EQ(display->selectButton()->text(), "Colour");
    EXPECT_EQ(action->selectButton()->text(), "Log");

    // The shown key's view page is open; showing another key lets it go first.
    const fs::path log = m_dir / "plugin.log";
    EXPECT_TRUE(m_props->pluginProps()->hosted() == own(kA).view.get() ||
                m_props->pluginProps()->hosted() == own(kQ).view.get());
    EXPECT_NE(qxtest::readFile(log).find("CreateGUI parent"), std::string::npos);
    fs::remove(log);
    select({kEscape});
    EXPECT_EQ(m_props->pluginProps()->hosted(), nullptr);
    EXPECT_NE(qxtest::readFile(log).find("DestroyGUI"), std::string::npos);

    // The preview takes what the shown key's view published when 2037 names that key.
    select({kQ});
    own(kQ).view->setProperty(u"Color", u"255");
    void* library = dlopen(m_registry.find(u"test.good")->path().c_str(), RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_TRUE(library);
    reinterpret_cast<void (*)()>(dlsym(library, "qxTestRedraw"))();
    dlclose(library);
    ASSERT_TRUE(qxtest::waitFor([&] {
        std::array<unsigned char, QXKeyViewInstance::kImageBytes> pixels{};
        return own(kQ).view->copyImage(pixels) && pixels[2] == 255; // blue-green-red
    })) << "the test view did not draw";
    const auto redInPreview = [&] {
        const QImage& shown = m_props->preview()->image();
        return !shown.isNull() && shown.pixel(24, 24) == qRgb(255, 0, 0);
    };
    const auto viewHandle = reinterpret_cast<qxwin::WPARAM>(own(kQ).view.get());
    m_dispatch.Send(QXM_VIEW_IMAGE_CHANGED, viewHandle, static_cast<qxwin::LPARAM>(kA));
    EXPECT_FALSE(redInPreview()) << "the preview took another key's picture";
    m_dispatch.Send(QXM_VIEW_IMAGE_CHANGED, viewHandle, static_cast<qxwin::LPARAM>(kQ));
    EXPECT_TRUE(redInPreview());

    // With the chain off, an action alone changes; the view stays.
    const QXKeyViewInstance* view = own(kQ).view.get();
    display->chain()->setChecked(false);
    QAction* logAction = action->pluginMenu()->findChild<QAction*>("1632");
    ASSERT_TRUE(logAction);
    logAction->trigger();
    EXPECT_EQ(own(kQ).view.get(), view);
    ASSERT_TRUE(own(kQ).action);
    EXPECT_EQ(own(kQ).action->subPluginId(), u"log.action");

    // A verb replaces the action plug-in, and the button says so.
    static_cast<CQXActionProps*>(action)->setActionCode(QXKeyTable::multimediaVerbs()[0].code);
    EXPECT_FALSE(own(kQ).action);
    EXPECT_EQ(action->selectButton()->text(), "Select a plugin");
}

TEST_F(KeyPropsTest, DroppedPictureShowsOnTheKeyboardAndSurvivesASave) {
    CQXDisplayProps* display = m_props->displayProps();
    ASSERT_TRUE(control<QPushButton>(display, "1078"));
    select({kQ, kA});
    const int edits = m_edits.count;
    dropFiles(display, {picture("red.png", QColor(255, 0, 0), 96), picture("blue.png", Qt::blue)});
    for (size_t key : {kQ, kA}) {
        ASSERT_TRUE(own(key).image) << "key " << key;
        EXPECT_EQ(centreOf(*own(key).image), qRgb(255, 0, 0)) << "not the first file";
        EXPECT_EQ(own(key).image->getWidth(), 48u);
    }
    EXPECT_NE(own(kQ).image.get(), own(kA).image.get()) << "keys share one picture";
    EXPECT_GT(m_edits.count, edits);
    const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(kQ);
    EXPECT_EQ(m_keyboard->keyboardPicture().pixel(s.left + 24, s.top + 24), qRgb(255, 0, 0));
    EXPECT_EQ(m_props->preview()->image().pixel(24, 24), qRgb(255, 0, 0));
    EXPECT_TRUE(display->pathEdit()->text().endsWith("red.png"));

    // A file that is no picture changes nothing and says why.
    const fs::path text = m_dir / "notes.png";
    { std::ofstream(text) << "not a picture at all"; }
    dropFiles(display, {text});
    EXPECT_FALSE(display->message().isEmpty());
    EXPECT_EQ(centreOf(*own(kQ).image), qRgb(255, 0, 0));

    // Written with the profile and read back by the next start.
    QXPropertyNode root(u"root");
    m_tree.saveTo(root);
    ASSERT_TRUE(m_profile.save(root));
    QXLayerTree again;
    load(again);
    auto mine =
        findItem(again.userLayers()->children(), m_mine->identifier()).dynamicCast<QXLayer>();
    ASSERT_TRUE(mine);
    for (size_t key : {kQ, kA}) {
        const QXButton* button = mine->getButton(key);
        ASSERT_TRUE(button->image) << "key " << key;
        QXImage decoded;
        ASSERT_TRUE(decoded.loadFile(button->image->sourcePath()));
        EXPECT_EQ(centreOf(decoded), qRgb(255, 0, 0));
    }

    // A path typed into the field and confirmed with Enter.
    select({kA});
    display->pathEdit()->setText(QString::fromStdString((m_dir / "blue.png").string()));
    QTest::keyClick(display->pathEdit(), Qt::Key_Return);
    EXPECT_EQ(centreOf(*own(kA).image), qRgb(0, 0, 255));
    EXPECT_EQ(centreOf(*own(kQ).image), qRgb(255, 0, 0));

    // The panels for people: a key with a picture and a multimedia verb.
    select({kQ});
    m_props->actionProps()->setActionCode(QXKeyTable::multimediaVerbs()[9].code);
    m_props->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_props.get()));
    // The panel draws (the pictures for people come from the main window's own test).
    const QImage shot = m_props->grab().toImage();
    EXPECT_FALSE(shot.isNull());
}

TEST(KeySelectionDialog, ReleaseOverAKeyChoosesItAndAPressBesideKeysChoosesNothing) {
    CQXOnScreenKeyboard dialog(kQ);
    EXPECT_EQ(dialog.windowTitle(), "Select Key");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    CQXKeyboardSelect* keyboard = dialog.keyboard();
    EXPECT_EQ(keyboard->size(), dialog.size());
    EXPECT_EQ(keyboard->currentKey(), kQ);

    // Off every key: nothing is chosen and the dialog stays.
    QTest::mouseClick(keyboard, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_FALSE(dialog.chosenKey());
    EXPECT_TRUE(dialog.isVisible());
    // ... and a drag from there moves the dialog by its body.
    const QPoint before = dialog.pos();
    QTest::mousePress(keyboard, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseMove(keyboard, QPoint(31, 21));
    QTest::mouseRelease(keyboard, Qt::LeftButton, {}, QPoint(31, 21));
    EXPECT_EQ(dialog.pos(), before + QPoint(30, 20));
    EXPECT_FALSE(dialog.chosenKey());

    QTest::mouseMove(keyboard, keyboard->keyRect(kA).center());
    EXPECT_EQ(keyboard->hoverKey(), kA);
    QTest::mouseClick(keyboard, Qt::LeftButton, {}, keyboard->keyRect(kEscape).center());
    ASSERT_TRUE(dialog.chosenKey());
    EXPECT_EQ(*dialog.chosenKey(), kEscape);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

} // namespace
