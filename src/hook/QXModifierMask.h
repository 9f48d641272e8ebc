#pragma once

#include "platform/QXWin32.h"

#include <cstdint>

// The bits of the modifier mask and the keys behind them, in the order the hook walks
// them. Held bits are set while a key of that kind is down; toggle bits while the lock
// is on.
namespace QXModifierMask {

constexpr uint32_t kAlt = 1;
constexpr uint32_t kCtrl = 2;
constexpr uint32_t kShift = 4;
constexpr uint32_t kWin = 8; // the left Windows (Super) key only
constexpr uint32_t kCaps = 16;
constexpr uint32_t kKana = 32;
constexpr uint32_t kNum = 64;
constexpr uint32_t kScroll = 128;

constexpr uint32_t kHeld = kAlt | kCtrl | kShift | kWin;
constexpr uint32_t kToggles = kCaps | kKana | kNum | kScroll;

struct Entry {
    uint32_t virtualKey;
    uint32_t bit;
};

constexpr Entry kEntries[] = {
    {qxwin::VK_SHIFT, kShift},   {qxwin::VK_CONTROL, kCtrl}, {qxwin::VK_MENU, kAlt},
    {qxwin::VK_LWIN, kWin},      {qxwin::VK_CAPITAL, kCaps}, {qxwin::VK_NUMLOCK, kNum},
    {qxwin::VK_SCROLL, kScroll}, {qxwin::VK_KANA, kKana},
};

// The bit of a virtual key, 0 when the key is not in the table.
constexpr uint32_t bitOf(uint32_t virtualKey) {
    for (const Entry& entry : kEntries) {
        if (entry.virtualKey == virtualKey)
            return entry.bit;
    }
    return 0;
}

} // namespace QXModifierMask
