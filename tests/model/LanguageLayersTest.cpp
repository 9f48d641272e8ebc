#include "model/QXKeyTable.h"
#include "model/QXLanguageLayers.h"
#include "model/QXXkbLayoutSource.h"
#include "platform/QXKeyboardLayouts.h"
#include "platform/QXText.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kUs = 0x04090409, kDe = 0x04070407;

// Throws for a name not in the key table, which fails the test without ending the run.
size_t keyIndex(std::u16string_view name) {
    return QXKeyTable::findKeyByName(name).value();
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
    ASSERT_TRUE(group->conditions()[0]);
    EXPECT_EQ(static_cast<QXSysLayoutCondition&>(*group->conditions()[0]).layout(), kDe);
    EXPECT_EQ(ids(group->children()), (std::vector<std::u16string>{
                                          u"DEU-sl", u"DEU-l", u"DEU-s", u"DEU-ac", u"DEU-Main", u"DEU-n"}))
        << "most specific first; Kana layers repeat others and are left out";

    auto shift = layerOf(group, u"DEU-s");
    ASSERT_TRUE(shift);
    EXPECT_EQ(shift->displayName(), u"Shift");
    EXPECT_EQ(shift->getButton(keyIndex(u"Y"))->keystroke, u"Z") << "the German Y key types Z";
    EXPECT_EQ(shift->getButton(keyIndex(u"2"))->keystroke, u"\"");
    EXPECT_EQ(shift->getButton(keyIndex(u"Y"))->scanCode, 0x15);
    EXPECT_EQ(shift->getButton(keyIndex(u"Y"))->actionCode, 0x1C);
    ASSERT_EQ(shift->conditions().size(), 1u);
    EXPECT_EQ(shift->conditions()[0]->type(), u"modifier");
    auto both = layerOf(group, u"DEU-sl");
    ASSERT_TRUE(both);
    EXPECT_EQ(both->displayName(), u"Shift+Caps");
    ASSERT_EQ(both->conditions().size(), 2u) << "a modifier and a lock condition";
    auto altGr = layerOf(group, u"DEU-ac");
    ASSERT_TRUE(altGr);
    EXPECT_EQ(altGr->getButton(keyIndex(u"Q"))->keystroke, u"@");
}

TEST_F(LanguageLayersTest, DeadKeysKeepTheirAccentAndDoNotAffectTheNextKey) {
    auto group = QXLanguageLayers::createGroup(kDe, m_source);
    auto main = layerOf(group, u"DEU-Main");
    ASSERT_TRUE(main);
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
        ASSERT_TRUE(layer) << "a language group holds layers only";
        for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
            const uint32_t flags = QXKeyTable::key(i).flags;
            if ((flags & 0x23) && !(layer->identifier() == u"DEU-n" && i == 111)) {
                EXPECT_TRUE(layer->getButton(i)->keystroke.empty())
                    << toUtf8(layer->identifier()) << " key " << i;
            }
        }
    }
    auto deNum = layerOf(de, u"DEU-n");
    auto usNum = layerOf(us, u"ENU-n");
    ASSERT_TRUE(deNum);
    ASSERT_TRUE(usNum);
    EXPECT_EQ(deNum->getButton(111)->keystroke, u",");
    EXPECT_EQ(usNum->getButton(111)->keystroke, u".");
    EXPECT_EQ(usNum->getButton(111)->actionCode, 99);
    EXPECT_EQ(ids(us->children()),
              (std::vector<std::u16string>{u"ENU-sl", u"ENU-l", u"ENU-s", u"ENU-Main", u"ENU-n"}))
        << "no layer repeats another";
}

