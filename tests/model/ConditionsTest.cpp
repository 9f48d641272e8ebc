#include "model/QXCondition.h"
#include "model/QXLayersItem.h"
#include "store/QXPropertyList.h"

#include <gtest/gtest.h>
#include <set>

namespace {

// A system whose answers the test sets.
struct FakeState : QXSystemState {
    uint32_t layout = 0x04090409;
    uint32_t modifiers = 0;
    std::set<std::u16string> running;
    std::u16string foreground;
    bool connected = false;

    uint32_t currentLayout() const override { return layout; }
    uint32_t modifierState() const override { return modifiers; }
    bool isApplicationForeground(const std::u16string& id) const override {
        return id == foreground;
    }
    bool isApplicationRunning(const std::u16string& id) const override {
        return running.count(id) != 0;
    }
    bool isKeyboardConnected() const override { return connected; }
};

class ConditionsTest : public ::testing::Test {
protected:
    ConditionsTest() { QXSystemState::setCurrent(&m_state); }
    ~ConditionsTest() override { QXSystemState::setCurrent(nullptr); }

    QXConditionList read(const std::string& entries) {
        auto node = parsePropertyList("<plist><dict><key>Conditions</key><dict>" + entries +
                                          "</dict></dict></plist>",
                                      u"item");
        return readConditions(*node);
    }

    static std::string entry(const std::string& body) {
        static int n = 0;
        return "<key>{" + std::to_string(++n) + "}</key><dict>" + body + "</dict>";
    }

    FakeState m_state;
};

TEST_F(ConditionsTest, ModifierMaskHoldsWhenEveryBitIsHeld) {
    auto list = read(entry("<key>Type</key><string>modifier</string>"
                           "<key>Modifiers</key><string>cs</string>"));
    ASSERT_EQ(list.size(), 1u);
    auto& condition = *list[0];
    m_state.modifiers = QXModifier::kCtrl;
    EXPECT_FALSE(condition.evaluate());
    m_state.modifiers = QXModifier::kCtrl | QXModifier::kShift;
    EXPECT_TRUE(condition.evaluate());
    m_state.modifiers |= QXModifier::kAlt;
    EXPECT_TRUE(condition.evaluate()) << "extra modifiers do not matter";

    auto main = read(entry("<key>Type</key><string>modifier</string>"
                           "<key>Modifiers</key><string>Main</string>"));
    m_state.modifiers = 0;
    EXPECT_TRUE(main[0]->evaluate()) << "\"Main\" always holds";
}

TEST_F(ConditionsTest, MaskTextUsesOneLetterPerBitFromTheLowest) {
    EXPECT_EQ(QXModifierCondition::maskText(0), u"Main");
    EXPECT_EQ(QXModifierCondition::maskText(0xFF), u"acszlknr");
    EXPECT_EQ(QXModifierCondition::maskText(QXModifier::kNumLock | QXModifier::kShift), u"sn");
    EXPECT_EQ(QXModifierCondition::parseMask(u"n?s!"), QXModifier::kNumLock | QXModifier::kShift)
        << "unknown characters are ignored";
}

TEST_F(ConditionsTest, EveryStoredTypeReadsWritesAndReadsBackTheSame) {
    auto list = read(entry("<key>Type</key><string>language</string>"
                           "<key>PCLayoutID</key><string>04070407</string>") +
                     entry("<key>Type</key><string>lock</string>"
                           "<key>Modifiers</key><string>n</string>") +
                     entry("<key>Type</key><string>application</string>"
                           "<key>PCApplicationID</key><string>gimp</string>"
                           "<key>Predicate</key><string>is foreground</string>") +
                     entry("<key>Type</key><string>application</string>"
                           "<key>PCApplicationID</key><string>vlc</string>"
                           "<key>Predicate</key><string>is runing</string>") +
                     entry("<key>Type</key><string>weather</string>") +
                     entry("<key>Type</key><string>plugin</string>"
                           "<key>PluginID</key><string>Modes</string>"
                           "<key>SubPluginID</key><string>textmode.condition</string>"));
    ASSERT_EQ(list.size(), 5u) << "an unknown type is dropped";
    EXPECT_EQ(list[0]->type(), u"language");
    EXPECT_EQ(static_cast<QXSysLayoutCondition&>(*list[0]).layout(), 0x04070407u);
    EXPECT_EQ(list[1]->type(), u"lock");
    auto& running = static_cast<QXApplicationCondition&>(*list[3]);
    EXPECT_FALSE(running.foreground()) << "a misspelt predicate means \"is running\"";

    QXPropertyNode first(u"item"), second(u"item");
    writeConditions(list, first);
    writeConditions(list, second);
    auto a = first.findChild(u"Conditions"), b = second.findChild(u"Conditions");
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->children().size(), 5u);
    ASSERT_EQ(b->children().size(), 5u);
    EXPECT_NE(a->children()[0]->name(), b->children()[0]->name())
        << "entry names are new GUIDs at every save";
    EXPECT_EQ(a->children()[0]->childValue(u"PCLayoutID"), u"04070407");
    EXPECT_EQ(a->children()[3]->childValue(u"Predicate"), u"is running");
    EXPECT_EQ(a->children()[4]->childValue(u"SubPluginID"), u"textmode.condition");

    QXPropertyNode holder(u"item");
    holder.addChild(a);
    auto back = readConditions(holder);
    ASSERT_EQ(back.size(), 5u);
    for (size_t i = 0; i < back.size(); ++i)
        EXPECT_EQ(back[i]->type(), list[i]->type());
}

TEST_F(ConditionsTest, ApplicationLanguageAndKeyboardFollowTheSystem) {
    QXApplicationCondition foreground(u"gimp", true), running(u"gimp", false);
    QXSysLayoutCondition german(0x04070407);
    QXSysCondition keyboard;
    m_state.running = {u"gimp"};
    EXPECT_FALSE(foreground.evaluate());
    EXPECT_TRUE(running.evaluate());
    m_state.foreground = u"gimp";
    EXPECT_TRUE(foreground.evaluate());
    EXPECT_FALSE(german.evaluate());
    m_state.layout = 0x04070407;
    EXPECT_TRUE(german.evaluate());
    EXPECT_FALSE(keyboard.evaluate());
    m_state.connected = true;
    EXPECT_TRUE(keyboard.evaluate());
}

TEST_F(ConditionsTest, AnItemWithOnlyTheRuntimeConditionWritesAnEmptyEntry) {
    auto group = makeQX<QXLayersGroup>(u"user_layers");
    group->addCondition(makeQX<QXSysCondition>());
    QXPropertyNode parent(u"p");
    group->saveTo(parent);
    std::string text = printPropertyList(parent);
    EXPECT_NE(text.find("<key>Conditions</key>"), std::string::npos);
    auto back = createItem(*parsePropertyList(text, u"p")->findChild(u"user_layers"));
    EXPECT_TRUE(back->conditions().empty());
}

TEST_F(ConditionsTest, ListsHoldOnlyWhenAllHoldAndANullEntryFails) {
    QXConditionList list{makeQX<QXModifierCondition>(QXModifier::kAlt)};
    EXPECT_TRUE(evaluateAll({}));
    EXPECT_FALSE(evaluateAll(list));
    m_state.modifiers = QXModifier::kAlt;
    EXPECT_TRUE(evaluateAll(list));
    list.push_back({});
    EXPECT_FALSE(evaluateAll(list));
}

} // namespace
