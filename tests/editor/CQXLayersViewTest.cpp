// The keyboard view on the shipped default profile, driven with the mouse and keys on
// Qt's offscreen platform: what it paints, what clicks, drags and menus do to the layers,
// and what ends up in the saved profile.
#include "editor/CQXLayersView.h"
#include "editor/QXKeyClipboard.h"

#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"
#include "pluginhost/QXPluginHostFactory.h"
#include "pluginhost/QXPluginRegistry.h"
#include "platform/QXMessages.h"
#include "store/QXProfile.h"
#include "EditorTestSupport.h"
#include "support/QXTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using qxtest::Counter;
using qxtest::centreOf;

constexpr size_t kEscape = 0, kF1 = 1, kF2 = 2, kF3 = 3, kF4 = 4, kQ = 42, kA = 64;

QXPtr<QXImage> solid(BYTE r, BYTE g, BYTE b) {
    auto image = makeQX<QXImage>(fipImage(FIT_BITMAP, 48, 48, 24));
    RGBQUAD c{b, g, r, 0};
    for (unsigned y = 0; y < 48; ++y)
        for (unsigned x = 0; x < 48; ++x)
            image->setPixelColor(x, y, &c);
    return image;
}

// A fresh profile seeded from the program folder's shipped button sets, with a layer of
// the user's own ("Mine") in front of "default_buttons".
class LayersViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qxtest::ensureOffscreenApplication(); }

    LayersViewTest()
        : m_profile({m_dir / "profile", m_dir / "tmp", fs::path(QX_PROGRAM_DIR)}, QXKeyTable::names()) {
        fs::create_directories(m_dir / "tmp");
        load(m_tree);
        m_defaults = m_tree.find(u"default_buttons").dynamicCast<QXLayer>();
        m_mine = createLayer(m_tree.userLayers()->children());
        m_mine->setDisplayName(u"Mine");
        m_controller = std::make_unique<QXLayersController>(m_tree, m_dispatch);
        m_dispatch.RegisterHandler(QXM_KEY_SELECTED, &m_selections, &Counter::hit);
        m_dispatch.RegisterHandler(QXM_ASSIGNMENT_CHANGED, &m_assignments, &Counter::hit);
    }
    ~LayersViewTest() override {
        m_dispatch.UnregisterObject(&m_selections);
        m_dispatch.UnregisterObject(&m_assignments);
    }

    void load(QXLayerTree& tree) {
        QXPropertyNode::Ptr root = m_profile.load();
        ASSERT_TRUE(root);
        if (auto layers = root->findChild(u"Layers"))
            tree.loadFrom(*layers);
        tree.ensureFixedItems(m_profile);
    }

    // What the layer tree does when the user selects a layer.
    void makeCurrent(const QXLayersItem::Ptr& layer) {
        m_controller->unselectAll();
        m_controller->selectItem(layer);
        m_dispatch.Send(QXM_LAYER_SELECTED);
    }

    // The saved profile, read back as the next start reads it.
    QXLayerTree saveAndReload() {
        QXPropertyNode root(u"root");
        m_tree.saveTo(root);
        EXPECT_TRUE(m_profile.save(root));
        QXLayerTree again;
        load(again);
        return again;
    }

    static void mouse(QWidget* view, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::KeyboardModifiers modifiers = {}, QPoint global = {}) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, at, global.isNull() ? view->mapToGlobal(at) : global,
                          type == QEvent::MouseMove ? Qt::NoButton : button, held, modifiers);
        QApplication::sendEvent(view, &event);
    }
    // Press at one point, move through the others, release at the last.
    static void drag(QWidget* view, std::vector<QPoint> path,
                     Qt::MouseButton button = Qt::LeftButton,
                     Qt::KeyboardModifiers modifiers = {}) {
        mouse(view, QEvent::MouseButtonPress, path.front(), button);
        for (size_t i = 1; i < path.size(); ++i)
            mouse(view, QEvent::MouseMove, path[i], button, modifiers);
        mouse(view, QEvent::MouseButtonRelease, path.back(), button, modifiers);
    }
    static QPoint centre(const CQXLayersView& view, size_t key) {
        return view.keyRect(key).center();
    }
    static QAction* command(QMenu* menu, int id) {
        return menu->findChild<QAction*>(QString::number(id));
    }
    static size_t ownCount(const QXLayer& layer) {
        size_t n = 0;
        for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
            n += layer.getButton(i)->isAssigned();
        return n;
    }

    qxtest::TempDir m_dir;
    QXProfile m_profile;
    QXDispatch m_dispatch;
    QXLayerTree m_tree;
    QXLayer::Ptr m_defaults;
    QXLayer::Ptr m_mine;
    std::unique_ptr<QXLayersController> m_controller;
    Counter m_selections, m_assignments;
};

