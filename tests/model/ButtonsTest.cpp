#include "model/QXKeyTable.h"
#include "model/QXLayersItem.h"
#include "platform/QXText.h"
#include "store/QXPropertyList.h"

#include <gtest/gtest.h>

namespace {

constexpr size_t kEscape = 0, kF1 = 1, kSpacebar = 103;

QXLayer::Ptr readLayer(const std::string& buttonsXml) {
    std::string text = "<plist><dict><key>DisplayName</key><string>L</string>"
                       "<key>Buttons</key><dict>" +
                       buttonsXml + "</dict></dict></plist>";
    QXPropertyNode::Ptr node = parsePropertyList(text, u"layer");
    EXPECT_TRUE(node);
    auto layer = makeQX<QXLayer>(u"layer");
    layer->loadFrom(*node);
    return layer;
}

QXPropertyNode::Ptr written(const QXLayer& layer) {
    QXPropertyNode parent(u"p");
    layer.saveTo(parent);
    return parent.findChild(layer.identifier());
}

TEST(Buttons, EntriesAreFoundByKeyNameInAnyOrderAndLabelsAreNotNames) {
    auto layer = readLayer("<key>Spacebar</key><dict><key>Keystroke</key><string>s</string></dict>"
                           "<key>Space</key><dict><key>Keystroke</key><string>label</string></dict>"
                           "<key>F1</key><dict><key>Keystroke</key><string>f</string></dict>"
                           "<key>Escape</key><dict><key>Keystroke</key><string>e</string></dict>"
                           "<key>KeypadEnter</key><dict><key>Keystroke</key><string>k</string></dict>");
    EXPECT_EQ(layer->getButton(kSpacebar)->keystroke, u"s");
    EXPECT_EQ(layer->getButton(kF1)->keystroke, u"f");
    EXPECT_EQ(layer->getButton(kEscape)->keystroke, u"e") << "found after wrapping around";
    EXPECT_EQ(layer->getButton(112)->keystroke, u"k");
    int assigned = 0;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        assigned += layer->getButton(i)->isAssigned();
    EXPECT_EQ(assigned, 4) << "the label \"Space\" names no key";
}

TEST(Buttons, NumbersKeepTheirLowByteAndJunkReadsAsZero) {
    auto layer = readLayer("<key>Escape</key><dict><key>ActionCode</key><string>300</string>"
                           "<key>ScanCode</key><string>059</string>"
                           "<key>Keystroke</key><string>x</string></dict>"
                           "<key>F1</key><dict><key>ActionCode</key><string>abc</string>"
                           "<key>ScanCode</key><integer>7</integer>"
                           "<key>Keystroke</key><string>y</string></dict>");
    EXPECT_EQ(layer->getButton(kEscape)->actionCode, 44);
    EXPECT_EQ(layer->getButton(kEscape)->scanCode, 59);
    EXPECT_EQ(layer->getButton(kF1)->actionCode, 0);
    EXPECT_EQ(layer->getButton(kF1)->scanCode, 0) << "an <integer> reads as the word \"integer\"";
    auto writtenButtons = written(*layer)->findChild(u"Buttons");
    ASSERT_TRUE(writtenButtons);
    auto escape = writtenButtons->findChild(u"Escape");
    ASSERT_TRUE(escape);
    EXPECT_EQ(escape->childValue(u"ActionCode"), u"44");
    EXPECT_EQ(escape->childValue(u"ScanCode"), u"059") << "written back as it was read";

    // The editor's codes keep their low byte too: 255 is a code of its own, 256 none.
    for (const auto& [code, kept] : std::vector<std::pair<int, int>>{
             {255, 255}, {256, 0}, {0x1FF, 255}, {0x12A, 0x2A}}) {
        layer->setActionCode(kEscape, code);
        EXPECT_EQ(layer->getButton(kEscape)->actionCode, kept) << "code " << code;
        auto again = written(*layer)->findChild(u"Buttons");
        ASSERT_TRUE(again && again->findChild(u"Escape"));
        EXPECT_EQ(again->findChild(u"Escape")->childValue(u"ActionCode"),
                  kept ? fromUtf8(std::to_string(kept)) : std::u16string())
            << "code " << code << " as written";
    }
}

TEST(Buttons, OnlyAssignedButtonsAreWrittenAndAnActionCodeAloneIsNotAnAssignment) {
    auto layer = makeQX<QXLayer>(u"l");
    EXPECT_FALSE(written(*layer)->findChild(u"Buttons")) << "no buttons, no entry";
    layer->setActionCode(kF1, 0x3A);
    EXPECT_FALSE(layer->getButton(kF1)->isAssigned());
    EXPECT_FALSE(written(*layer)->findChild(u"Buttons"));
    layer->getButton(kSpacebar)->scanCode = 0x39;
    layer->getButton(kEscape)->keystroke = u"q";
    auto buttons = written(*layer)->findChild(u"Buttons");
    ASSERT_TRUE(buttons);
    ASSERT_EQ(buttons->children().size(), 2u);
    EXPECT_EQ(buttons->children()[0]->name(), u"Escape") << "written in key order";
    EXPECT_EQ(buttons->children()[1]->name(), u"Spacebar");
}

TEST(Buttons, PluginAssignmentsNobodyCanRunAreSavedBackUnchanged) {
    auto layer = readLayer(
        "<key>F1</key><dict>"
        "<key>ViewPlugin</key><dict><key>PluginID</key><string>Mail</string>"
        "<key>SubPluginID</key><string>pop3.view</string>"
        "<key>PluginProperties</key><dict><key>Server</key><string>mail.example</string>"
        "</dict></dict>"
        "<key>ActionPlugin</key><dict><key>PluginID</key><string>Nowhere</string>"
        "<key>SubPluginID</key><string>x.action</string></dict>"
        "</dict>");
    const QXButton* f1 = layer->getButton(kF1);
    ASSERT_TRUE(f1->view && f1->action);
    EXPECT_EQ(f1->view->keyIndex(), int(kF1));
    auto writtenButtons = written(*layer)->findChild(u"Buttons");
    ASSERT_TRUE(writtenButtons);
    auto entry = writtenButtons->findChild(u"F1");
    ASSERT_TRUE(entry);
    auto view = entry->findChild(u"ViewPlugin");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->childValue(u"PluginID"), u"Mail");
    EXPECT_EQ(view->childValue(u"SubPluginID"), u"pop3.view");
    auto properties = view->findChild(u"PluginProperties");
    ASSERT_TRUE(properties);
    EXPECT_EQ(properties->childValue(u"Server"), u"mail.example");
    auto action = entry->findChild(u"ActionPlugin");
    ASSERT_TRUE(action);
    EXPECT_EQ(action->childValue(u"PluginID"), u"Nowhere");
    EXPECT_FALSE(action->findChild(u"PluginProperties"));
}

