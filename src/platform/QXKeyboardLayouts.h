#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Keyboard layouts are named the xkeyboard-config way (layout "de", variant
// "nodeadkeys"). The program identifies a layout by a 32-bit layout handle whose values
// are those of the other desktop system the profiles come from (language identifier in
// the low word, keyboard in the high word), so that a profile written on one system
// finds its language layers on the other. Layouts without a counterpart there get a
// stable synthetic handle from 0xF0000000 up.
namespace QXKeyboardLayouts {

struct LayoutInfo {
    const char* layout;       // xkeyboard-config layout name, "de"
    const char* variant;      // variant name; "" for the layout's default
    uint32_t handle;          // layout handle, 0x04070407
    const char* abbreviation; // three-letter abbreviation of the language, "DEU"
    const char* language;     // English name of the language, "German (Germany)"
};

// Every tabled layout. The first row of each handle is its canonical name.
std::span<const LayoutInfo> tabledLayouts();

// The row of a layout and variant; a layout written "de(nodeadkeys)" with an empty
// variant is split first. nullptr when the pair is not tabled.
const LayoutInfo* findLayout(std::string_view layout, std::string_view variant = {});

// The canonical row of a handle; nullptr for synthetic and unknown handles.
const LayoutInfo* findHandle(uint32_t handle);

// The handle of a layout and variant: the tabled value, otherwise the synthetic one.
uint32_t layoutHandle(std::string_view layout, std::string_view variant = {});

// 0xF0000000 | the 32-bit FNV-1a hash of "layout(variant)" ("layout" when the variant is
// empty) xor-folded to 28 bits. Stable across runs and systems.
uint32_t syntheticHandle(std::string_view layout, std::string_view variant);

// The decimal separator of a language, by its three-letter abbreviation ("DEU" → ",");
// "." for languages not tabled. The program's own table, so the result does not depend on
// which locales a system has generated.
std::u16string decimalSeparator(std::string_view abbreviation);

// The X server's keyboard configuration as published in the root window's
// _XKB_RULES_NAMES property: five strings, each ending in a NUL byte; layouts and
// variants are comma-separated lists with one entry per group.
struct XkbRulesNames {
    std::string rules;
    std::string model;
    std::vector<std::string> layouts;
    std::vector<std::string> variants; // as many as layouts; "" for a default variant
    std::string options;
};

// Parses the property's bytes. Missing trailing strings are empty; never throws.
XkbRulesNames parseXkbRulesNames(std::string_view value);

// The layout handle of each XKB group, in group order.
std::vector<uint32_t> groupHandles(const XkbRulesNames& names);

} // namespace QXKeyboardLayouts