TEST_F(LayersViewTest, PaintsEveryKeyOfTheDefaultProfileWhereItsFrameIsAndThenCostsNothing) {
    ASSERT_TRUE(m_defaults) << "the shipped default buttons are not in the program folder";
    makeCurrent(m_defaults);
    CQXLayersView view(*m_controller, m_dispatch);
    view.resize(1312, 376);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    // Every key's picture sits in its square of the picture, and its frame hits the key.
    const QImage& picture = view.keyboardPicture();
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        EXPECT_EQ(view.hitTest(centre(view, i)), i) << "key " << i;
        const QXButton* button = m_defaults->getButton(i);
        if (!button->image)
            continue;
        QXImage decoded;
        ASSERT_TRUE(decoded.loadFile(button->image->sourcePath()));
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(i);
        EXPECT_EQ(picture.pixel(s.left + 24, s.top + 23), centreOf(decoded)) << "key " << i;
    }
    EXPECT_EQ(view.hitTest({0, 0}), CQXLayersView::kNoKey);

    // Half the size: frames shrink with the zoom and still hit their keys.
    view.resize(656, 188);
    EXPECT_DOUBLE_EQ(view.zoom(), 0.5);
    EXPECT_EQ(view.hitTest(centre(view, kA)), kA);
    view.resize(1312, 376);

    view.selectKeys({kQ, kA});
    view.setFocus();

    // Left alone, the view neither animates nor paints.
    ASSERT_TRUE(qxtest::waitFor([&] {
        QApplication::processEvents();
        return !view.animating();
    }));
    // With no timer running, nothing is left that could paint once the queue is empty.
    QApplication::sendPostedEvents();
    QApplication::processEvents();
    const unsigned long painted = view.paintCount();
    QApplication::sendPostedEvents();
    QApplication::processEvents();
    EXPECT_EQ(view.paintCount(), painted) << "an untouched view repainted";
    EXPECT_FALSE(view.animating());

    // A key held on the keyboard runs the timer while its red mark shows, and only then.
    m_dispatch.Send(QXM_DEVICE_KEY, kA, 1);
    EXPECT_TRUE(view.animating());
    m_dispatch.Send(QXM_DEVICE_KEY, kA, 0);
    EXPECT_FALSE(view.animating());
}

