// The layer tree on the shipped default profile, driven with the mouse and keys on Qt's
// offscreen platform: what it shows, what selecting, renaming, switching, deleting and
// dragging do to the layers, and what of it ends up in the saved profile.
#include "editor/CQXLayersTreeCtrl.h"

#include "editor/CQXLayersView.h"
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "store/QXProfile.h"
#include "EditorTestSupport.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTest>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using qxtest::Counter;

constexpr size_t kEscape = 0, kF1 = 1, kF3 = 3;

QXPtr<QXImage> solid(BYTE r, BYTE g, BYTE b) {
    auto image = makeQX<QXImage>(fipImage(FIT_BITMAP, 48, 48, 24));
    RGBQUAD c{b, g, r, 0};
    for (unsigned y = 0; y < 48; ++y)
        for (unsigned x = 0; x < 48; ++x)
            image->setPixelColor(x, y, &c);
    return image;
}

QRgb savedCentre(const QXLayer& layer, size_t key) {
    const QXButton* button = layer.getButton(key);
    QXImage decoded;
    if (!button->image || !decoded.loadFile(button->image->sourcePath()))
        return 0;
    RGBQUAD c{};
    decoded.getPixelColor(24, 24, &c);
    return qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

// The tree with its drag data in reach, as a drag from it carries it.
class Tree : public CQXLayersTreeCtrl {
public:
    using CQXLayersTreeCtrl::CQXLayersTreeCtrl;
    using CQXLayersTreeCtrl::mimeData;
};

class LayersTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qxtest::ensureOffscreenApplication(); }

    LayersTreeTest()
        : m_profile({m_dir / "profile", m_dir / "tmp", fs::path(QX_PROGRAM_DIR)}, QXKeyTable::names()) {
        fs::create_directories(m_dir / "tmp");
        load(m_tree);
        m_controller = std::make_unique<QXLayersController>(m_tree, m_dispatch);
        m_dispatch.RegisterHandler(QXM_LAYER_SELECTED, &m_selections, &Counter::hit);
    }
    ~LayersTreeTest() override { m_dispatch.UnregisterObject(&m_selections); }

    void load(QXLayerTree& tree) {
        QXPropertyNode::Ptr root = m_profile.load();
        ASSERT_TRUE(root);
        if (auto layers = root->findChild(u"Layers"))
            tree.loadFrom(*layers);
        tree.ensureFixedItems(m_profile);
    }
    QXLayerTree saveAndReload() {
        m_controller->unselectAll();
        QXPropertyNode root(u"root");
        m_tree.saveTo(root);
        EXPECT_TRUE(m_profile.save(root));
        QXLayerTree again;
        load(again);
        return again;
    }

    static QPoint centreOf(Tree& tree, const QXLayersItem::Ptr& item) {
        return tree.visualItemRect(tree.treeItemOf(item)).center();
    }
    static void click(Tree& tree, QPoint at) {
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, at);
    }
    // A click on the item's check box, where the style puts the state image.
    static void clickBox(Tree& tree, const QXLayersItem::Ptr& item) {
        const QModelIndex index = tree.indexFromItem(tree.treeItemOf(item));
        QStyleOptionViewItem option;
        option.initFrom(&tree);
        option.rect = tree.visualRect(index);
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.decorationSize = tree.iconSize();
        option.icon = tree.treeItemOf(item)->icon(0);
        const QRect box =
            tree.style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, &tree);
        click(tree, box.center());
    }
    // Whether the tree let the drag hover there (the drop itself comes anyway).
    static bool drop(Tree& tree, const QXLayersItem::Ptr& item, QPoint at) {
        std::unique_ptr<QMimeData> mime(tree.mimeData({tree.treeItemOf(item)}));
        EXPECT_TRUE(mime);
        if (!mime)
            return false;
        // As a drag brings it: it enters (the tree becomes the target), moves, drops.
        QDragEnterEvent enter(at, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
        QApplication::sendEvent(tree.viewport(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDragMoveEvent move(at, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
        QApplication::sendEvent(tree.viewport(), &move);
        QDropEvent event(at, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
        QApplication::sendEvent(tree.viewport(), &event);
        return move.isAccepted();
    }

    qxtest::TempDir m_dir;
    QXProfile m_profile;
    QXDispatch m_dispatch;
    QXLayerTree m_tree;
    std::unique_ptr<QXLayersController> m_controller;
    Counter m_selections;
};

TEST_F(LayersTreeTest, ANewLayerIsSelectedAndShownAtOnceAndItsNameAndSwitchReachTheProfile) {
    Tree tree(*m_controller, m_dispatch);
    tree.resize(300, 500);
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
    QSignalSpy byUser(&tree, &CQXLayersTreeCtrl::selectionChangedByUser);
    const QXLayersItem::Ptr user = m_tree.userLayers(), defaults = m_tree.find(u"default_buttons");
    ASSERT_TRUE(user && defaults) << "the shipped default buttons are not in the program folder";

    // The default profile: "Layers" then "Background", every item switched on.
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), "Layers");
    EXPECT_EQ(tree.topLevelItem(1)->text(0), "Background");
    EXPECT_EQ(tree.treeItemOf(defaults)->parent(), tree.topLevelItem(0));
    EXPECT_EQ(tree.stateImageOf(tree.treeItemOf(defaults)), CQXLayersTreeCtrl::kChecked);
    EXPECT_EQ(tree.treeItemOf(defaults)->checkState(0), Qt::Checked) << "for accessibility";
    EXPECT_EQ(m_selections.count, 0) << "building the tree selects nothing";

    // The check boxes are drawn by the style, also at twice the pixel density.
    const QImage on =
        tree.stateImages()[CQXLayersTreeCtrl::kChecked].pixmap(QSize(20, 20), 2.0).toImage();
    const QImage off =
        tree.stateImages()[CQXLayersTreeCtrl::kUnchecked].pixmap(QSize(20, 20), 2.0).toImage();
    EXPECT_EQ(on.size(), QSize(40, 40));
    EXPECT_NE(on, off);
    EXPECT_NE(on, tree.stateImages()[CQXLayersTreeCtrl::kCheckedDisabled]
                      .pixmap(QSize(20, 20), 2.0)
                      .toImage());

    // A tree without items says so, in a line that cannot be selected.
    {
        QXLayerTree none;
        QXLayersController nothing(none, m_dispatch);
        CQXLayersTreeCtrl bare(nothing, m_dispatch);
        ASSERT_EQ(bare.topLevelItemCount(), 1);
        EXPECT_EQ(bare.topLevelItem(0)->text(0), "(No layers)");
        EXPECT_EQ(bare.topLevelItem(0)->flags(), Qt::NoItemFlags);
    }

    // A click selects: the controller's one selected item, 2034 once.
    click(tree, centreOf(tree, defaults));
    EXPECT_EQ(m_selections.count, 1);
    EXPECT_EQ(byUser.count(), 1);
    ASSERT_EQ(m_controller->selectedItems().size(), 1u);
    EXPECT_EQ(m_controller->selectedItems().front(), defaults);

    // New Layer: right after the selection, selected, and a key assigned in it wins.
    const QXLayersItem::Ptr fresh = tree.newLayer();
    auto layer = fresh.dynamicCast<QXLayer>();
    ASSERT_TRUE(layer);
    const QXItemList& mine = user->children();
    const auto at = std::find(mine.begin(), mine.end(), defaults);
    ASSERT_TRUE(at != mine.end() && at + 1 != mine.end() && *(at + 1) == fresh);
    EXPECT_EQ(tree.selectedItem(), fresh);
    EXPECT_EQ(m_controller->selectedItems().front(), fresh);
    EXPECT_EQ(m_selections.count, 2);
    EXPECT_TRUE(layer->isActive());
    layer->setPicture(kEscape, solid(200, 0, 0));
    m_controller->rebuild();
    EXPECT_EQ(m_controller->pictureStack().winner(kEscape), layer);

    // A group without children shows one grey line that cannot be selected.
    const QXLayersItem::Ptr group = tree.newGroup();
    QTreeWidgetItem* empty = tree.treeItemOf(group)->child(0);
    ASSERT_EQ(tree.treeItemOf(group)->childCount(), 1);
    EXPECT_EQ(empty->text(0), "(empty)");
    EXPECT_FALSE(empty->flags() & Qt::ItemIsSelectable);
    EXPECT_FALSE(tree.itemOf(empty));

    // Rebuilding (2035, 2044) keeps the selection and says nothing about it.
    const int selections = m_selections.count;
    m_dispatch.Send(QXM_LAYERS_CHANGED);
    m_dispatch.Send(QXM_ASSIGNMENT_CHANGED);
    EXPECT_EQ(tree.selectedItem(), group);
    EXPECT_EQ(m_selections.count, selections);

    // F2 on the layer: the edited text becomes its name; a blank one is refused.
    tree.selectItem(fresh);
    auto rename = [&](const QString& text) {
        QTest::keyClick(&tree, Qt::Key_F2);
        auto* editor = tree.viewport()->findChild<QLineEdit*>();
        ASSERT_TRUE(editor) << "F2 opens the name for editing";
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        ASSERT_TRUE(qxtest::waitFor([&] {
            QApplication::processEvents();
            return tree.treeItemOf(fresh) && !tree.viewport()->findChild<QLineEdit*>();
        }));
    };
    rename("Sunset");
    EXPECT_EQ(fresh->displayName(), u"Sunset");
    rename("  ");
    EXPECT_EQ(fresh->displayName(), u"Sunset");
    EXPECT_EQ(tree.treeItemOf(fresh)->text(0), "Sunset");

    // Delete refuses the fixed group, and takes the selected layer's neighbour otherwise.
    tree.selectItem(user);
    QTest::keyClick(&tree, Qt::Key_Delete);
    EXPECT_EQ(m_tree.userLayers(), user);
    EXPECT_EQ(tree.selectedItem(), user);
    tree.selectItem(group);
    QTest::keyClick(&tree, Qt::Key_Delete);
    EXPECT_FALSE(m_tree.find(group->identifier()));
    EXPECT_FALSE(tree.treeItemOf(group));
    EXPECT_TRUE(tree.selectedItem()) << "a neighbour takes the selection";

    // The check box switches the layer off; inside a group that is off it shows
    // "checked disabled".
    clickBox(tree, fresh);
    EXPECT_FALSE(fresh->isEnabled());
    EXPECT_EQ(tree.stateImageOf(tree.treeItemOf(fresh)), CQXLayersTreeCtrl::kUnchecked);
    clickBox(tree, user);
    EXPECT_FALSE(user->isEnabled());
    EXPECT_EQ(tree.stateImageOf(tree.treeItemOf(defaults)), CQXLayersTreeCtrl::kCheckedDisabled);
    clickBox(tree, user);
    EXPECT_EQ(tree.stateImageOf(tree.treeItemOf(defaults)), CQXLayersTreeCtrl::kChecked);

    QXLayerTree saved = saveAndReload();
    auto reloaded = saved.find(fresh->identifier()).dynamicCast<QXLayer>();
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(reloaded->displayName(), u"Sunset");
    EXPECT_FALSE(reloaded->isEnabled()) << "stored as \"Disabled\"";
    EXPECT_EQ(savedCentre(*reloaded, kEscape), qRgb(200, 0, 0));
    EXPECT_FALSE(saved.find(group->identifier()));
}

TEST_F(LayersTreeTest, DraggedItemsMoveThroughTheModelAndKeysDraggedFromTheViewLandInTheLayer) {
    Tree tree(*m_controller, m_dispatch);
    tree.setGeometry(0, 600, 300, 400); // below the keyboard view
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
    const QXLayersItem::Ptr defaults = m_tree.find(u"default_buttons");
    ASSERT_TRUE(defaults);
    tree.selectItem(defaults);
    const QXLayersItem::Ptr group = tree.newGroup();
    auto layer = tree.newLayer().dynamicCast<QXLayer>(); // after the group, not in it
    ASSERT_TRUE(layer);
    layer->setPicture(kF1, solid(0, 0, 220));

    // The layer dropped on the middle of the group's line goes into the group.
    EXPECT_TRUE(drop(tree, layer, centreOf(tree, group)));
    ASSERT_EQ(group->children().size(), 1u);
    EXPECT_EQ(group->children().front(), layer);
    EXPECT_EQ(tree.treeItemOf(layer)->parent(), tree.treeItemOf(group));
    EXPECT_NE(tree.treeItemOf(group)->child(0)->text(0), "(empty)");
    EXPECT_EQ(tree.selectedItem(), layer) << "still the one being edited";

    // The group dropped onto its own layer's line: refused, nothing moves.
    EXPECT_FALSE(drop(tree, group, centreOf(tree, layer) - QPoint(0, 4)))
        << "the drag shows it cannot go there";
    EXPECT_EQ(group->children().front(), layer);
    EXPECT_EQ(tree.mimeData({tree.treeItemOf(m_tree.userLayers())}), nullptr)
        << "fixed items are not dragged";

    // The group switched off: its layer shows "checked disabled".
    m_controller->setItemEnabled(group, false);
    tree.rebuild();
    EXPECT_EQ(tree.stateImageOf(tree.treeItemOf(layer)), CQXLayersTreeCtrl::kCheckedDisabled);
    m_controller->setItemEnabled(group, true);

    // F1 of the layer dragged from the keyboard view, carried over "default_buttons" in
    // the tree and dropped on F3: the two swap, as the view's drag defines.
    CQXLayersView view(*m_controller, m_dispatch);
    view.resize(1312, 376);
    tree.attachKeyboardView(&view);
    tree.selectItem(layer);
    ASSERT_EQ(view.currentLayer(), layer);
    auto mouse = [&](QEvent::Type type, QPoint at, QPoint global = {}) {
        QMouseEvent event(type, at, global.isNull() ? view.mapToGlobal(at) : global,
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
        QApplication::sendEvent(&view, &event);
    };
    const QXPtr<QXImage> shippedF3 = defaults.dynamicCast<QXLayer>()->getButton(kF3)->image;
    const QPoint f1 = view.keyRect(kF1).center(), f3 = view.keyRect(kF3).center();
    mouse(QEvent::MouseButtonPress, f1);
    mouse(QEvent::MouseMove, f1 + QPoint(10, 0));
    const QPoint overDefaults = tree.viewport()->mapToGlobal(centreOf(tree, defaults));
    const int selections = m_selections.count;
    mouse(QEvent::MouseMove, view.mapFromGlobal(overDefaults), overDefaults);
    EXPECT_EQ(view.currentLayer(), defaults) << "hovering a layer in the tree makes it current";
    EXPECT_EQ(m_selections.count, selections + 1);
    mouse(QEvent::MouseMove, f3);
    mouse(QEvent::MouseButtonRelease, f3);
    EXPECT_EQ(layer->getButton(kF1)->image, shippedF3);
    ASSERT_TRUE(defaults.dynamicCast<QXLayer>()->getButton(kF3)->image);

    // Moved into the group's folder, the layer keeps its pictures in the saved profile.
    layer->setPicture(kEscape, solid(0, 0, 220));
    layer->getButton(kEscape)->image->setChanged(false); // as if saved before the move
    EXPECT_TRUE(drop(tree, layer, centreOf(tree, defaults) + QPoint(0, 6))); // below it
    EXPECT_TRUE(group->children().empty());
    QXLayerTree saved = saveAndReload();
    auto moved = saved.find(layer->identifier()).dynamicCast<QXLayer>();
    ASSERT_TRUE(moved);
    EXPECT_EQ(savedCentre(*moved, kEscape), qRgb(0, 0, 220));
    auto reloadedDefaults = saved.find(u"default_buttons").dynamicCast<QXLayer>();
    ASSERT_TRUE(reloadedDefaults);
    EXPECT_EQ(savedCentre(*reloadedDefaults, kF3), qRgb(0, 0, 220));
    const QXLayersItem::Ptr savedGroup = saved.find(group->identifier());
    ASSERT_TRUE(savedGroup);
    EXPECT_TRUE(savedGroup->children().empty());
}

} // namespace
