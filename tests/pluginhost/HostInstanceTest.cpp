#include "PluginTestSupport.h"
#include "model/QXKeyTable.h"
#include "store/QXPropertyList.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>

using qxplugintest::HostFixture;
using qxplugintest::matching;
using qxplugintest::PluginControl;
using Strings = std::vector<std::string>;

namespace {

constexpr size_t kEscape = 0, kF1 = 1, kF2 = 2, kL1 = 16;

class HostTest : public ::testing::Test, public HostFixture {
protected:
    HostTest() {
        // The library may still be loaded from an earlier test: start with an empty log.
        if (m_registry.find(u"test.good")->ensureLoaded())
            PluginControl().takeLog();
    }

    static QXPtr<QXViewPluginInstance> view(const QXLayer::Ptr& layer, size_t key) {
        return layer->getButton(key)->view.dynamicCast<QXViewPluginInstance>();
    }
    static QXPtr<QXActionPluginInstance> action(const QXLayer::Ptr& layer, size_t key) {
        return layer->getButton(key)->action.dynamicCast<QXActionPluginInstance>();
    }
    static QXPtr<QXConditionPluginInstance> condition(const QXLayer::Ptr& layer, size_t index) {
        return layer->conditions().at(index).dynamicCast<QXConditionPluginInstance>();
    }
    static std::string conditionEntry(const std::string& name, const std::string& keys) {
        return "<key>" + name + "</key><dict><key>Type</key><string>plugin</string>" + keys +
               "</dict>";
    }
    static std::u16string text(const char16_t* buffer) { return buffer; }