TEST_F(LayersViewTest, ClicksDefineOnlyInAnEditableLayerAndSmallMovesAndSelfDropsChangeNothing) {
    makeCurrent(m_mine);
    CQXLayersView view(*m_controller, m_dispatch);
    view.resize(1312, 376);

    // A press and release with a 3-pixel wobble (9 squared) is a click: Escape is defined
    // in "Mine" with what it showed, the shipped picture.
    drag(&view, {centre(view, kEscape), centre(view, kEscape) + QPoint(3, 0)});
    ASSERT_TRUE(m_mine->getButton(kEscape)->image) << "a click on an undefined key defines it";
    EXPECT_EQ(view.selectedKeys().count(), 1u);
    EXPECT_TRUE(view.selectedKeys()[kEscape]);
    EXPECT_GE(m_assignments.count, 1);

    // Dragged onto itself: nothing changes.
    const int before = m_assignments.count;
    drag(&view,
         {centre(view, kEscape), centre(view, kEscape) + QPoint(20, 0), centre(view, kEscape)});
    EXPECT_TRUE(m_mine->getButton(kEscape)->image);
    EXPECT_EQ(m_assignments.count, before);

    // A layer with the fixed-item mark only selects.
    m_mine->setFlag(QXLayersItem::kFixed);
    drag(&view, {centre(view, kF1), centre(view, kF1)});
    EXPECT_FALSE(m_mine->getButton(kF1)->isAssigned());
    EXPECT_TRUE(view.selectedKeys()[kF1]);

    // A press on no key draws a rectangle: the keys strictly inside it are selected.
    const QRect f1 = view.keyRect(kF1), f3 = view.keyRect(kF3);
    mouse(&view, QEvent::MouseButtonPress, f1.topLeft() - QPoint(4, 4), Qt::LeftButton);
    mouse(&view, QEvent::MouseMove, f1.center(), Qt::LeftButton);
    EXPECT_TRUE(view.animating()) << "the rectangle's fill alternates while it is drawn";
    mouse(&view, QEvent::MouseMove, f3.bottomRight() + QPoint(4, 4), Qt::LeftButton);
    mouse(&view, QEvent::MouseButtonRelease, f3.bottomRight() + QPoint(4, 4), Qt::LeftButton);
    EXPECT_EQ(view.selectedKeys().count(), 3u);
    EXPECT_TRUE(view.selectedKeys()[kF2]);
    EXPECT_FALSE(view.animating()) << "the rectangle is gone, so is the timer";
}

TEST_F(LayersViewTest,
       KeysWalkTheRowsAndTheMenuFollowsTheSelectionUntilCtrlADeleteEmptiesTheLayer) {
    makeCurrent(m_mine);
    CQXLayersView view(*m_controller, m_dispatch);
    view.resize(1312, 376);
    view.selectKeys({kQ});

    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.anchorKey(), kA) << "Down from Q";
    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(view.anchorKey(), kQ) << "Up from A";
    view.selectKeys({kEscape});
    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(view.anchorKey(), kEscape) << "nothing above the top row";
    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_EQ(view.anchorKey(), kEscape) << "clamped at the first key";

    // Right click on F1: the key menu, Push enabled for one key, Define for an undefined one.
    mouse(&view, QEvent::MouseButtonPress, centre(view, kF1), Qt::RightButton);
    mouse(&view, QEvent::MouseButtonRelease, centre(view, kF1), Qt::RightButton);
    ASSERT_TRUE(view.keyMenu()->isVisible());
    EXPECT_TRUE(command(view.keyMenu(), CQXLayersView::kPush)->isEnabled());
    EXPECT_TRUE(command(view.keyMenu(), CQXLayersView::kDefine)->isEnabled());
    EXPECT_FALSE(command(view.keyMenu(), CQXLayersView::kDelete)->isEnabled());
    command(view.keyMenu(), CQXLayersView::kDefine)->trigger();
    view.keyMenu()->hide();
    EXPECT_TRUE(m_mine->getButton(kF1)->isAssigned());

    // Shift+Right takes F2 in: two keys, one defined and one not.
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedKeys().count(), 2u);
    QTest::keyClick(&view, Qt::Key_Menu);
    ASSERT_TRUE(view.keyMenu()->isVisible());
    EXPECT_FALSE(command(view.keyMenu(), CQXLayersView::kPush)->isEnabled())
        << "Push needs one key";
    EXPECT_TRUE(command(view.keyMenu(), CQXLayersView::kDefine)->isEnabled());
    EXPECT_TRUE(command(view.keyMenu(), CQXLayersView::kDelete)->isEnabled());
    view.keyMenu()->hide();

    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.selectedKeys().count(), 113u);
    command(view.keyMenu(), CQXLayersView::kDefine)->trigger();
    EXPECT_EQ(ownCount(*m_mine), 113u);
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(ownCount(*m_mine), 0u) << "Ctrl+A, Delete leaves the layer empty";
    EXPECT_GT(ownCount(*m_defaults), 0u) << "other layers keep theirs";
}

