#include "hook/QXXkbState.h"

#include "hook/QXModifierMask.h"
#include "platform/QXKeyCodes.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

using namespace QXModifierMask;

QXXkbLocks::QXXkbLocks(Display* display) {
    static const struct {
        const char* name;
        uint32_t bit;
    } kNames[] = {
        {"Caps Lock", kCaps}, {"Num Lock", kNum}, {"Scroll Lock", kScroll}, {"Kana", kKana}};
    for (int i = 0; i < 4; ++i) {
        m_indicators[i] = {kNames[i].bit, 0};
        const Atom name = XInternAtom(display, kNames[i].name, True);
        int index = -1;
        if (name != None &&
            XkbGetNamedIndicator(display, name, &index, nullptr, nullptr, nullptr) && index >= 0 &&
            index < XkbNumIndicators)
            m_indicators[i].mask = 1u << index;
    }
}

uint32_t QXXkbLocks::toggles(unsigned indicators) const {
    uint32_t bits = 0;
    for (const Indicator& indicator : m_indicators) {
        if (indicators & indicator.mask)
            bits |= indicator.bit;
    }
    return bits;
}

uint32_t QXXkbLocks::read(Display* display) const {
    unsigned state = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &state) != Success)
        return 0;
    return toggles(state);
}

QXKeyRole keyRole(Display* display, unsigned keycode, int group) {
    using namespace qxwin;
    KeySym sym = XkbKeycodeToKeysym(display, KeyCode(keycode), group, 0);
    if (sym == NoSymbol)
        sym = XkbKeycodeToKeysym(display, KeyCode(keycode), 0, 0);
    switch (sym) {
    case XK_Shift_L:
    case XK_Shift_R:
        return {VK_SHIFT, kShift};
    case XK_Control_L:
    case XK_Control_R:
        return {VK_CONTROL, kCtrl};
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
        return {VK_MENU, kAlt};
    case XK_ISO_Level3_Shift:
    case XK_Mode_switch:
        return {VK_MENU, kAlt | kCtrl};
    case XK_Super_L:
        return {VK_LWIN, kWin};
    case XK_Super_R:
        return {VK_RWIN, 0};
    case XK_Caps_Lock:
        return {VK_CAPITAL, 0};
    case XK_Num_Lock:
        return {VK_NUMLOCK, 0};
    case XK_Scroll_Lock:
        return {VK_SCROLL, 0};
    default:
        break;
    }
    const uint32_t vk = QXKeyCodes::virtualKeyFromX(keycode);
    // A key without symbols (an empty keymap) keeps the role of its position.
    const uint32_t positional = sym == NoSymbol ? bitOf(vk) & kHeld : 0;
    return {vk, positional};
}

uint32_t readSystemModifiers(Display* display) {
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor))
        return 0;
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    char keys[32] = {};
    XQueryKeymap(display, keys);
    uint32_t mask = 0;
    for (unsigned keycode = 8; keycode < 256; ++keycode) {
        if (keys[keycode / 8] & (1 << (keycode % 8)))
            mask |= keyRole(display, keycode, state.group).heldBits;
    }
    return mask | QXXkbLocks(display).read(display);
}
