// The plug-in host under the real layers controller and dispatch core: a layer stored
// with plug-in assignments and a plug-in condition is read, switched on and off by the
// plug-in, shows the view's pictures, takes key presses, and is saved back whole.
#include "PluginTestSupport.h"
#include "model/QXLayersController.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>

using qxplugintest::HostFixture;
using qxplugintest::matching;
using qxplugintest::PluginControl;
using Strings = std::vector<std::string>;

namespace {

constexpr size_t kF2 = 2;

class EndToEndTest : public ::testing::Test, public HostFixture {
protected:
    qxtest::TempDir m_runtime;
    qxtest::ScopedEnv m_env{"XDG_RUNTIME_DIR", m_runtime.path().string()};
};

TEST_F(EndToEndTest, APluginLayerRunsThroughTheController) {
    const std::string conditions = "<key>{C0}</key><dict><key>Type</key><string>plugin</string>" +
                                   plugin("test.good", "switch.condition", {{"Initial", "1"}}) +
                                   "</dict>";
    QXLayer::Ptr layer =
        readLayer(layerText({{"F2", plugin("test.good", "color.view", {{"Color", "65280"}}),
                              plugin("test.good", "log.action", {{"Presses", "0"}})}},
                            conditions));
    QXLayerTree tree;
    tree.topLevel() = {layer};
    QXLayersController controller(tree, m_dispatch);
    if (m_registry.find(u"test.good")->ensureLoaded())
        PluginControl().takeLog();

    // The condition is active from its factory on: the layer comes in and its view
    // publishes a green picture, which the handler of 2037 reads from the host buffer.
    controller.reevaluate();
    ASSERT_TRUE(layer->isActive());
    EXPECT_EQ(conditionMessages(), 0);
    auto view = layer->getButton(kF2)->view.dynamicCast<QXViewPluginInstance>();
    ASSERT_TRUE(qxtest::waitFor([&] { return frameCount() == 1; }));
    Frame frame = frames().back();
    EXPECT_EQ(frame.view, view.get());
    EXPECT_EQ(frame.key, long(kF2));
    ASSERT_FALSE(frame.pixels.empty());
    EXPECT_EQ((std::array{frame.pixels[0], frame.pixels[1], frame.pixels[2]}),
              (std::array<unsigned char, 3>{0, 255, 0}));

    // A press from the keyboard reaches the action, paired with the view.
    m_dispatch.Send(QXM_DEVICE_KEY, kF2, 1);
    m_dispatch.Send(QXM_DEVICE_KEY, kF2, 0);
    PluginControl control;
    EXPECT_EQ(matching(control.takeLog(), "action"),
              (Strings{"action KeyDown paired=1", "action KeyUp"}));

    // The plug-in switches the layer off and on again.
    control.setConditions(0);
    EXPECT_EQ(conditionMessages(), 1);
    EXPECT_FALSE(layer->isActive());
    EXPECT_FALSE(view->isShown());
    EXPECT_EQ(control.takeLog(), (Strings{"view Deactivate", "view Release", "view destroyed",
                                          "action Release", "action destroyed"}));
    control.setConditions(1);
    EXPECT_TRUE(layer->isActive());
    ASSERT_TRUE(qxtest::waitFor([&] { return frameCount() == 2; }));
    EXPECT_EQ(frames().back().view, view.get());

    // Saved back with what was read and what the plug-in wrote.
    QXPropertyNode saved(u"saved");
    layer->saveTo(saved);
    QXPropertyNode::Ptr node = saved.findChild(u"{test-layer}");
    QXPropertyNode::Ptr f2 = node->findChild(u"Buttons")->findChild(u"F2");
    EXPECT_EQ(f2->findChild(u"ViewPlugin")->findChild(u"PluginProperties")->childValue(u"Color"),
              u"65280");
    QXPropertyNode::Ptr action = f2->findChild(u"ActionPlugin");
    EXPECT_EQ(action->childValue(u"SubPluginID"), u"log.action");
    EXPECT_EQ(action->findChild(u"PluginProperties")->childValue(u"Presses"), u"1");
    QXPropertyNode::Ptr condition = node->findChild(u"Conditions")->children().at(0);
    EXPECT_EQ(condition->childValue(u"Type"), u"plugin");
    EXPECT_EQ(condition->childValue(u"PluginID"), u"test.good");
    EXPECT_EQ(condition->findChild(u"PluginProperties")->childValue(u"Initial"), u"1");
}

} // namespace