    Strings log() { return PluginControl().takeLog(); }
};

TEST_F(HostTest, AViewIsShownOnceHiddenOnceAndPublishesOnlyWhileShown) {
    QXLayer::Ptr layer = readLayer(
        layerText({{"Escape", plugin("test.good", "color.view", {{"Color", "255"}}), ""}}));
    auto escape = view(layer, kEscape);
    layer->activate();
    ASSERT_TRUE(escape->pluginInstance());
    EXPECT_FALSE(escape->GetDC()) << "no surface before the first show";

    escape->show();
    escape->show();
    ASSERT_TRUE(qxtest::waitFor([&] { return frameCount() == 1; }));
    const Frame frame = frames().front();
    EXPECT_EQ(frame.view, escape.get());
    EXPECT_EQ(frame.view, static_cast<QXKeyViewInstance*>(escape.get()))
        << "a handler may take 2037's view as the model's type";
    EXPECT_EQ(frame.key, long(kEscape));
    ASSERT_EQ(frame.pixels.size(), QXViewPluginInstance::kImageBytes)
        << "the handler of 2037 reads the host buffer";
    for (size_t i = 0; i < frame.pixels.size(); i += 3)
        ASSERT_EQ((std::array{frame.pixels[i], frame.pixels[i + 1], frame.pixels[i + 2]}),
                  (std::array<unsigned char, 3>{0, 0, 255}))
            << "colour 255 is red, stored blue-green-red, at byte " << i;

    escape->hide();
    escape->hide();
    EXPECT_FALSE(escape->isShown());
    escape->UpdateImage(); // a late picture of the plug-in
    EXPECT_EQ(frameCount(), 1u) << "nothing is published while hidden";
    QXViewPluginInstance::Pixels pixels;
    EXPECT_FALSE(escape->copyImage(pixels));
    EXPECT_TRUE(escape->GetDC()) << "the surface survives hiding";

    const Strings calls = log();
    EXPECT_EQ(matching(calls, "view Activate").size(), 1u);
    EXPECT_EQ(matching(calls, "view Deactivate").size(), 1u);
}

TEST_F(HostTest, ViewsReportTheGeometryOfTheirKey) {
    const std::string view = plugin("test.good", "unknown.view");
    QXLayer::Ptr layer =
        readLayer(layerText({{"Escape", view, ""}, {"F1", view, ""}, {"L1", view, ""}}));
    auto geometry = [&](size_t key) {
        auto v = HostTest::view(layer, key);
        return std::array{v->GetKeyRow(), v->GetKeyPlace(), v->GetKeyX(), v->GetKeyY()};
    };
    EXPECT_EQ(geometry(kEscape), (std::array{0, 0, 37, 11}));
    EXPECT_EQ(geometry(kF1), (std::array{0, 2, 136, 11}));
    EXPECT_EQ(geometry(kL1), (std::array{1, 0, 11, 81}));
}

TEST_F(HostTest, AnUnknownSubPluginOrABrokenPluginLeavesTheKeyEmptyAndTheAssignmentIntact) {
    const std::vector<std::pair<std::string, std::string>> kept = {{"A", "1"}};
    const std::string conditions =
        conditionEntry("c1", plugin("test.throwingfactory", "any.condition")) +
        conditionEntry("c2", plugin("test.nullfactory", "any.condition"));
    QXLayer::Ptr layer = readLayer(layerText(
        {{"Escape", plugin("test.good", "unknown.view"), plugin("test.good", "unknown.action")},
         {"F1", plugin("test.throwingfactory", "any.view", kept),
          plugin("test.throwingfactory", "any.action", kept)},
         {"F2", plugin("test.missing", "gone.view", kept), plugin("test.unloadable", "any.action")},
         {"L1", plugin("test.nullfactory", "any.view"), plugin("test.nofactory", "any.action")}},
        conditions));
    layer->activate();
    for (size_t key : {kEscape, kF1, kF2, kL1}) {
        auto v = view(layer, key);
        auto a = action(layer, key);
        v->show();
        a->keyEvent(int(key), 1);
        EXPECT_FALSE(v->pluginInstance() || a->pluginInstance()) << "key " << key;
        EXPECT_FALSE(v->isShown() || a->isPressed()) << "key " << key;
        EXPECT_FALSE(v->showPropertyPage(this)) << "key " << key;
    }
    EXPECT_FALSE(evaluateAll(layer->conditions()));
    EXPECT_FALSE(condition(layer, 0)->pluginInstance());
    EXPECT_EQ(frameCount(), 0u);

    QXPropertyNode saved(u"saved");
    layer->saveTo(saved);
    QXPropertyNode::Ptr f2 =
        saved.findChild(u"{test-layer}")->findChild(u"Buttons")->findChild(u"F2");
    QXPropertyNode::Ptr missing = f2->findChild(u"ViewPlugin");
    EXPECT_EQ(missing->childValue(u"PluginID"), u"test.missing");
    EXPECT_EQ(missing->childValue(u"SubPluginID"), u"gone.view");
    EXPECT_EQ(missing->findChild(u"PluginProperties")->childValue(u"A"), u"1");
    EXPECT_EQ(f2->findChild(u"ActionPlugin")->childValue(u"PluginID"), u"test.unloadable");
    QXPropertyNode::Ptr savedConditions = saved.children().front()->findChild(u"Conditions");
    ASSERT_EQ(savedConditions->children().size(), 2u);
    EXPECT_EQ(savedConditions->children()[0]->childValue(u"PluginID"), u"test.throwingfactory");
}

TEST_F(HostTest, PropertiesAreReadAndWrittenInTheAssignmentsOwnDictionary) {
    const std::string stored =
        layerText({{"Escape", plugin("test.good", "unknown.view"), ""},
                   {"F1", plugin("test.good", "unknown.view", {{"Y", "old"}}), ""}});
    QXPropertyNode::Ptr node = parsePropertyList(stored, u"{test-layer}");
    QXLayer::Ptr layer = createItem(*node).dynamicCast<QXLayer>();
    auto fresh = view(layer, kEscape);

    char16_t buffer[kQXTextCapacity];
    std::fill(std::begin(buffer), std::end(buffer), u'x');
    EXPECT_EQ(fresh->GetProperty(u"X", buffer), 0);
    EXPECT_EQ(text(buffer), u"") << "emptied even without a dictionary";
    fresh->SetProperty(u"X", u"5");
    EXPECT_EQ(fresh->GetProperty(u"X", buffer), 1);
    EXPECT_EQ(text(buffer), u"5");
    fresh->SetProperty(u"X", nullptr);
    fresh->SetProperty(nullptr, u"6");
    EXPECT_EQ(fresh->GetProperty(u"X", buffer), 1);
    EXPECT_EQ(text(buffer), u"5") << "a null value changes nothing";
    buffer[0] = u'x';
    EXPECT_EQ(fresh->GetProperty(nullptr, buffer), 0);
    EXPECT_EQ(buffer[0], u'x') << "a null name leaves the buffer alone";
    fresh->SetProperty(u"Long", std::u16string(600, u'L').c_str());
    EXPECT_EQ(fresh->GetProperty(u"Long", buffer), 1);
    EXPECT_EQ(text(buffer), std::u16string(kQXTextCapacity - 1, u'L'));

    // A plug-in edits the loaded document itself.
    auto loaded = view(layer, kF1);
    loaded->SetProperty(u"Y", u"new");
    QXPropertyNode::Ptr f1 = node->findChild(u"Buttons")->findChild(u"F1");
    EXPECT_EQ(f1->findChild(u"ViewPlugin")->findChild(u"PluginProperties")->childValue(u"Y"),
              u"new");

    fresh->GetLayerID(buffer);
    EXPECT_EQ(text(buffer), u"{test-layer}");
    layer->setDisplayName(u"Renamed");
    fresh->GetLayerName(buffer);
    EXPECT_EQ(text(buffer), u"Renamed");
    fresh->GetLayerID(nullptr);
    fresh->GetLayerName(nullptr);

    QXPropertyNode saved(u"saved");
    layer->saveTo(saved);
    QXPropertyNode::Ptr escape =
        saved.findChild(u"{test-layer}")->findChild(u"Buttons")->findChild(u"Escape");
    QXPropertyNode::Ptr properties =
        escape->findChild(u"ViewPlugin")->findChild(u"PluginProperties");
    ASSERT_TRUE(properties) << "the dictionary made by SetProperty is saved";
    EXPECT_EQ(properties->childValue(u"X"), u"5");
}

TEST_F(HostTest, AHeldKeyGetsOneKeyDownAndOneKeyUp) {
    QXLayer::Ptr layer = readLayer(layerText({{"Escape", "", plugin("test.good", "log.action")}}));
    auto escape = action(layer, kEscape);
    layer->activate();
    ASSERT_TRUE(escape->pluginInstance());

    escape->keyEvent(int(kEscape), 0); // released without a press
    for (int state : {1, 1, 1, 0, 0, 2})
        escape->keyEvent(int(kEscape), state);
    EXPECT_EQ(matching(log(), "action Key"), (Strings{"action KeyDown paired=0", "action KeyUp"}));

    escape->keyEvent(int(kEscape), 1);
    layer->deactivate(); // the key is still held
    EXPECT_FALSE(escape->isPressed());
    EXPECT_EQ(matching(log(), "action"), (Strings{"action KeyDown paired=0", "action KeyUp",
                                                  "action Release", "action destroyed"}));
}

TEST_F(HostTest, ViewsAndActionsPairOnlyWithinOnePlugin) {
    const std::string goodView = plugin("test.good", "color.view");
    QXLayer::Ptr layer =
        readLayer(layerText({{"Escape", goodView, plugin("test.good", "log.action")},
                             {"F1", goodView, plugin("test.other", "log.action")}}));
    layer->activate();
    auto sameView = view(layer, kEscape);
    auto sameAction = action(layer, kEscape);
    ASSERT_TRUE(sameView->pluginInstance() && sameAction->pluginInstance());
    EXPECT_EQ(sameView->GetActionInstance(), sameAction->pluginInstance());
    EXPECT_EQ(sameAction->GetViewInstance(), sameView->pluginInstance());

    auto otherAction = action(layer, kF1);
    ASSERT_TRUE(otherAction->pluginInstance()) << "the other plug-in offers log.action too";
    EXPECT_FALSE(view(layer, kF1)->GetActionInstance());
    EXPECT_FALSE(otherAction->GetViewInstance());
}

TEST_F(HostTest, DroppedFilesGoToTheDropTargetUntilItHasEnough) {
    QXLayer::Ptr layer = readLayer(
        layerText({{"Escape", plugin("test.good", "color.view", {{"AcceptDrops", "0"}}), ""},
                   {"F1", plugin("test.good", "color.view"), plugin("test.good", "log.action")}}));
    layer->activate();
    log();
    const std::vector<std::u16string> files = {u"/tmp/a", u"/tmp/stop-b", u"/tmp/c"};
    EXPECT_FALSE(view(layer, kEscape)->dropFiles(files));
    EXPECT_EQ(log(), (Strings{"AcceptFiles 3"}));
    EXPECT_TRUE(view(layer, kF1)->dropFiles(files));
    EXPECT_EQ(log(), (Strings{"AcceptFiles 3", "DropFile /tmp/a", "DropFile /tmp/stop-b"}));
    EXPECT_FALSE(action(layer, kF1)->dropFiles(files)) << "the action has no drop target";
}

TEST_F(HostTest, PropertyPagesAreCreatedOnceAndDestroyedBeforeRelease) {
    QXLayer::Ptr layer =
        readLayer(layerText({{"Escape", plugin("test.good", "color.view"), ""}},
                            conditionEntry("c", plugin("test.good", "switch.condition"))));
    auto escape = view(layer, kEscape);
    int parent = 0;
    EXPECT_FALSE(escape->showPropertyPage(&parent)) << "no page before the view is attached";
    layer->activate();
    log();
    QXWindowHandle page = escape->showPropertyPage(&parent);
    EXPECT_TRUE(page);
    EXPECT_EQ(escape->showPropertyPage(&parent), page);
    escape->hidePropertyPage();
    escape->hidePropertyPage();
    EXPECT_EQ(log(), (Strings{"CreateGUI parent", "DestroyGUI"}));

    escape->showPropertyPage(&parent);
    layer->deactivate();
    EXPECT_EQ(log(), (Strings{"CreateGUI parent", "DestroyGUI", "view Release", "view destroyed"}));

    // A condition makes its instance for the page if it has none yet.
    EXPECT_TRUE(condition(layer, 0)->showPropertyPage(&parent));
    condition(layer, 0)->release();
    EXPECT_EQ(log(), (Strings{"CreateGUI parent", "DestroyGUI", "condition Release",
                              "condition destroyed"}));
}

TEST_F(HostTest, ConditionsAnnounceOnlyRealChanges) {
    QXLayer::Ptr layer = readLayer(layerText(
        {}, conditionEntry("c0", plugin("test.good", "switch.condition")) +
                conditionEntry("c1", plugin("test.good", "switch.condition", {{"Initial", "1"}}))));
    auto off = condition(layer, 0);
    auto on = condition(layer, 1);
    EXPECT_EQ(on->type(), u"plugin");
    EXPECT_TRUE(on->evaluate()) << "the state set inside the factory counts";
    EXPECT_FALSE(off->evaluate());
    EXPECT_EQ(conditionMessages(), 0) << "no message for a state set inside the factory";

    PluginControl control;
    control.setConditions(2); // counts as inactive: only "on" changes
    EXPECT_EQ(conditionMessages(), 1);
    EXPECT_FALSE(on->evaluate());
    control.setConditions(1);
    control.setConditions(1);
    EXPECT_EQ(conditionMessages(), 3) << "one message per changed condition, none for a repeat";
    EXPECT_TRUE(off->evaluate() && on->evaluate());
}

TEST_F(HostTest, TheContextOutlivesItsLayerUntilThePluginIsDone) {
    QXLayer::Ptr layer = readLayer(
        layerText({{"Escape", plugin("test.good", "color.view", {{"ReleaseLater", "1"}}), ""}}));
    layer->activate();
    view(layer, kEscape)->show();
    const void* address = view(layer, kEscape).get();
    ASSERT_TRUE(QXViewPluginInstance::isLive(address));
    log();

    layer.reset(); // the layer goes; the plug-in keeps its instance a while
    EXPECT_EQ(log(), (Strings{"view Deactivate", "view Release"}));
    EXPECT_TRUE(QXViewPluginInstance::isLive(address));

    PluginControl().finishReleases(); // destroyed on a thread of the plug-in
    EXPECT_EQ(log(), (Strings{"view destroyed"}));
    EXPECT_FALSE(QXViewPluginInstance::isLive(address));
}

TEST_F(HostTest, TheEditorGetsNewInstancesOnlyFromLibrariesThatMakeThem) {
    QXPluginEntry::Ptr good = m_registry.find(u"test.good");
    QXPluginEntry::Ptr partial = m_registry.find(u"test.nullfactory");
    EXPECT_FALSE(m_factory.newView(partial, u"any.view", 5)) << "no createView";
    EXPECT_TRUE(m_factory.newAction(partial, u"any.action", 5));
    EXPECT_FALSE(m_factory.newAction(m_registry.find(u"test.unloadable"), u"any.action", 5));
    EXPECT_TRUE(m_factory.newCondition(good, u"switch.condition"));

    QXPtr<QXViewPluginInstance> created = m_factory.newView(good, u"color.view", 5);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->pluginId(), u"test.good");
    EXPECT_EQ(created->keyIndex(), 5);
    QXItemList items;
    QXLayer::Ptr layer = createLayer(items);
    layer->setView(5, created);
    layer->activate();
    EXPECT_TRUE(created->pluginInstance());
    char16_t id[kQXTextCapacity];
    created->GetLayerID(id);
    EXPECT_EQ(text(id), layer->identifier());
}

} // namespace
