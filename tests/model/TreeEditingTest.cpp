// The editor's changes to the shape of the tree through the layers controller: where new
// items land and that they show at once, and which removals and moves are refused.
#include "model/QXLayersController.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr size_t kEscape = 0, kF1 = 1;

struct Counter {
    int count = 0;
    void hit() { ++count; }
};

struct FakeState : QXSystemState {
    uint32_t modifierState() const override { return 0; }
    bool isKeyboardConnected() const override { return true; }
};

// "user_layers" holding the layers "a" and "b", "system_layers" holding a language
// group with one generated layer, as start-up leaves them.
class TreeEditingTest : public ::testing::Test {
protected:
    TreeEditingTest() {
        QXSystemState::setCurrent(&m_state);
        m_user = makeQX<QXLayersGroup>(u"user_layers");
        m_user->setFlag(QXLayersItem::kFixed | QXLayersItem::kUserLayers);
        m_user->addCondition(makeQX<QXSysCondition>());
        m_system = makeQX<QXLayersGroup>(u"system_layers");
        m_system->setFlag(QXLayersItem::kSystemLayers);
        m_a = makeQX<QXLayer>(u"a");
        m_b = makeQX<QXLayer>(u"b");
        m_user->children() = {m_a, m_b};
        m_language = makeQX<QXLayersGroup>(u"lang");
        m_language->setFlag(QXLayersItem::kFixed);
        m_generated = makeQX<QXLayer>(u"generated");
        m_generated->setFlag(QXLayersItem::kFixed);
        m_language->children() = {m_generated};
        m_system->children() = {m_language};
        m_tree.topLevel() = {m_user, m_system};
        m_dispatch.RegisterHandler(QXM_LAYERS_CHANGED, &m_changes, &Counter::hit);
        m_controller = std::make_unique<QXLayersController>(m_tree, m_dispatch);
        m_controller->reevaluate();
    }
    ~TreeEditingTest() override {
        m_controller.reset();
        QXSystemState::setCurrent(nullptr);
    }

    static std::vector<std::u16string> ids(const QXItemList& list) {
        std::vector<std::u16string> out;
        for (const QXLayersItem::Ptr& item : list)
            out.push_back(item->identifier());
        return out;
    }
    bool inActiveStack(const QXLayersItem::Ptr& item) const {
        const auto& layers = m_controller->activeStack().layers();
        return std::find(layers.begin(), layers.end(), item) != layers.end();
    }

    FakeState m_state;
    QXDispatch m_dispatch;
    QXLayerTree m_tree;
    QXPtr<QXLayersGroup> m_user, m_system, m_language;
    QXLayer::Ptr m_a, m_b, m_generated;
    Counter m_changes;
    std::unique_ptr<QXLayersController> m_controller;
};

TEST_F(TreeEditingTest, NewItemsLandWhereTheUserIsAndAKeyAssignedInThemShowsAtOnce) {
    m_a->setPicture(kEscape, {});
    ASSERT_EQ(m_controller->activeStack().winner(kEscape), m_a);

    // Nothing selected: the front of "user_layers", active, and above "a".
    QXLayer::Ptr first = m_controller->newLayer({});
    EXPECT_EQ(first->displayName(), u"New layer");
    EXPECT_EQ(m_user->children().front(), first);
    EXPECT_TRUE(first->isActive());
    EXPECT_EQ(m_changes.count, 1);
    first->setPicture(kEscape, {});
    m_controller->rebuild();
    EXPECT_EQ(m_controller->activeStack().winner(kEscape), first) << "listed first, it wins";

    // Next to an ordinary item: right after it, in its list.
    QXPtr<QXLayersGroup> group = m_controller->newGroup(m_a);
    EXPECT_EQ(group->displayName(), u"New group");
    EXPECT_EQ(ids(m_user->children()),
              (std::vector<std::u16string>{first->identifier(), u"a", group->identifier(), u"b"}));
    QXLayer::Ptr inGroup = m_controller->newLayer(group);
    EXPECT_EQ(m_user->children()[3], inGroup) << "next to a group is beside it, not inside";

    // On "user_layers" or "system_layers" themselves: at the front of their children;
    // inside a language group only when the user is in there.
    QXLayer::Ptr top = m_controller->newLayer(m_user);
    EXPECT_EQ(m_user->children().front(), top);
    QXLayer::Ptr background = m_controller->newLayer(m_system);
    EXPECT_EQ(m_system->children().front(), background);
    QXLayer::Ptr beside = m_controller->newLayer(m_language);
    EXPECT_EQ(
        ids(m_system->children()),
        (std::vector<std::u16string>{background->identifier(), u"lang", beside->identifier()}));
    QXLayer::Ptr inside = m_controller->newLayer(m_generated);
    EXPECT_EQ(m_language->children().back(), inside);

    // A new layer inside a group that is off stays off until the user selects it.
    m_controller->setItemEnabled(group, false);
    QXLayer::Ptr dark = m_controller->newLayer(m_b);
    EXPECT_TRUE(dark->isActive());
    ASSERT_TRUE(m_controller->moveItem(dark, group, {}));
    EXPECT_FALSE(dark->isActive()) << "moved into a group that is off";
    EXPECT_FALSE(inActiveStack(dark));
    m_controller->setItemEnabled(dark, false);
    m_controller->setItemEnabled(dark, true);
    EXPECT_FALSE(dark->isActive()) << "enabled, but its group is still off";
    m_controller->setItemEnabled(group, true);
    EXPECT_TRUE(inActiveStack(dark));
}

