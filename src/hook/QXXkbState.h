#pragma once

#include <cstdint>

struct _XDisplay;

// The parts of the modifier mask the X server knows: which keys are down and which
// locks are on. All calls go to the server of the display given.

// The lock bits of the mask read from XKB indicators: "Caps Lock", "Num Lock",
// "Scroll Lock" and "Kana" of the core keyboard. A keymap without one of them leaves
// that bit 0.
class QXXkbLocks {
public:
    QXXkbLocks() = default;
    // Looks the indicators up (one round trip each).
    explicit QXXkbLocks(_XDisplay* display);

    // The lock bits of the indicators set in an XKB indicator state (or change) mask.
    uint32_t toggles(unsigned indicators) const;
    // The server's indicator state now, as lock bits (a round trip).
    uint32_t read(_XDisplay* display) const;

private:
    struct Indicator {
        uint32_t bit;  // mask bit
        unsigned mask; // the indicator's bit in XKB indicator states; 0 when missing
    };
    Indicator m_indicators[4] = {};
};

// What a key is to the hook: its virtual key and the held bits it gives while down.
// Modifier and lock keys are recognised by what the keymap makes of them in the group
// (a Caps Lock key remapped to Control is a Ctrl key); every other key keeps the
// positional code of QXKeyCodes. Shift, Control, Alt/Meta and Super_L give their bits;
// an AltGr key (the level-3 shift, right Alt on most layouts that have one) gives
// Ctrl+Alt with VK_MENU, which is the combination the layouts' Ctrl+Alt layer stands
// for; Super_R is VK_RWIN with no bit.
struct QXKeyRole {
    uint32_t virtualKey = 0; // 0: a key the program has no code for
    uint32_t heldBits = 0;
};
QXKeyRole keyRole(_XDisplay* display, unsigned keycode, int group);

// The whole mask now: held keys from the server's key map, locks from its indicators.
// 0 when the server has no XKB.
uint32_t readSystemModifiers(_XDisplay* display);
