#pragma once

#include "model/QXLayersItem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the language layers need to know of the system's keyboard layouts.
class QXLayoutSource {
public:
    struct KeyText {
        std::u16string text;
        bool dead = false; // a dead key: text is its spacing character
    };

    virtual ~QXLayoutSource() = default;

    // The handles of the installed layouts in the system's order; nothing when the
    // system cannot tell (then no language group is removed).
    virtual std::optional<std::vector<uint32_t>> installedLayouts() = 0;
    // "German (Germany)"; empty when unknown.
    virtual std::u16string languageName(uint32_t layout) = 0;
    // "German"; empty when unknown.
    virtual std::u16string layoutName(uint32_t layout) = 0;
    // "DEU".
    virtual std::u16string abbreviation(uint32_t layout) = 0;
    // The language's decimal separator, "," or ".".
    virtual std::u16string decimalSeparator(uint32_t layout) = 0;
    // The text of the key with this scan code under a mask of Alt, Ctrl, Shift, Caps
    // Lock and Kana bits; nothing when the key produces no text.
    virtual std::optional<KeyText> keyText(uint32_t layout, uint8_t scanCode, uint32_t mask) = 0;
};

namespace QXLanguageLayers {

// The modifier and lock combinations that get a layer: none, Ctrl+Alt, Shift, Caps
// Lock, Shift+Caps Lock, Kana and its combinations with Shift and Caps Lock.
std::vector<uint32_t> masks();

// "HHHHHHHH", as the language condition stores the handle.
std::u16string groupIdentifier(uint32_t layout);
// "Shift+Caps", or "Main" for no bits.
std::u16string maskDisplayName(uint32_t mask);

// A language group for the layout: its condition and its generated layers, the most
// specific first, ending with the Num Lock layer. Layers that would repeat another
// layer of the group key for key are left out.
QXPtr<QXLayersGroup> createGroup(uint32_t layout, QXLayoutSource& source);

// Keeps the language groups of "system_layers" in step with the installed layouts:
// groups of new layouts are added in the system's order (their pictures marked
// changed), groups of layouts no longer installed are removed, groups found are kept.
// Returns true when something changed. The groups get their fixed mark again.
bool synchronise(QXLayersItem& systemLayers, QXLayoutSource& source);

} // namespace QXLanguageLayers