TEST_F(TreeEditingTest, FixedItemsCyclesAndNamesakesAreRefusedAndAMovedLayerIsSavedWhole) {
    QXPtr<QXLayersGroup> outer = m_controller->newGroup(m_b);
    QXPtr<QXLayersGroup> inner = m_controller->newGroup({});
    ASSERT_TRUE(m_controller->moveItem(inner, outer, {}));
    const int changes = m_changes.count;

    for (const QXLayersItem::Ptr& fixed :
         std::vector<QXLayersItem::Ptr>{m_user, m_system, m_language, m_generated}) {
        EXPECT_FALSE(m_controller->removeItem(fixed)) << toUtf8(fixed->identifier());
        EXPECT_FALSE(m_controller->moveItem(fixed, outer, {})) << toUtf8(fixed->identifier());
        EXPECT_FALSE(m_controller->renameItem(fixed, u"x")) << toUtf8(fixed->identifier());
    }
    EXPECT_FALSE(m_controller->moveItem(outer, outer, {})) << "into itself";
    EXPECT_FALSE(m_controller->moveItem(outer, inner, {})) << "into its own child";
    EXPECT_FALSE(m_controller->moveItem(m_a, m_b, {})) << "into a layer";
    EXPECT_FALSE(m_controller->moveItem(m_a, outer, m_b)) << "after an item of another list";
    auto namesake = makeQX<QXLayer>(u"a");
    inner->children().push_back(namesake);
    EXPECT_FALSE(m_controller->moveItem(m_a, inner, {})) << "two folders named \"a\"";
    EXPECT_EQ(m_a.get(), findItem(m_user->children(), u"a").get());
    EXPECT_FALSE(m_controller->renameItem(m_a, u"  ")) << "a blank name";
    EXPECT_EQ(m_changes.count, changes) << "a refusal changes nothing and says nothing";

    // A moved layer's pictures are all written again: it is saved into another folder.
    m_a->setPicture(kF1, {});
    m_a->getButton(kF1)->image->setChanged(false);
    ASSERT_TRUE(m_controller->moveItem(m_a, outer, inner));
    EXPECT_EQ(ids(outer->children()), (std::vector<std::u16string>{inner->identifier(), u"a"}));
    EXPECT_EQ(ids(m_user->children()), (std::vector<std::u16string>{u"b", outer->identifier()}));
    EXPECT_TRUE(m_a->getButton(kF1)->image->changed());
    EXPECT_EQ(m_controller->activeStack().winner(kF1), m_a);

    // Removal takes the layer out of the stacks and of the selection.
    m_controller->selectItem(m_a);
    ASSERT_TRUE(m_controller->removeItem(m_a));
    EXPECT_TRUE(outer->children().size() == 1 && outer->children().front() == inner);
    EXPECT_FALSE(inActiveStack(m_a));
    EXPECT_TRUE(m_controller->selectedItems().empty());
    EXPECT_FALSE(m_controller->activeStack().winner(kF1));
    EXPECT_TRUE(m_controller->removeItem(outer)) << "a group goes with what it holds";
    EXPECT_EQ(ids(m_user->children()), (std::vector<std::u16string>{u"b"}));
}

} // namespace

namespace {

// The editor moving its selection from one layer to another: the old one shows again
// only if it qualifies by itself, and the keyboard never shows what lies between.
TEST_F(TreeEditingTest, MovingTheSelectionGoesStraightFromTheOldLayerToTheNew) {
    m_a->setPicture(kEscape, {});
    m_b->setPicture(kEscape, {});
    m_controller->setItemEnabled(m_a, false);
    m_controller->setItemEnabled(m_user, false);
    m_controller->selectOnly(m_a);
    EXPECT_TRUE(m_a->isActive()) << "a selected layer shows even inside a group that is off";
    EXPECT_EQ(m_controller->pictureStack().winner(kEscape), m_a);

    Counter rebuilds;
    m_dispatch.RegisterHandler(QXM_LAYER_STATE_CHANGED, &rebuilds, &Counter::hit);
    m_controller->selectOnly(m_b);
    EXPECT_EQ(rebuilds.count, 1) << "one step, not an unselect and a select";
    EXPECT_FALSE(m_a->isSelected());
    EXPECT_FALSE(m_a->isActive()) << "switched off, it no longer qualifies";
    EXPECT_EQ(m_controller->selectedItems().size(), 1u);
    EXPECT_EQ(m_controller->pictureStack().winner(kEscape), m_b);

    m_controller->selectOnly({});
    EXPECT_TRUE(m_controller->selectedItems().empty());
    EXPECT_FALSE(m_b->isActive()) << "its group is off";
}

} // namespace