TEST_F(LayersViewTest, SwapAndPasteMoveWholeAssignmentsBetweenLayersIntoTheSavedProfile) {
    m_mine->setPicture(kF1, solid(0, 200, 0));
    m_mine->getButton(kF1)->actionCode = 0x3A;
    const std::filesystem::path shippedEscape = m_defaults->getButton(kEscape)->image->sourcePath();
    QXImage escapePicture;
    ASSERT_TRUE(escapePicture.loadFile(shippedEscape));

    // The layer tree, as the editor's will be: selecting an item makes it current.
    QTreeWidget tree;
    auto* defaultsItem = new QTreeWidgetItem(&tree, {QStringLiteral("Default buttons")});
    auto* mineItem = new QTreeWidgetItem(&tree, {QStringLiteral("Mine")});
    QObject::connect(&tree, &QTreeWidget::currentItemChanged, [&](QTreeWidgetItem* item) {
        makeCurrent(item == mineItem ? QXLayersItem::Ptr(m_mine) : QXLayersItem::Ptr(m_defaults));
    });
    tree.setCurrentItem(mineItem);
    tree.setGeometry(0, 600, 300, 200); // below the view, so only moves meant for it reach it
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
    CQXLayersView view(*m_controller, m_dispatch);
    view.resize(1312, 376);
    view.setLayerTree(&tree, [&](QTreeWidgetItem* item) {
        return item == mineItem ? QXLayersItem::Ptr(m_mine) : QXLayersItem::Ptr(m_defaults);
    });
    const auto overTree = [&](QTreeWidgetItem* item) {
        const QPoint global = tree.viewport()->mapToGlobal(tree.visualItemRect(item).center());
        return std::pair{view.mapFromGlobal(global), global};
    };

    // Within "Mine": F1 dragged to F2 swaps them (F2 had nothing).
    drag(&view, {centre(view, kF1), centre(view, kF2)});
    EXPECT_FALSE(m_mine->getButton(kF1)->isAssigned());
    ASSERT_TRUE(m_mine->getButton(kF2)->image);
    EXPECT_EQ(m_mine->getButton(kF2)->actionCode, 0x3A) << "the whole assignment moves";

    // F2 carried over "Default buttons" in the tree and dropped on F3 with Ctrl: a copy.
    mouse(&view, QEvent::MouseButtonPress, centre(view, kF2), Qt::LeftButton);
    mouse(&view, QEvent::MouseMove, centre(view, kF2) + QPoint(10, 0), Qt::LeftButton);
    auto [local, global] = overTree(defaultsItem);
    mouse(&view, QEvent::MouseMove, local, Qt::LeftButton, {}, global);
    ASSERT_EQ(view.currentLayer(), m_defaults) << "hovering a layer in the tree makes it current";
    mouse(&view, QEvent::MouseMove, centre(view, kF3), Qt::LeftButton, Qt::ControlModifier);
    mouse(&view, QEvent::MouseButtonRelease, centre(view, kF3), Qt::LeftButton,
          Qt::ControlModifier);
    ASSERT_TRUE(m_defaults->getButton(kF3)->image);
    EXPECT_TRUE(m_mine->getButton(kF2)->image) << "a paste leaves the source alone";
    EXPECT_NE(m_defaults->getButton(kF3)->image, m_mine->getButton(kF2)->image)
        << "a copy, not a share";

    // Escape of "Default buttons" right-dragged over "Mine" onto its Escape: the drop
    // menu, then Swap.
    mouse(&view, QEvent::MouseButtonPress, centre(view, kEscape), Qt::RightButton);
    mouse(&view, QEvent::MouseMove, centre(view, kEscape) + QPoint(10, 0), Qt::RightButton);
    std::tie(local, global) = overTree(mineItem);
    mouse(&view, QEvent::MouseMove, local, Qt::RightButton, {}, global);
    ASSERT_EQ(view.currentLayer(), m_mine);
    mouse(&view, QEvent::MouseMove, centre(view, kEscape), Qt::RightButton);
    mouse(&view, QEvent::MouseButtonRelease, centre(view, kEscape), Qt::RightButton);
    ASSERT_TRUE(view.dropMenu()->isVisible()) << "a right-button drop asks what to do";
    command(view.dropMenu(), CQXLayersView::kSwap)->trigger();
    view.dropMenu()->hide();

    QXLayerTree saved = saveAndReload();
    auto defaults = saved.find(u"default_buttons").dynamicCast<QXLayer>();
    auto mine = saved.find(m_mine->identifier()).dynamicCast<QXLayer>();
    ASSERT_TRUE(defaults && mine);
    EXPECT_FALSE(defaults->getButton(kEscape)->isAssigned()) << "swapped with nothing";
    ASSERT_TRUE(mine->getButton(kEscape)->image);
    QXImage moved;
    ASSERT_TRUE(moved.loadFile(mine->getButton(kEscape)->image->sourcePath()));
    EXPECT_EQ(centreOf(moved), centreOf(escapePicture));
    for (const auto& [layer, key] : {std::pair{defaults, kF3}, std::pair{mine, kF2}}) {
        ASSERT_TRUE(layer->getButton(key)->image) << "key " << key;
        QXImage green;
        ASSERT_TRUE(green.loadFile(layer->getButton(key)->image->sourcePath()));
        EXPECT_EQ(centreOf(green), qRgb(0, 200, 0)) << "key " << key;
        EXPECT_EQ(layer->getButton(key)->actionCode, 0x3A) << "key " << key;
    }
    EXPECT_FALSE(mine->getButton(kF1)->isAssigned());
}

} // namespace

