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

// A language as the language layers name it: one row per language and region the layouts
// are made for. The program's own table, so the result does not depend on which locales a
// system has generated.
struct LanguageInfo {
    const char* iso639;       // ISO 639-2 code as xkeyboard-config writes it, "swe"
    const char* iso639Alt;    // the other ISO 639-2 form where there are two ("ger"), else ""
    const char* abbreviation; // the three-letter abbreviation, "SVE"
    const char* name;         // English name with the region, "Swedish (Sweden)"
    char16_t decimalSeparator; // u',' or u'.'
};

// The row of an abbreviation ("DES"); nullptr when not tabled.
const LanguageInfo* findLocale(std::string_view abbreviation);

// The main row of an ISO 639 language ("spa" → "ESN", Spanish as written in Spain);
// nullptr when not tabled.
const LanguageInfo* findLanguage(std::string_view iso639);

// The language a layout is for, by our own table of layout names ("se" → "swe"): the
// fallback when the keyboard registry's description is missing. Empty when unknown.
std::string_view languageOfLayout(std::string_view layout);

// The language of a layout and variant, for its abbreviation and its decimal separator:
// the row tabled for the pair, else the row of the layout's own language and region (every
// variant of "se" is Swedish, of "es" Spanish, of "ch" Swiss German), else the language the
// registry gives for the layout (registryLanguage, an ISO 639 code; may be empty), else the
// language of our own table of layout names. nullptr when none of these is known.
const LanguageInfo* languageOf(std::string_view layout, std::string_view variant,
                               std::string_view registryLanguage = {});

// The decimal separator of a language, by its three-letter abbreviation ("DEU" → ",");
// "." for languages not tabled.
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