TEST(Buttons, AViewWinsOverAPictureFile) {
    QXPropertyNode node(u"layer");
    auto button = node.addChild(u"Buttons")->addChild(u"Escape");
    auto view = button->addChild(u"ViewPlugin");
    view->addChild(u"PluginID", u"SysStat");
    button->addChild(u"Image", u"Escape", QXImage::fromFile("/nowhere/Escape.png"));
    auto layer = makeQX<QXLayer>(u"layer");
    layer->loadFrom(node);
    EXPECT_TRUE(layer->getButton(kEscape)->view);
    EXPECT_FALSE(layer->getButton(kEscape)->image);
}

// Counts what the layer tells a plug-in instance.
struct CountingView : QXKeyViewInstance {
    int starts = 0, stops = 0;
    void start() override { ++starts; }
    void stop() override { ++stops; }
};
struct CountingAction : QXKeyActionInstance {
    int starts = 0, stops = 0;
    void start() override { ++starts; }
    void stop() override { ++stops; }
};

TEST(Buttons, ActivationStartsAndStopsInstancesOnce) {
    auto layer = makeQX<QXLayer>(u"l");
    auto view = makeQX<CountingView>();
    auto action = makeQX<CountingAction>();
    layer->setView(kF1, view);
    layer->setAction(kEscape, action);
    EXPECT_EQ(view->starts, 0) << "an inactive layer does not start what it gets";
    layer->activate();
    layer->activate();
    EXPECT_EQ(view->starts, 1);
    EXPECT_EQ(action->starts, 1);
    auto later = makeQX<CountingView>();
    layer->setView(kSpacebar, later);
    EXPECT_EQ(later->starts, 1) << "an active layer starts a new view at once";
    layer->deactivate();
    layer->deactivate();
    EXPECT_EQ(view->stops, 1);
    EXPECT_EQ(action->stops, 1);
    EXPECT_EQ(later->stops, 1);
}

TEST(Buttons, EditingReplacesWhatTheNewAssignmentExcludes) {
    auto layer = makeQX<QXLayer>(u"l");
    auto view = makeQX<CountingView>();
    layer->activate();
    layer->setView(kF1, view);
    layer->setPicture(kF1, nullptr);
    const QXButton* f1 = layer->getButton(kF1);
    EXPECT_FALSE(f1->view);
    EXPECT_EQ(view->stops, 1) << "the replaced view was stopped";
    ASSERT_TRUE(f1->image);
    EXPECT_TRUE(f1->image->isLoaded()) << "a new picture is a black 48 x 48 one";
    EXPECT_EQ(f1->image->getWidth(), 48u);
    EXPECT_TRUE(f1->image->changed());

    auto action = makeQX<CountingAction>();
    layer->getButton(kEscape)->scanCode = 12;
    layer->setActionCode(kEscape, 0x29);
    layer->setAction(kEscape, action);
    EXPECT_EQ(layer->getButton(kEscape)->actionCode, 0);
    EXPECT_EQ(layer->getButton(kEscape)->scanCode, 0);
    layer->setActionCode(kEscape, 0x29);
    EXPECT_FALSE(layer->getButton(kEscape)->action);
    EXPECT_EQ(action->stops, 1);

    layer->getButton(kSpacebar)->keystroke = u"z";
    layer->clearButton(kSpacebar);
    layer->clearButton(kF1);
    EXPECT_FALSE(layer->getButton(kSpacebar)->isAssigned());
    EXPECT_FALSE(layer->getButton(kF1)->isAssigned());
}

} // namespace