// Variants the program has no row for take the language of their layout: its abbreviation
// names the layers, its decimal separator goes on the keypad, its name heads the group.
TEST(LanguageOfVariants, EveryVariantOfALanguageGetsItsAbbreviationAndDecimalSeparator) {
    struct Case {
        QXXkbLayoutSource::Layout layout;
        std::u16string abbreviation;
        std::u16string separator;
        std::u16string language;
    };
    const std::vector<Case> cases = {
        {{"se", "nodeadkeys"}, u"SVE", u",", u"Swedish (Sweden)"},
        {{"se", "dvorak"}, u"SVE", u",", u"Swedish (Sweden)"},
        {{"se", "mac"}, u"SVE", u",", u"Swedish (Sweden)"},
        {{"es", "cat"}, u"ESN", u",", u"Spanish (Spain)"},
        {{"es", "deadtilde"}, u"ESN", u",", u"Spanish (Spain)"},
        {{"es", "winkeys"}, u"ESN", u",", u"Spanish (Spain)"},
        {{"de", "neo"}, u"DEU", u",", u"German (Germany)"},
        {{"gb", "extd"}, u"ENG", u".", u"English (United Kingdom)"},
        {{"us", "colemak"}, u"ENU", u".", u"English (United States)"},
        {{"mn", ""}, u"MON", u".", u"Mongolian (Cyrillic, Mongolia)"},
        {{"al", "plisi"}, u"SQI", u",", u"Albanian (Albania)"},
    };
    std::vector<QXXkbLayoutSource::Layout> installed;
    for (const Case& c : cases)
        installed.push_back(c.layout);
    auto check = [&](QXXkbLayoutSource& source, const char* registry) {
        for (const Case& c : cases) {
            const std::string name = c.layout.first + "(" + c.layout.second + ") with " + registry;
            const uint32_t handle = QXKeyboardLayouts::layoutHandle(c.layout.first, c.layout.second);
            EXPECT_EQ(source.abbreviation(handle), c.abbreviation) << name;
            EXPECT_EQ(source.decimalSeparator(handle), c.separator) << name;
            EXPECT_EQ(source.languageName(handle), c.language) << name;
        }
    };
    QXXkbLayoutSource source(installed);
    check(source, "the system's registry");
    // The Num Lock layer of a generated group carries both.
    auto swedish = QXLanguageLayers::createGroup(
        QXKeyboardLayouts::layoutHandle("se", "nodeadkeys"), source);
    auto num = layerOf(swedish, u"SVE-n");
    ASSERT_TRUE(num) << "layers: " << toUtf8(ids(swedish->children()).back());
    EXPECT_EQ(num->getButton(111)->keystroke, u",");
    EXPECT_EQ(swedish->displayName().rfind(u"Swedish (Sweden) - ", 0), 0u)
        << toUtf8(swedish->displayName());

    qxtest::TempDir empty;
    qxtest::ScopedEnv noRegistry("XKB_CONFIG_ROOT", empty.path().string());
    QXXkbLayoutSource withoutRegistry(installed);
    check(withoutRegistry, "no registry");
    const uint32_t unknown = QXKeyboardLayouts::layoutHandle("brai", "");
    QXXkbLayoutSource braille(std::vector<QXXkbLayoutSource::Layout>{{"brai", ""}});
    EXPECT_EQ(braille.abbreviation(unknown), u"BRAI") << "a language nobody knows: the layout's name";
    EXPECT_EQ(braille.decimalSeparator(unknown), u".");
}

TEST_F(LanguageLayersTest, GroupsFollowTheInstalledLayouts) {
    auto system = makeQX<QXLayersGroup>(u"system_layers");
    system->children().push_back(makeQX<QXLayer>(u"control_buttons"));
    EXPECT_TRUE(QXLanguageLayers::synchronise(*system, m_source));
    EXPECT_EQ(ids(system->children()),
              (std::vector<std::u16string>{u"04090409", u"04070407", u"control_buttons"}));
    EXPECT_FALSE(QXLanguageLayers::synchronise(*system, m_source)) << "nothing to do twice";

    // Read back at the next start the marks are gone (they are not stored): the generated
    // layers get theirs again, a layer of the user's own in the group does not.
    const QXLayersItem::Ptr english = system->children().front();
    english->children().push_back(makeQX<QXLayer>(u"{00000000-0000-0000-0000-000000000001}"));
    for (const QXLayersItem::Ptr& item : english->children())
        item->clearFlag(QXLayersItem::kFixed);
    english->clearFlag(QXLayersItem::kFixed);
    QXLanguageLayers::synchronise(*system, m_source);
    EXPECT_TRUE(english->hasFlag(QXLayersItem::kFixed));
    for (const QXLayersItem::Ptr& item : english->children())
        EXPECT_EQ(item->hasFlag(QXLayersItem::kFixed), item->identifier().front() != u'{')
            << toUtf8(item->identifier());

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
