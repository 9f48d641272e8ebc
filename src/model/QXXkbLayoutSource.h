#pragma once

#include "model/QXLanguageLayers.h"
#include "platform/QXKeyboardLayouts.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct xkb_context;
struct xkb_keymap;

// Keyboard layouts as xkeyboard-config describes them, with the text of each key worked
// out by libxkbcommon. Shift and Caps Lock are the keymap's own modifiers; Ctrl+Alt is
// the third level (the right Alt key as AltGr). The Kana bit changes nothing: layouts
// with a kana lock are not covered, and their Kana layers repeat others and are left out.
class QXXkbLayoutSource : public QXLayoutSource {
public:
    using Layout = std::pair<std::string, std::string>; // xkeyboard-config layout, variant

    // installed: the system's layouts in group order, or nothing when unknown.
    explicit QXXkbLayoutSource(std::optional<std::vector<Layout>> installed,
                               std::string rules = "evdev", std::string model = "pc105");
    ~QXXkbLayoutSource() override;

    std::optional<std::vector<uint32_t>> installedLayouts() override;
    std::u16string languageName(uint32_t layout) override;
    std::u16string layoutName(uint32_t layout) override;
    std::u16string abbreviation(uint32_t layout) override;
    std::u16string decimalSeparator(uint32_t layout) override;
    std::optional<KeyText> keyText(uint32_t layout, uint8_t scanCode, uint32_t mask) override;

    // The spacing character of a dead key ("´" for dead_acute); 0 for other keys.
    static char32_t spacingCharacterOfDeadKey(uint32_t keysym);

private:
    const Layout* layoutOf(uint32_t handle) const;
    const QXKeyboardLayouts::LanguageInfo* languageOf(uint32_t handle);
    std::string registryLanguage(const Layout& layout);
    xkb_keymap* keymap(uint32_t handle);
    void loadDescriptions();

    std::optional<std::vector<Layout>> m_installed;
    std::string m_rules;
    std::string m_model;
    xkb_context* m_context = nullptr;
    std::map<uint32_t, xkb_keymap*> m_keymaps; // compiled on first use; null when it failed
    bool m_descriptionsLoaded = false;
    std::map<std::string, std::string> m_descriptions; // "de" or "de(nodeadkeys)" → "German"
    // "de" → "deu"; variants that name a language of their own: "es(cat)" → "cat"
    std::map<std::string, std::string> m_languages;
};
