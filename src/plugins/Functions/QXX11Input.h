#pragma once

#include <cstdint>
#include <string_view>

// Keyboard input synthesised on the X server the program runs on (DISPLAY), with XTest and
// XKB. Each call opens its own connection and closes it before it returns, so nothing is
// held while no key is pressed. Every call returns false, after a warning in the log, when
// there is no X server or it lacks XTest or XKB. GUI thread (any one thread at a time).
//
// Kept apart from every Qt source: Xlib's macros clash with Qt's headers.
namespace QXX11Input {

// Types text as the keyboard would, in order and in one burst: a character of the current
// layout with its own key (and Shift for its second level, or for a letter's small form
// while Caps Lock is on), any other on a spare keycode that is given the character's keysym
// for the burst and emptied again afterwards. UTF-16 surrogate pairs type the one character
// they encode; a lone surrogate types nothing.
bool typeText(std::u16string_view text);

// Sends a hot-key: releases the modifiers held now, presses the hot-key's modifiers (the
// QXHotkeyText bits) in the order Alt, Ctrl, Shift, Win, presses the key (a virtual-key
// code; 0: none), waits 10 ms, releases it, releases the modifiers in reverse, waits 10 ms
// and presses back the modifiers it released, in the order Win, Alt, Ctrl, Shift.
bool sendHotkey(uint32_t modifiers, uint32_t virtualKey);

// Locks the next XKB group (keyboard layout), from the last one back to the first.
bool switchToNextGroup();

} // namespace QXX11Input
