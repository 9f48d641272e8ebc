#include "model/QXKeyTable.h"
#include "model/QXLanguageLayers.h"
#include "model/QXXkbLayoutSource.h"
#include "platform/QXText.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kUs = 0x04090409, kDe = 0x04070407;

size_t keyIndex(std::u16string_view name) {
    return *QXKeyTable::findKeyByName(name);
}

std::vector<std::u16string> ids(const QXItemList& list) {
    std::vector<std::u16string> out;
    for (const auto& item : list)
        out.push_back(item->identifier());
    return out;
}

QXLayer::Ptr layerOf(const QXPtr<QXLayersGroup>& group, std::u16string_view id) {
    return findItem(group->children(), id).dynamicCast<QXLayer>();
}

class LanguageLayersTest : public ::testing::Test {
protected:
    QXXkbLayoutSource m_source{std::vector<QXXkbLayoutSource::Layout>{{"us", ""}, {"de", ""}}};
};

TEST_F(LanguageLayersTest, AGermanGroupHasItsConditionNameAndTheLayersThatDiffer) {
    auto group = QXLanguageLayers::createGroup(kDe, m_source);
    EXPECT_EQ(group->identifier(), u"04070407");
    EXPECT_EQ(group->displayName(), u"German (Germany) - German");
    EXPECT_TRUE(group->hasFlag(QXLayersItem::kFixed));
    ASSERT_EQ(group->conditions().size(), 1u);
    EXPECT_EQ(static_cast<QXSysLayoutCondition&>(*group->conditions()[0]).layout(), kDe);
    EXPECT_EQ(ids(group->children()), (std::vector<std::u16string>{
                                          u"DEU-sl", u"DEU-l", u"DEU-s", u"DEU-ac", u"DEU-Main", u"DEU-n"}))
        << "most specific first; Kana layers repeat others and are left out";

    auto shift = layerOf(group, u"DEU-s");
    EXPECT_EQ(shift->displayName(), u"Shift");
    EXPECT_EQ(shift->getButton(keyIndex(u"Y"))->keystroke, u"Z") << "the German Y key types Z";
    EXPECT_EQ(shift->getButton(keyIndex(u"2"))->keystroke, u"\"");
    EXPECT_EQ(shift->getButton(keyIndex(u"Y"))->scanCode, 0x15);
    EXPECT_EQ(shift->getButton(keyIndex(u"Y"))->actionCode, 0x1C);
    ASSERT_EQ(shift->conditions().size(), 1u);
    EXPECT_EQ(shift->conditions()[0]->type(), u"modifier");
    auto both = layerOf(group, u"DEU-sl");
    EXPECT_EQ(both->displayName(), u"Shift+Caps");
    ASSERT_EQ(both->conditions().size(), 2u) << "a modifier and a lock condition";
    EXPECT_EQ(layerOf(group, u"DEU-ac")->getButton(keyIndex(u"Q"))->keystroke, u"@");
}

TEST_F(LanguageLayersTest, DeadKeysKeepTheirAccentAndDoNotAffectTheNextKey) {
    auto group = QXLanguageLayers::createGroup(kDe, m_source);
    auto main = layerOf(group, u"DEU-Main");
    EXPECT_EQ(main->getButton(keyIndex(u"GraveAccent"))->keystroke, u"^");
    EXPECT_EQ(main->getButton(keyIndex(u"Plus"))->keystroke, u"\u00B4");
    EXPECT_EQ(main->getButton(keyIndex(u"1"))->keystroke, u"1");
    EXPECT_EQ(main->getButton(keyIndex(u"A"))->keystroke, u"a");
}

TEST_F(LanguageLayersTest, OnlyCharacterKeysGetTextAndTheNumLockLayerHasTheDecimalSeparator) {
    auto de = QXLanguageLayers::createGroup(kDe, m_source);
    auto us = QXLanguageLayers::createGroup(kUs, m_source);
    for (const auto& item : de->children()) {
        auto layer = item.dynamicCast<QXLayer>();
        for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
            const uint32_t flags = QXKeyTable::key(i).flags;
            if ((flags & 0x23) && !(layer->identifier() == u"DEU-n" && i == 111)) {
                EXPECT_TRUE(layer->getButton(i)->keystroke.empty())
                    << toUtf8(layer->identifier()) << " key " << i;
            }
        }
    }
    EXPECT_EQ(layerOf(de, u"DEU-n")->getButton(111)->keystroke, u",");
    EXPECT_EQ(layerOf(us, u"ENU-n")->getButton(111)->keystroke, u".");
    EXPECT_EQ(layerOf(us, u"ENU-n")->getButton(111)->actionCode, 99);
    EXPECT_EQ(ids(us->children()),
              (std::vector<std::u16string>{u"ENU-sl", u"ENU-l", u"ENU-s", u"ENU-Main", u"ENU-n"}))
        << "no layer repeats another";
}

TEST_F(LanguageLayersTest, GroupsFollowTheInstalledLayouts) {
    auto system = makeQX<QXLayersGroup>(u"system_layers");
    system->children().push_back(makeQX<QXLayer>(u"control_buttons"));
    EXPECT_TRUE(QXLanguageLayers::synchronise(*system, m_source));
    EXPECT_EQ(ids(system->children()),
              (std::vector<std::u16string>{u"04090409", u"04070407", u"control_buttons"}));
    EXPECT_FALSE(QXLanguageLayers::synchronise(*system, m_source)) << "nothing to do twice";

    QXXkbLayoutSource onlyGerman(std::vector<QXXkbLayoutSource::Layout>{{"de", ""}});
    EXPECT_TRUE(QXLanguageLayers::synchronise(*system, onlyGerman));
    EXPECT_EQ(ids(system->children()),
              (std::vector<std::u16string>{u"04070407", u"control_buttons"}));

    QXXkbLayoutSource unknown(std::nullopt);
    EXPECT_FALSE(QXLanguageLayers::synchronise(*system, unknown))
        << "without a list nothing is removed";
    EXPECT_EQ(system->children().size(), 2u);
}

TEST(LanguageLayerNames, MasksNamesAndIdentifiers) {
    EXPECT_EQ(QXLanguageLayers::masks(), (std::vector<uint32_t>{0, 3, 4, 16, 20, 32, 36, 48, 52}));
    EXPECT_EQ(QXLanguageLayers::maskDisplayName(0), u"Main");
    EXPECT_EQ(QXLanguageLayers::maskDisplayName(3), u"Alt+Ctrl");
    EXPECT_EQ(QXLanguageLayers::maskDisplayName(52), u"Shift+Caps+Kana");
    EXPECT_EQ(QXLanguageLayers::groupIdentifier(0x0409), u"00000409");
}

} // namespace
