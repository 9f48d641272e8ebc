#include "platform/QXKeyCodes.h"

#include "platform/QXWin32.h"

#include <array>

namespace QXKeyCodes {

namespace {

using namespace qxwin;

// Codes without a name in QXWin32.h, named as Windows names them.
constexpr uint8_t VK_CONVERT = 0x1C, VK_NONCONVERT = 0x1D, VK_HANJA = 0x19;
constexpr uint8_t VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24;
constexpr uint8_t VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28;
constexpr uint8_t VK_SNAPSHOT = 0x2C, VK_INSERT = 0x2D, VK_DELETE = 0x2E;
constexpr uint8_t VK_NUMPAD0 = 0x60, VK_MULTIPLY = 0x6A, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D;
constexpr uint8_t VK_DECIMAL = 0x6E, VK_DIVIDE = 0x6F, VK_F1 = 0x70, VK_F13 = 0x7C;
constexpr uint8_t VK_VOLUME_MUTE = 0xAD, VK_VOLUME_DOWN = 0xAE, VK_VOLUME_UP = 0xAF;
constexpr uint8_t VK_MEDIA_NEXT_TRACK = 0xB0, VK_MEDIA_PREV_TRACK = 0xB1;
constexpr uint8_t VK_MEDIA_STOP = 0xB2, VK_MEDIA_PLAY_PAUSE = 0xB3;
constexpr uint8_t VK_OEM_1 = 0xBA, VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC;
constexpr uint8_t VK_OEM_MINUS = 0xBD, VK_OEM_PERIOD = 0xBE, VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0;
constexpr uint8_t VK_ABNT_C1 = 0xC1, VK_OEM_4 = 0xDB, VK_OEM_5 = 0xDC, VK_OEM_6 = 0xDD;
constexpr uint8_t VK_OEM_7 = 0xDE, VK_OEM_102 = 0xE2;

struct Key {
    uint8_t x;     // X keycode (evdev code + 8)
    uint8_t vk;    // side-neutral virtual key
    uint8_t sided; // side-specific virtual key, or 0 when it is the same
};

// Lookups from a virtual key take the first row that matches, so of two keys with the
// same code the left-hand or main-block one comes first.
constexpr Key kKeys[] = {
    {9, VK_ESCAPE, 0},
    {10, '1', 0},
    {11, '2', 0},
    {12, '3', 0},
    {13, '4', 0},
    {14, '5', 0},
    {15, '6', 0},
    {16, '7', 0},
    {17, '8', 0},
    {18, '9', 0},
    {19, '0', 0},
    {20, VK_OEM_MINUS, 0},
    {21, VK_OEM_PLUS, 0},
    {22, VK_BACK, 0},
    {23, VK_TAB, 0},
    {24, 'Q', 0},
    {25, 'W', 0},
    {26, 'E', 0},
    {27, 'R', 0},
    {28, 'T', 0},
    {29, 'Y', 0},
    {30, 'U', 0},
    {31, 'I', 0},
    {32, 'O', 0},
    {33, 'P', 0},
    {34, VK_OEM_4, 0},
    {35, VK_OEM_6, 0},
    {36, VK_RETURN, 0},
    {37, VK_CONTROL, VK_LCONTROL},
    {38, 'A', 0},
    {39, 'S', 0},
    {40, 'D', 0},
    {41, 'F', 0},
    {42, 'G', 0},
    {43, 'H', 0},
    {44, 'J', 0},
    {45, 'K', 0},
    {46, 'L', 0},
    {47, VK_OEM_1, 0},
    {48, VK_OEM_7, 0},
    {49, VK_OEM_3, 0},
    {50, VK_SHIFT, VK_LSHIFT},
    {51, VK_OEM_5, 0},
    {52, 'Z', 0},
    {53, 'X', 0},
    {54, 'C', 0},
    {55, 'V', 0},
    {56, 'B', 0},
    {57, 'N', 0},
    {58, 'M', 0},
    {59, VK_OEM_COMMA, 0},
    {60, VK_OEM_PERIOD, 0},
    {61, VK_OEM_2, 0},
    {62, VK_SHIFT, VK_RSHIFT},
    {63, VK_MULTIPLY, 0},
    {64, VK_MENU, VK_LMENU},
    {65, VK_SPACE, 0},
    {66, VK_CAPITAL, 0},
    {67, VK_F1, 0},
    {68, VK_F1 + 1, 0},
    {69, VK_F1 + 2, 0},
    {70, VK_F1 + 3, 0},
    {71, VK_F1 + 4, 0},
    {72, VK_F1 + 5, 0},
    {73, VK_F1 + 6, 0},
    {74, VK_F1 + 7, 0},
    {75, VK_F1 + 8, 0},
    {76, VK_F1 + 9, 0},
    {77, VK_NUMLOCK, 0},
    {78, VK_SCROLL, 0},
    {79, VK_NUMPAD0 + 7, 0},
    {80, VK_NUMPAD0 + 8, 0},
    {81, VK_NUMPAD0 + 9, 0},
    {82, VK_SUBTRACT, 0},
    {83, VK_NUMPAD0 + 4, 0},
    {84, VK_NUMPAD0 + 5, 0},
    {85, VK_NUMPAD0 + 6, 0},
    {86, VK_ADD, 0},
    {87, VK_NUMPAD0 + 1, 0},
    {88, VK_NUMPAD0 + 2, 0},
    {89, VK_NUMPAD0 + 3, 0},
    {90, VK_NUMPAD0, 0},
    {91, VK_DECIMAL, 0},
    {94, VK_OEM_102, 0}, // the extra key beside the left Shift of 102/105-key boards
    {95, VK_F1 + 10, 0},
    {96, VK_F1 + 11, 0},
    {97, VK_ABNT_C1, 0}, // Brazilian "/?" and Japanese "ro" key, scan code 0x73
    {100, VK_CONVERT, 0},
    {101, VK_KANA, 0},
    {102, VK_NONCONVERT, 0},
    {104, VK_RETURN, 0}, // keypad Enter
    {105, VK_CONTROL, VK_RCONTROL},
    {106, VK_DIVIDE, 0},
    {107, VK_SNAPSHOT, 0},
    {108, VK_MENU, VK_RMENU},
    {110, VK_HOME, 0},
    {111, VK_UP, 0},
    {112, VK_PRIOR, 0},
    {113, VK_LEFT, 0},
    {114, VK_RIGHT, 0},
    {115, VK_END, 0},
    {116, VK_DOWN, 0},
    {117, VK_NEXT, 0},
    {118, VK_INSERT, 0},
    {119, VK_DELETE, 0},
    {121, VK_VOLUME_MUTE, 0},
    {122, VK_VOLUME_DOWN, 0},
    {123, VK_VOLUME_UP, 0},
    {127, VK_PAUSE, 0},
    {130, VK_KANA, 0}, // Hangul; Windows gives it the same code as Kana
    {131, VK_HANJA, 0},
    {133, VK_LWIN, 0},
    {134, VK_RWIN, 0},
    {135, VK_APPS, 0},
    {171, VK_MEDIA_NEXT_TRACK, 0},
    {172, VK_MEDIA_PLAY_PAUSE, 0},
    {173, VK_MEDIA_PREV_TRACK, 0},
    {174, VK_MEDIA_STOP, 0},
    {191, VK_F13, 0},
    {192, VK_F13 + 1, 0},
    {193, VK_F13 + 2, 0},
    {194, VK_F13 + 3, 0},
    {195, VK_F13 + 4, 0},
    {196, VK_F13 + 5, 0},
    {197, VK_F13 + 6, 0},
    {198, VK_F13 + 7, 0},
    {199, VK_F13 + 8, 0},
    {200, VK_F13 + 9, 0},
    {201, VK_F13 + 10, 0},
    {202, VK_F13 + 11, 0},
};

// Indexed by X keycode; built once from the rows above.
struct ByKeycode {
    std::array<const Key*, 256> rows{};
    constexpr ByKeycode() {
        for (const Key& key : kKeys)
            rows[key.x] = &key;
    }
};

const Key* row(uint32_t keycode) {
    static constexpr ByKeycode index;
    return keycode < index.rows.size() ? index.rows[keycode] : nullptr;
}

} // namespace

uint32_t virtualKeyFromX(uint32_t keycode) {
    const Key* key = row(keycode);
    return key ? key->vk : 0;
}

uint32_t sidedVirtualKeyFromX(uint32_t keycode) {
    const Key* key = row(keycode);
    return key ? (key->sided ? key->sided : key->vk) : 0;
}

uint32_t xKeycodeFromVirtualKey(uint32_t virtualKey) {
    if (virtualKey == 0)
        return 0;
    for (const Key& key : kKeys) {
        if (key.vk == virtualKey || key.sided == virtualKey)
            return key.x;
    }
    return 0;
}

} // namespace QXKeyCodes
