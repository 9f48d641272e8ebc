#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The hot-key of a "hotkey.action" as stored ("Hotkey" = "<modifiers>:<virtual key>", both
// decimal) and as shown to the user ("Ctrl+Alt+A"). Pure functions, no X and no Qt.
namespace QXHotkeyText {

// Modifier bits of "Hotkey".
enum : uint32_t { kAlt = 1, kCtrl = 2, kShift = 4, kWin = 8 };

struct Hotkey {
    uint32_t modifiers = 0;
    uint32_t virtualKey = 0;
    bool operator==(const Hotkey&) const = default;
};

// Splits at the first ':' among the first ten characters; without one the hot-key is empty.
// A part that is not a number reads as 0.
Hotkey parse(std::u16string_view text);
std::u16string format(Hotkey hotkey);

// The key's name from the name table; otherwise "#NN" below 32, the character the key
// types on a US keyboard, or nothing (also for code 0).
std::string keyName(uint32_t virtualKey);
// "Win+", "Ctrl+", "Alt+", "Shift+" in that order, then the key's name.
std::string displayText(Hotkey hotkey);

} // namespace QXHotkeyText
