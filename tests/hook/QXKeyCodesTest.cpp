#include "platform/QXKeyCodes.h"

#include "platform/QXWin32.h"

#include <gtest/gtest.h>
#include <set>

using namespace QXKeyCodes;
using namespace qxwin;

namespace {

TEST(QXKeyCodesTest, MainBlockKeysAreScanCodePlusEight) {
    EXPECT_EQ(virtualKeyFromX(0x01 + 8), VK_ESCAPE);
    EXPECT_EQ(virtualKeyFromX(0x10 + 8), uint32_t('Q'));
    EXPECT_EQ(virtualKeyFromX(0x1E + 8), uint32_t('A'));
    EXPECT_EQ(virtualKeyFromX(0x2C + 8), uint32_t('Z'));
    EXPECT_EQ(virtualKeyFromX(0x0B + 8), uint32_t('0'));
    EXPECT_EQ(virtualKeyFromX(0x39 + 8), VK_SPACE);
    EXPECT_EQ(virtualKeyFromX(0x3A + 8), VK_CAPITAL);
    EXPECT_EQ(virtualKeyFromX(0x45 + 8), VK_NUMLOCK);
    EXPECT_EQ(virtualKeyFromX(0x46 + 8), VK_SCROLL);
    EXPECT_EQ(virtualKeyFromX(0x3B + 8), 0x70u) << "F1";
    EXPECT_EQ(virtualKeyFromX(0x58 + 8), 0x7Bu) << "F12";
    EXPECT_EQ(virtualKeyFromX(0x53 + 8), 0x6Eu) << "keypad decimal";
    EXPECT_EQ(virtualKeyFromX(0x56 + 8), 0xE2u) << "the 105th key";
}

TEST(QXKeyCodesTest, ModifiersAreSideNeutralUnlessAskedForTheSide) {
    const struct {
        uint32_t keycode, vk, sided;
    } keys[] = {
        {50, VK_SHIFT, VK_LSHIFT},      {62, VK_SHIFT, VK_RSHIFT}, {37, VK_CONTROL, VK_LCONTROL},
        {105, VK_CONTROL, VK_RCONTROL}, {64, VK_MENU, VK_LMENU},   {108, VK_MENU, VK_RMENU},
        {133, VK_LWIN, VK_LWIN},        {134, VK_RWIN, VK_RWIN},   {135, VK_APPS, VK_APPS}};
    for (const auto& key : keys) {
        EXPECT_EQ(virtualKeyFromX(key.keycode), key.vk) << key.keycode;
        EXPECT_EQ(sidedVirtualKeyFromX(key.keycode), key.sided) << key.keycode;
        EXPECT_EQ(xKeycodeFromVirtualKey(key.sided), key.keycode) << key.keycode;
    }
    EXPECT_EQ(xKeycodeFromVirtualKey(VK_SHIFT), 50u) << "the left key for the neutral code";
    EXPECT_EQ(xKeycodeFromVirtualKey(VK_RETURN), 36u) << "the main Enter, not the keypad's";
}

TEST(QXKeyCodesTest, NavigationBlockAndKeypadAreDistinct) {
    EXPECT_EQ(virtualKeyFromX(110), 0x24u) << "Home";
    EXPECT_EQ(virtualKeyFromX(79), 0x67u) << "keypad 7";
    EXPECT_EQ(virtualKeyFromX(111), 0x26u) << "Up";
    EXPECT_EQ(virtualKeyFromX(80), 0x68u) << "keypad 8";
    EXPECT_EQ(virtualKeyFromX(104), VK_RETURN) << "keypad Enter";
    EXPECT_EQ(virtualKeyFromX(106), 0x6Fu) << "keypad divide";
    EXPECT_EQ(virtualKeyFromX(127), VK_PAUSE);
}

TEST(QXKeyCodesTest, EveryCodeLeadsBackToAKeyWithThatCode) {
    std::set<uint32_t> codes;
    for (uint32_t keycode = 0; keycode < 256; ++keycode) {
        const uint32_t vk = sidedVirtualKeyFromX(keycode);
        if (!vk)
            continue;
        codes.insert(vk);
        EXPECT_EQ(sidedVirtualKeyFromX(xKeycodeFromVirtualKey(vk)), vk) << keycode;
    }
    EXPECT_GE(codes.size(), 105u) << "a whole PC keyboard";
    EXPECT_EQ(virtualKeyFromX(0), 0u);
    EXPECT_EQ(virtualKeyFromX(255), 0u);
    EXPECT_EQ(virtualKeyFromX(1000), 0u);
    EXPECT_EQ(xKeycodeFromVirtualKey(0), 0u);
    EXPECT_EQ(xKeycodeFromVirtualKey(0xFF), 0u);
}

} // namespace
