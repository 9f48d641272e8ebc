#include "model/QXXkbLayoutSource.h"

#include "platform/QXFiles.h"
#include "platform/QXKeyboardLayouts.h"
#include "platform/QXLog.h"
#include "platform/QXText.h"
#include "store/QXXmlDocument.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <xkbcommon/xkbcommon.h>

namespace {

std::u16string widen(const char* text) {
    return text ? fromUtf8(text) : std::u16string();
}

std::u16string fromCodePoint(char32_t c) {
    std::u16string out;
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

std::string xkbRoot() {
    const char* root = std::getenv("XKB_CONFIG_ROOT");
    return root && *root ? root : "/usr/share/X11/xkb";
}

std::string key(const std::string& layout, const std::string& variant) {
    return variant.empty() ? layout : layout + "(" + variant + ")";
}

} // namespace

QXXkbLayoutSource::QXXkbLayoutSource(std::optional<std::vector<Layout>> installed,
                                     std::string rules, std::string model)
    : m_installed(std::move(installed)), m_rules(std::move(rules)), m_model(std::move(model)),
      m_context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

QXXkbLayoutSource::~QXXkbLayoutSource() {
    for (auto& [handle, keymap] : m_keymaps)
        if (keymap)
            xkb_keymap_unref(keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

std::optional<std::vector<uint32_t>> QXXkbLayoutSource::installedLayouts() {
    if (!m_installed)
        return std::nullopt;
    std::vector<uint32_t> handles;
    for (const auto& [layout, variant] : *m_installed) {
        uint32_t handle = QXKeyboardLayouts::layoutHandle(layout, variant);
        if (std::find(handles.begin(), handles.end(), handle) == handles.end())
            handles.push_back(handle);
    }
    return handles;
}

const QXXkbLayoutSource::Layout* QXXkbLayoutSource::layoutOf(uint32_t handle) const {
    if (!m_installed)
        return nullptr;
    for (const Layout& layout : *m_installed)
        if (QXKeyboardLayouts::layoutHandle(layout.first, layout.second) == handle)
            return &layout;
    return nullptr;
}

std::u16string QXXkbLayoutSource::languageName(uint32_t layout) {
    const QXKeyboardLayouts::LanguageInfo* language = languageOf(layout);
    return language ? widen(language->name) : std::u16string();
}

std::u16string QXXkbLayoutSource::layoutName(uint32_t handle) {
    loadDescriptions();
    const Layout* layout = layoutOf(handle);
    if (!layout) {
        if (const QXKeyboardLayouts::LayoutInfo* info = QXKeyboardLayouts::findHandle(handle))
            return fromUtf8(m_descriptions[info->layout]);
        return {};
    }
    auto it = m_descriptions.find(key(layout->first, layout->second));
    if (it == m_descriptions.end())
        it = m_descriptions.find(layout->first);
    return it == m_descriptions.end() ? fromUtf8(key(layout->first, layout->second))
                                      : fromUtf8(it->second);
}

// Tabled handles first, so that a group whose layout is no longer installed keeps its
// language; otherwise the installed layout's language.
const QXKeyboardLayouts::LanguageInfo* QXXkbLayoutSource::languageOf(uint32_t handle) {
    if (const QXKeyboardLayouts::LayoutInfo* info = QXKeyboardLayouts::findHandle(handle))
        return QXKeyboardLayouts::findLocale(info->abbreviation);
    const Layout* layout = layoutOf(handle);
    if (!layout)
        return nullptr;
    return QXKeyboardLayouts::languageOf(layout->first, layout->second, registryLanguage(*layout));
}

// The registry names languages for layouts and for some variants; a variant's own language
// counts only when its layout names none.
std::string QXXkbLayoutSource::registryLanguage(const Layout& layout) {
    loadDescriptions();
    auto it = m_languages.find(layout.first);
    if (it == m_languages.end())
        it = m_languages.find(key(layout.first, layout.second));
    return it == m_languages.end() ? std::string() : it->second;
}

std::u16string QXXkbLayoutSource::abbreviation(uint32_t handle) {
    if (const QXKeyboardLayouts::LanguageInfo* language = languageOf(handle))
        return widen(language->abbreviation);
    // A language we have no row for: its ISO code, or the layout's name.
    std::string code;
    if (const Layout* layout = layoutOf(handle)) {
        code = registryLanguage(*layout);
        if (code.empty())
            code = layout->first;
    }
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return code.empty() ? u"XXX" : fromUtf8(code);
}

std::u16string QXXkbLayoutSource::decimalSeparator(uint32_t handle) {
    if (const QXKeyboardLayouts::LanguageInfo* language = languageOf(handle))
        return std::u16string(1, language->decimalSeparator);
    const Layout* layout = layoutOf(handle);
    QXLog::warning(QXLog::kModel,
                   "the language of the keyboard layout " +
                       (layout ? key(layout->first, layout->second) : std::string("?")) +
                       " is not known; its Num Lock layer types \".\" on the keypad decimal key");
    return u".";
}

// The layouts' descriptions come from the rules' list ("  de   German" under "! layout",
// "  nodeadkeys   de: German (no dead keys)" under "! variant"); their languages from
// the rules' XML description.
void QXXkbLayoutSource::loadDescriptions() {
    if (m_descriptionsLoaded)
        return;
    m_descriptionsLoaded = true;
    const std::string base = xkbRoot() + "/rules/" + m_rules;
    if (auto list = readWholeFile(base + ".lst", size_t(8) << 20)) {
        std::istringstream in(*list);
        std::string line, section;
        while (std::getline(in, line)) {
            if (line.rfind("! ", 0) == 0) {
                section = line.substr(2);
                continue;
            }
            std::istringstream fields(line);
            std::string name;
            if (!(fields >> name))
                continue;
            std::string rest;
            std::getline(fields, rest);
            rest.erase(0, rest.find_first_not_of(" \t"));
            if (section == "layout") {
                m_descriptions[name] = rest;
            } else if (section == "variant") {
                const size_t colon = rest.find(": ");
                if (colon != std::string::npos)
                    m_descriptions[rest.substr(0, colon) + "(" + name + ")"] = rest.substr(colon + 2);
            }
        }
    }
    QXXmlDocument xml(base + ".xml");
    if (!xml.load())
        return;
    const TiXmlElement* layoutList = xml.RootElement() ? xml.RootElement()->FirstChildElement("layoutList") : nullptr;
    for (const TiXmlElement* layout = layoutList ? layoutList->FirstChildElement("layout") : nullptr;
         layout; layout = layout->NextSiblingElement("layout")) {
        const TiXmlElement* item = layout->FirstChildElement("configItem");
        const TiXmlElement* name = item ? item->FirstChildElement("name") : nullptr;
        const TiXmlElement* languages = item ? item->FirstChildElement("languageList") : nullptr;
        const TiXmlElement* first = languages ? languages->FirstChildElement("iso639Id") : nullptr;
        if (!name || !name->GetText())
            continue;
        if (first && first->GetText())
            m_languages[name->GetText()] = first->GetText();
        const TiXmlElement* variants = layout->FirstChildElement("variantList");
        for (const TiXmlElement* variant = variants ? variants->FirstChildElement("variant") : nullptr;
             variant; variant = variant->NextSiblingElement("variant")) {
            const TiXmlElement* vItem = variant->FirstChildElement("configItem");
            const TiXmlElement* vName = vItem ? vItem->FirstChildElement("name") : nullptr;
            const TiXmlElement* vLanguages = vItem ? vItem->FirstChildElement("languageList") : nullptr;
            const TiXmlElement* vFirst = vLanguages ? vLanguages->FirstChildElement("iso639Id") : nullptr;
            if (vName && vName->GetText() && vFirst && vFirst->GetText())
                m_languages[key(name->GetText(), vName->GetText())] = vFirst->GetText();
        }
    }
}

xkb_keymap* QXXkbLayoutSource::keymap(uint32_t handle) {
    auto found = m_keymaps.find(handle);
    if (found != m_keymaps.end())
        return found->second;
    xkb_keymap* compiled = nullptr;
    const Layout* layout = layoutOf(handle);
    if (m_context && layout) {
        xkb_rule_names names{};
        names.rules = m_rules.c_str();
        names.model = m_model.c_str();
        names.layout = layout->first.c_str();
        names.variant = layout->second.c_str();
        compiled = xkb_keymap_new_from_names(m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    m_keymaps[handle] = compiled;
    return compiled;
}

std::optional<QXLayoutSource::KeyText> QXXkbLayoutSource::keyText(uint32_t handle,
                                                                   uint8_t scanCode,
                                                                   uint32_t mask) {
    xkb_keymap* map = keymap(handle);
    if (!map || scanCode == 0)
        return std::nullopt;
    // X keycodes are the evdev codes plus 8; in the main block the evdev code is the
    // PC scan code.
    const xkb_keycode_t keycode = scanCode + 8u;
    constexpr xkb_keycode_t kRightAlt = 100 + 8;
    xkb_state* state = xkb_state_new(map);
    if (!state)
        return std::nullopt;
    if ((mask & 0x03) == 0x03)
        xkb_state_update_key(state, kRightAlt, XKB_KEY_DOWN);
    xkb_mod_mask_t depressed = 0, locked = 0;
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(map, XKB_MOD_NAME_SHIFT);
    const xkb_mod_index_t caps = xkb_keymap_mod_get_index(map, XKB_MOD_NAME_CAPS);
    if ((mask & 0x04) && shift != XKB_MOD_INVALID)
        depressed |= 1u << shift;
    if ((mask & 0x10) && caps != XKB_MOD_INVALID)
        locked |= 1u << caps;
    const xkb_mod_mask_t level3 = xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED);
    xkb_state_update_mask(state, depressed | level3, 0, locked, 0, 0, 0);

    std::optional<KeyText> result;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, keycode);
    if (char32_t spacing = spacingCharacterOfDeadKey(sym)) {
        result = KeyText{fromCodePoint(spacing), true};
    } else {
        char utf8[64] = {};
        const int size = xkb_state_key_get_utf8(state, keycode, utf8, sizeof utf8);
        if (size > 0 && static_cast<unsigned char>(utf8[0]) >= 0x20 && utf8[0] != 0x7F)
            result = KeyText{fromUtf8(std::string_view(utf8, static_cast<size_t>(size))), false};
    }
    xkb_state_unref(state);
    return result;
}

char32_t QXXkbLayoutSource::spacingCharacterOfDeadKey(uint32_t keysym) {
    // libxkbcommon gives no text for dead keys; these are the characters the accents
    // stand for when typed on their own.
    switch (keysym) {
    case XKB_KEY_dead_grave: return U'`';
    case XKB_KEY_dead_acute: return U'\u00B4';
    case XKB_KEY_dead_circumflex: return U'^';
    case XKB_KEY_dead_tilde: return U'~';
    case XKB_KEY_dead_macron: return U'\u00AF';
    case XKB_KEY_dead_breve: return U'\u02D8';
    case XKB_KEY_dead_abovedot: return U'\u02D9';
    case XKB_KEY_dead_diaeresis: return U'\u00A8';
    case XKB_KEY_dead_abovering: return U'\u02DA';
    case XKB_KEY_dead_doubleacute: return U'\u02DD';
    case XKB_KEY_dead_caron: return U'\u02C7';
    case XKB_KEY_dead_cedilla: return U'\u00B8';
    case XKB_KEY_dead_ogonek: return U'\u02DB';
    case XKB_KEY_dead_iota: return U'\u037A';
    case XKB_KEY_dead_voiced_sound: return U'\u309B';
    case XKB_KEY_dead_semivoiced_sound: return U'\u309C';
    case XKB_KEY_dead_belowdot: return U'.';
    case XKB_KEY_dead_hook: return U'\u02C0';
    case XKB_KEY_dead_horn: return U'\u031B';
    case XKB_KEY_dead_stroke: return U'/';
    case XKB_KEY_dead_abovecomma: return U'\u02BC';
    case XKB_KEY_dead_abovereversedcomma: return U'\u02BD';
    case XKB_KEY_dead_doublegrave: return U'\u02F5';
    case XKB_KEY_dead_belowring: return U'\u02F3';
    case XKB_KEY_dead_belowmacron: return U'\u02CD';
    case XKB_KEY_dead_belowcircumflex: return U'\uA788';
    case XKB_KEY_dead_belowtilde: return U'\u02F7';
    case XKB_KEY_dead_belowcomma: return U',';
    case XKB_KEY_dead_currency: return U'\u00A4';
    case XKB_KEY_dead_lowline: return U'_';
    case XKB_KEY_dead_greek: return U'\u00B5';
    default: return 0;
    }
}