namespace {

// Push presses the key once, as the keyboard would: the key's action plug-in gets its key
// down and key up, and nothing else of the layer changes.
TEST_F(LayersViewTest, PushPressesTheSelectedKeysActionOnce) {
    qxtest::TempDir logs;
    qxtest::ScopedEnv log("QX_TEST_PLUGIN_LOG", (logs / "plugin.log").string());
    QXDispatch::setCurrent(&m_dispatch);
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(QX_TEST_PLUGINS_DIR, *root);
    QXPluginRegistry registry;
    registry.build(*root);
    QXPluginHostFactory factory(registry);
    QXPluginInstanceFactory::setCurrent(&factory);
    {
        QXPropertyNode stored(u"ActionPlugin");
        stored.addChild(u"PluginID", u"test.good");
        stored.addChild(u"SubPluginID", u"log.action");
        QXKeyActionInstance::Ptr action = factory.createAction(stored);
        ASSERT_TRUE(action) << "the test plug-in's action";
        m_mine->setAction(kF1, action);
        makeCurrent(m_mine);

        CQXLayersView view(*m_controller, m_dispatch);
        view.resize(1312, 376);
        view.selectKeys({kF1});
        QTest::keyClick(&view, Qt::Key_Menu);
        ASSERT_TRUE(view.keyMenu()->isVisible());
        command(view.keyMenu(), CQXLayersView::kPush)->trigger();
        view.keyMenu()->hide();

        const std::string text = qxtest::readFile(logs / "plugin.log");
        const size_t down = text.find("action KeyDown");
        ASSERT_NE(down, std::string::npos) << text;
        EXPECT_NE(text.find("action KeyUp", down), std::string::npos) << text;
        EXPECT_EQ(text.find("action KeyDown", down + 1), std::string::npos) << "once";
        EXPECT_EQ(m_mine->getButton(kF1)->action, action) << "the assignment stays";
        m_mine->setAction(kF1, {});
    }
    QXPluginInstanceFactory::setCurrent(nullptr);
    QXDispatch::setCurrent(nullptr);
}

} // namespace

