#include "platform/QXKeyboardLayouts.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace QXKeyboardLayouts;
using namespace std::string_literals;

namespace {

TEST(QXKeyboardLayoutsTest, CommonLayoutsHaveTheirWindowsHandles) {
    const std::map<std::string, uint32_t> handles = {
        {"us", 0x04090409}, {"de", 0x04070407}, {"fr", 0x040C040C}, {"gb", 0x08090809},
        {"ru", 0x04190419}, {"it", 0x04100410}, {"se", 0x041D041D}, {"jp", 0x04110411},
        {"ca", 0x10090C0C}, {"ch", 0x08070807}, {"es", 0x040A0C0A}, {"at", 0x04070C07}};
    for (const auto& [layout, handle] : handles)
        EXPECT_EQ(layoutHandle(layout), handle) << layout;

    const LayoutInfo* german = findLayout("de");
    ASSERT_NE(german, nullptr);
    EXPECT_STREQ(german->abbreviation, "DEU");
    EXPECT_STREQ(german->language, "German (Germany)");
    EXPECT_STREQ(findLayout("gb")->abbreviation, "ENG");
    EXPECT_STREQ(findLayout("us")->abbreviation, "ENU");
    EXPECT_STREQ(findLayout("ru")->abbreviation, "RUS");
}

TEST(QXKeyboardLayoutsTest, VariantsAreTabledOrSynthetic) {
    EXPECT_EQ(layoutHandle("us", "intl"), 0xF0010409u);
    EXPECT_EQ(layoutHandle("us", "dvorak"), 0xF0020409u);
    EXPECT_EQ(layoutHandle("ch", "fr"), 0x100C100Cu);
    EXPECT_EQ(layoutHandle("de(nodeadkeys)"), 0x04070407u) << "variant written in the layout";
    EXPECT_EQ(layoutHandle(" us ", ""), 0x04090409u);

    const uint32_t neo = layoutHandle("de", "neo");
    EXPECT_EQ(neo & 0xF0000000u, 0xF0000000u);
    EXPECT_EQ(neo, syntheticHandle("de", "neo")) << "stable";
    EXPECT_EQ(layoutHandle("de(neo)"), neo);
    EXPECT_NE(neo, layoutHandle("mn"));
    EXPECT_EQ(findHandle(neo), nullptr);
    // FNV-1a of "mn" is 0x612E1FA2; its top four bits fold into the low ones.
    EXPECT_EQ(syntheticHandle("mn", ""), 0xF12E1FA4u);
}

TEST(QXKeyboardLayoutsTest, HandlesLeadBackToTheirCanonicalLayout) {
    std::set<std::string> abbreviations;
    for (const LayoutInfo& info : tabledLayouts()) {
        const LayoutInfo* canonical = findHandle(info.handle);
        ASSERT_NE(canonical, nullptr) << info.layout;
        EXPECT_EQ(canonical->handle, info.handle);
        EXPECT_EQ(layoutHandle(info.layout, info.variant), info.handle) << info.layout;
        EXPECT_EQ(strlen(info.abbreviation), 3u) << info.layout;
        abbreviations.insert(info.abbreviation);
    }
    EXPECT_STREQ(findHandle(0x04070407)->variant, "") << "the default variant comes first";
    EXPECT_STREQ(findHandle(0xF0010409)->variant, "intl");
    EXPECT_GE(abbreviations.size(), 45u);
}

TEST(QXKeyboardLayoutsTest, RulesNamesGiveOneHandlePerGroup) {
    const std::string value = "evdev\0pc105\0us,de,mn\0,nodeadkeys,\0grp:alt_shift_toggle\0"s;
    const XkbRulesNames names = parseXkbRulesNames(value);
    EXPECT_EQ(names.rules, "evdev");
    EXPECT_EQ(names.model, "pc105");
    EXPECT_EQ(names.layouts, (std::vector<std::string>{"us", "de", "mn"}));
    EXPECT_EQ(names.variants, (std::vector<std::string>{"", "nodeadkeys", ""}));
    EXPECT_EQ(names.options, "grp:alt_shift_toggle");
    EXPECT_EQ(groupHandles(names),
              (std::vector<uint32_t>{0x04090409, 0x04070407, syntheticHandle("mn", "")}));
}

TEST(QXKeyboardLayoutsTest, ShortOrEmptyRulesNamesDoNotFail) {
    EXPECT_TRUE(parseXkbRulesNames("").layouts.empty());
    const XkbRulesNames noVariants = parseXkbRulesNames("evdev\0pc105\0fr"s);
    EXPECT_EQ(noVariants.variants, (std::vector<std::string>{""}));
    EXPECT_EQ(groupHandles(noVariants), (std::vector<uint32_t>{0x040C040C}));
}

} // namespace
