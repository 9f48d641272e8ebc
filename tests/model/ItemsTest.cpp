#include "model/QXLayersItem.h"
#include "platform/QXGuid.h"

#include <gtest/gtest.h>

namespace {

QXLayersItem::Ptr layer(const std::u16string& id) {
    return makeQX<QXLayer>(id);
}

std::vector<std::u16string> ids(const QXItemList& list) {
    std::vector<std::u16string> out;
    for (const auto& item : list)
        out.push_back(item->identifier());
    return out;
}

std::vector<std::u16string> ids(const std::vector<QXLayer::Ptr>& list) {
    std::vector<std::u16string> out;
    for (const auto& item : list)
        out.push_back(item->identifier());
    return out;
}

TEST(ItemList, AddingAnExistingIdentifierReplacesInPlace) {
    QXItemList list{layer(u"a"), layer(u"b"), layer(u"c")};
    QXLayersItem::Ptr newB = layer(u"b");
    addItem(list, newB);
    EXPECT_EQ(ids(list), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    EXPECT_TRUE(list[1] == newB);
    addLoadedItem(list, layer(u"a"));
    EXPECT_EQ(ids(list), (std::vector<std::u16string>{u"b", u"c", u"a"}))
        << "a loaded item moves to the end";
}

TEST(ItemList, InsertGoesAfterTheReferenceOrToTheEndWhenItIsMissing) {
    QXItemList list{layer(u"a"), layer(u"b")};
    insertItem(list, layer(u"x"), list[0]);
    EXPECT_EQ(ids(list), (std::vector<std::u16string>{u"a", u"x", u"b"}));
    insertItem(list, layer(u"y"), layer(u"not-in-list"));
    EXPECT_EQ(ids(list), (std::vector<std::u16string>{u"a", u"x", u"b", u"y"}));
    insertItem(list, layer(u"b"));
    EXPECT_EQ(ids(list), (std::vector<std::u16string>{u"b", u"a", u"x", u"y"}))
        << "without a reference the item goes first and its namesake goes";
    EXPECT_FALSE(removeItem(list, layer(u"a"))) << "removal is by identity, not by name";
    EXPECT_TRUE(removeItem(list, list[1]));
    EXPECT_EQ(ids(list), (std::vector<std::u16string>{u"b", u"x", u"y"}));
}

TEST(ItemList, FlattenWalksDepthFirstAndEmptyGroupsGiveNothing) {
    auto outer = makeQX<QXLayersGroup>(u"outer");
    auto empty = makeQX<QXLayersGroup>(u"empty");
    auto inner = makeQX<QXLayersGroup>(u"inner");
    inner->children() = {layer(u"i1"), layer(u"i2")};
    outer->children() = {layer(u"o1"), empty, inner, layer(u"o2")};
    QXItemList top{layer(u"t1"), outer, layer(u"t2")};

    auto all = flatten(top, [](const QXLayersItem&) { return true; });
    EXPECT_EQ(ids(all), (std::vector<std::u16string>{u"t1", u"o1", u"i1", u"i2", u"o2", u"t2"}));

    auto i2 = findItem(inner->children(), u"i2");
    auto t2 = findItem(top, u"t2");
    ASSERT_TRUE(i2 && t2);
    i2->activate();
    t2->activate();
    outer->activate(); // a group's own bit does not bring in its layers
    auto active = flatten(top, [](const QXLayersItem& i) { return i.isActive(); });
    EXPECT_EQ(ids(active), (std::vector<std::u16string>{u"i2", u"t2"}));
}

TEST(ItemList, NewItemsGetAGuidAndADefaultName) {
    QXItemList list{layer(u"a")};
    QXLayer::Ptr created = createLayer(list, list[0]);
    auto group = createGroup(list);
    EXPECT_EQ(created->displayName(), u"New layer");
    EXPECT_EQ(group->displayName(), u"New group");
    EXPECT_EQ(created->identifier().size(), 38u);
    EXPECT_EQ(created->identifier().front(), u'{');
    EXPECT_EQ(created->identifier().back(), u'}');
    EXPECT_NE(created->identifier(), group->identifier());
    EXPECT_EQ(ids(list), (std::vector<std::u16string>{group->identifier(), u"a",
                                                      created->identifier()}));
    EXPECT_TRUE(created->isEnabled()) << "items start enabled";
}

TEST(Items, GroupsAndLayersRoundTripThroughTheirNodes) {
    QXPropertyNode root(u"root");
    auto group = makeQX<QXLayersGroup>(u"g");
    group->setDisplayName(u"Group");
    auto first = makeQX<QXLayer>(u"l1");
    first->setDisplayName(u"First");
    first->setFlag(QXLayersItem::kEnabled, false);
    first->addCondition(makeQX<QXModifierCondition>(QXModifier::kShift));
    first->ensureProperties().addChild(u"note", u"kept");
    first->getButton(3)->keystroke = u"x";
    group->children() = {first, layer(u"l2")};
    group->saveTo(root);

    ASSERT_TRUE(root.findChild(u"g"));
    QXLayersItem::Ptr back = createItem(*root.findChild(u"g"));
    ASSERT_TRUE(back && back->isGroup());
    EXPECT_EQ(back->displayName(), u"Group");
    ASSERT_EQ(ids(back->children()), (std::vector<std::u16string>{u"l1", u"l2"}));
    auto l1 = back->children()[0].dynamicCast<QXLayer>();
    ASSERT_TRUE(l1);
    EXPECT_FALSE(l1->isEnabled());
    EXPECT_EQ(l1->displayName(), u"First");
    EXPECT_EQ(l1->getButton(3)->keystroke, u"x");
    EXPECT_EQ(l1->properties()->childValue(u"note"), u"kept");
    ASSERT_EQ(l1->conditions().size(), 1u);
    EXPECT_EQ(l1->conditions()[0]->type(), u"modifier");
    EXPECT_EQ(l1->getButton(113), nullptr) << "there is no key 113";
}

} // namespace