namespace {

// Ctrl+C and Ctrl+V carry keys through the clipboard: a picture with its action code and
// a plug-in view copied out of one layer arrive in another as copies of their own and
// are in the saved profile; a fixed layer and data that is not ours take nothing.
TEST_F(LayersViewTest, CopiedKeysPasteIntoAnotherLayerAndIntoTheSavedProfile) {
    // The views draw on threads of their own and announce each picture on the current
    // dispatch. This core dispatch would run the view's handler on that thread (the
    // program's dispatch window carries it over to the GUI thread), so the views talk to
    // one the view does not listen to.
    QXDispatch drawing;
    QXDispatch::setCurrent(&drawing);
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(QX_TEST_PLUGINS_DIR, *root);
    QXPluginRegistry registry;
    registry.build(*root);
    QXPluginHostFactory factory(registry);
    QXPluginInstanceFactory::setCurrent(&factory);
    {
        m_mine->setPicture(kF1, solid(0, 200, 0));
        m_mine->getButton(kF1)->actionCode = 0x3A;
        QXPropertyNode stored(u"ViewPlugin");
        stored.addChild(u"PluginID", u"test.good");
        stored.addChild(u"SubPluginID", u"color.view");
        stored.addChild(u"PluginProperties")->addChild(u"Color", u"65280");
        m_mine->setView(kF2, factory.createView(stored));
        ASSERT_TRUE(m_mine->getButton(kF2)->view) << "the test plug-in's view";
        QXLayer::Ptr second = createLayer(m_tree.userLayers()->children());
        second->setDisplayName(u"Second");
        m_controller->rebuild();

        makeCurrent(m_mine);
        CQXLayersView view(*m_controller, m_dispatch);
        view.resize(1312, 376);
        view.selectKeys({kF1, kF2, kF3}); // F3 has nothing of its own in "Mine"
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        const QString type = QString::fromLatin1(QXKeyClipboard::kMimeType);
        ASSERT_TRUE(QGuiApplication::clipboard()->mimeData()->hasFormat(type));

        const auto menuItem = [&](const char* name) {
            view.updateKeyMenu();
            return view.keyMenu()->findChild<QAction*>(QString::fromLatin1(name));
        };
        EXPECT_TRUE(menuItem("copy")->isEnabled());
        EXPECT_TRUE(menuItem("paste")->isEnabled());

        // A layer with the fixed-item mark takes no paste.
        makeCurrent(second);
        second->setFlag(QXLayersItem::kFixed);
        EXPECT_FALSE(menuItem("paste")->isEnabled());
        EXPECT_FALSE(menuItem("copy")->isEnabled()) << "nothing of its own to copy";
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
        EXPECT_FALSE(second->getButton(kF1)->isAssigned());
        second->clearFlag(QXLayersItem::kFixed);

        view.selectKeys({kEscape});
        const int before = m_assignments.count;
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(m_assignments.count, before + 1) << "one 2044 for the paste";
        EXPECT_EQ(view.selectedKeys(), (std::bitset<113>().set(kF1).set(kF2)));
        ASSERT_TRUE(second->getButton(kF1)->image);
        EXPECT_NE(second->getButton(kF1)->image, m_mine->getButton(kF1)->image);
        EXPECT_TRUE(second->getButton(kF1)->image->changed()) << "the next save writes it";
        EXPECT_EQ(second->getButton(kF1)->actionCode, 0x3A);
        ASSERT_TRUE(second->getButton(kF2)->view);
        EXPECT_NE(second->getButton(kF2)->view, m_mine->getButton(kF2)->view) << "a new instance";
        EXPECT_FALSE(second->getButton(kF3)->isAssigned());

        // Another program's text, and bytes of our type that are not a copy of keys.
        for (const QByteArray& junk :
             {QByteArray("<plist><dict><key>Buttons</key><string>F4</string></dict></plist>"),
              QByteArray("\x00\xff<plist", 8), QByteArray()}) {
            auto* mime = new QMimeData;
            mime->setData(type, junk);
            mime->setText(QStringLiteral("F4"));
            QGuiApplication::clipboard()->setMimeData(mime);
            view.selectKeys({kF4});
            EXPECT_FALSE(view.pasteKeys());
        }
        QGuiApplication::clipboard()->setText(QStringLiteral("F4"));
        EXPECT_FALSE(view.pasteKeys());
        EXPECT_FALSE(second->getButton(kF4)->isAssigned());

        QXLayerTree saved = saveAndReload();
        auto reloaded = saved.find(second->identifier()).dynamicCast<QXLayer>();
        ASSERT_TRUE(reloaded);
        ASSERT_TRUE(reloaded->getButton(kF1)->image);
        QXImage green;
        ASSERT_TRUE(green.loadFile(reloaded->getButton(kF1)->image->sourcePath()));
        EXPECT_EQ(centreOf(green), qRgb(0, 200, 0));
        EXPECT_EQ(reloaded->getButton(kF1)->actionCode, 0x3A);
        ASSERT_TRUE(reloaded->getButton(kF2)->view);
        QXPropertyNode written(u"ViewPlugin");
        reloaded->getButton(kF2)->view->saveTo(written);
        EXPECT_EQ(written.findChild(u"PluginProperties")->childValue(u"Color"), u"65280");
        m_mine->setView(kF2, {});
    }
    QXPluginInstanceFactory::setCurrent(nullptr);
    QXDispatch::setCurrent(nullptr);
}

// Whatever the clipboard holds, reading it ends in keys or a refusal: every cut of a real
// copy, and pictures that are not pictures.
TEST(KeyClipboard, DamagedCopiesAreRefusedWithoutHarm) {
    QXLayer layer(u"layer");
    layer.setPicture(kEscape, solid(200, 0, 0));
    layer.setPicture(kQ, solid(0, 0, 200));
    layer.getButton(kQ)->keystroke = u"q";
    const QByteArray bytes = QXKeyClipboard::encode(layer, {kEscape, kQ, kA});
    ASSERT_FALSE(bytes.isEmpty());
    const std::vector<QXKeyClipboard::Key> whole = QXKeyClipboard::decode(bytes);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[1].keyIndex, kQ);
    EXPECT_EQ(whole[1].assignment.keystroke, u"q");
    EXPECT_EQ(centreOf(*whole[0].assignment.image), qRgb(200, 0, 0));

    for (qsizetype cut = 0; cut < bytes.size(); cut += std::max<qsizetype>(1, bytes.size() / 40))
        for (const QXKeyClipboard::Key& key : QXKeyClipboard::decode(bytes.left(cut)))
            EXPECT_TRUE(key.keyIndex == kEscape || key.keyIndex == kQ) << "cut at " << cut;

    std::string refusal;
    QByteArray spoiled = bytes;
    const qsizetype png = spoiled.indexOf("iVBOR"); // the first picture's PNG signature
    ASSERT_GE(png, 0);
    spoiled.replace(png, 12, "AAAAAAAAAAAA");
    const std::vector<QXKeyClipboard::Key> rest = QXKeyClipboard::decode(spoiled, &refusal);
    ASSERT_EQ(rest.size(), 1u) << "the key whose picture is spoiled is left out";
    EXPECT_EQ(rest[0].keyIndex, kQ);
    EXPECT_TRUE(QXKeyClipboard::decode(QByteArray(1 << 20, '<'), &refusal).empty());
    EXPECT_FALSE(refusal.empty());
}

} // namespace
