#include "platform/QXKeyboardLayouts.h"

#include <cctype>
#include <string>
#include <utility>

namespace QXKeyboardLayouts {

namespace {

// Handles are the values the other system gives its keyboard layouts: a layout
// identifier such as 00000407 installed for its own language becomes 0x04070407; one
// installed for another language keeps the layout in the high word (German keyboard
// for German (Austria): 0x04070C07); a variant layout has 0xF000 | its layout number in
// the high word (United States-International: 0xF0010409).
constexpr LayoutInfo kLayouts[] = {
    {"us", "", 0x04090409, "ENU", "English (United States)"},
    {"us", "intl", 0xF0010409, "ENU", "English (United States)"},
    {"us", "alt-intl", 0xF0010409, "ENU", "English (United States)"},
    {"us", "dvorak", 0xF0020409, "ENU", "English (United States)"},
    {"gb", "", 0x08090809, "ENG", "English (United Kingdom)"},
    {"ie", "", 0x18091809, "ENI", "English (Ireland)"},
    {"de", "", 0x04070407, "DEU", "German (Germany)"},
    {"de", "nodeadkeys", 0x04070407, "DEU", "German (Germany)"},
    {"at", "", 0x04070C07, "DEA", "German (Austria)"},
    {"ch", "", 0x08070807, "DES", "German (Switzerland)"},
    {"ch", "de", 0x08070807, "DES", "German (Switzerland)"},
    {"ch", "fr", 0x100C100C, "FRS", "French (Switzerland)"},
    {"fr", "", 0x040C040C, "FRA", "French (France)"},
    {"be", "", 0x080C080C, "FRB", "French (Belgium)"},
    {"ca", "", 0x10090C0C, "FRC", "French (Canada)"},
    {"ca", "fr-legacy", 0x0C0C0C0C, "FRC", "French (Canada)"},
    {"ca", "eng", 0x04091009, "ENC", "English (Canada)"},
    {"nl", "", 0x04130413, "NLD", "Dutch (Netherlands)"},
    {"es", "", 0x040A0C0A, "ESN", "Spanish (Spain)"},
    {"latam", "", 0x080A080A, "ESM", "Spanish (Mexico)"},
    {"it", "", 0x04100410, "ITA", "Italian (Italy)"},
    {"pt", "", 0x08160816, "PTG", "Portuguese (Portugal)"},
    {"br", "", 0x04160416, "PTB", "Portuguese (Brazil)"},
    {"se", "", 0x041D041D, "SVE", "Swedish (Sweden)"},
    {"no", "", 0x04140414, "NOR", "Norwegian Bokmål (Norway)"},
    {"dk", "", 0x04060406, "DAN", "Danish (Denmark)"},
    {"fi", "", 0x040B040B, "FIN", "Finnish (Finland)"},
    {"is", "", 0x040F040F, "ISL", "Icelandic (Iceland)"},
    {"pl", "", 0x04150415, "PLK", "Polish (Poland)"},
    {"cz", "", 0x04050405, "CSY", "Czech (Czech Republic)"},
    {"sk", "", 0x041B041B, "SKY", "Slovak (Slovakia)"},
    {"hu", "", 0x040E040E, "HUN", "Hungarian (Hungary)"},
    {"si", "", 0x04240424, "SLV", "Slovenian (Slovenia)"},
    {"hr", "", 0x041A041A, "HRV", "Croatian (Croatia)"},
    {"rs", "", 0x0C1A0C1A, "SRB", "Serbian (Cyrillic, Serbia)"},
    {"rs", "latin", 0x081A081A, "SRL", "Serbian (Latin, Serbia)"},
    {"bg", "", 0x04020402, "BGR", "Bulgarian (Bulgaria)"},
    {"ro", "", 0x04180418, "ROM", "Romanian (Romania)"},
    {"ee", "", 0x04250425, "ETI", "Estonian (Estonia)"},
    {"lv", "", 0x04260426, "LVI", "Latvian (Latvia)"},
    {"lt", "", 0x04270427, "LTH", "Lithuanian (Lithuania)"},
    {"gr", "", 0x04080408, "ELL", "Greek (Greece)"},
    {"tr", "", 0x041F041F, "TRK", "Turkish (Turkey)"},
    {"il", "", 0x040D040D, "HEB", "Hebrew (Israel)"},
    {"ru", "", 0x04190419, "RUS", "Russian (Russia)"},
    {"ua", "", 0x04220422, "UKR", "Ukrainian (Ukraine)"},
    {"by", "", 0x04230423, "BEL", "Belarusian (Belarus)"},
    {"jp", "", 0x04110411, "JPN", "Japanese (Japan)"},
    {"kr", "", 0x04120412, "KOR", "Korean (Korea)"},
    {"cn", "", 0x08040804, "CHS", "Chinese (Simplified, China)"},
    {"tw", "", 0x04040404, "CHT", "Chinese (Traditional, Taiwan)"},
};

// Each language and region the layouts are made for, with the abbreviation and the decimal
// separator that region uses. The first row of a language is its main one.
constexpr LanguageInfo kLanguages[] = {
    {"eng", "", "ENU", "English (United States)", u'.'},
    {"eng", "", "ENG", "English (United Kingdom)", u'.'},
    {"eng", "", "ENI", "English (Ireland)", u'.'},
    {"eng", "", "ENC", "English (Canada)", u'.'},
    {"deu", "ger", "DEU", "German (Germany)", u','},
    {"deu", "ger", "DEA", "German (Austria)", u','},
    {"deu", "ger", "DES", "German (Switzerland)", u'.'},
    {"fra", "fre", "FRA", "French (France)", u','},
    {"fra", "fre", "FRB", "French (Belgium)", u','},
    {"fra", "fre", "FRC", "French (Canada)", u','},
    {"fra", "fre", "FRS", "French (Switzerland)", u'.'},
    {"nld", "dut", "NLD", "Dutch (Netherlands)", u','},
    {"spa", "", "ESN", "Spanish (Spain)", u','},
    {"spa", "", "ESM", "Spanish (Mexico)", u'.'},
    {"cat", "", "CAT", "Catalan (Catalan)", u','},
    {"ita", "", "ITA", "Italian (Italy)", u','},
    {"por", "", "PTG", "Portuguese (Portugal)", u','},
    {"por", "", "PTB", "Portuguese (Brazil)", u','},
    {"swe", "", "SVE", "Swedish (Sweden)", u','},
    {"nor", "nob", "NOR", "Norwegian Bokmål (Norway)", u','},
    {"dan", "", "DAN", "Danish (Denmark)", u','},
    {"fin", "", "FIN", "Finnish (Finland)", u','},
    {"isl", "ice", "ISL", "Icelandic (Iceland)", u','},
    {"fao", "", "FOS", "Faroese (Faroe Islands)", u','},
    {"pol", "", "PLK", "Polish (Poland)", u','},
    {"ces", "cze", "CSY", "Czech (Czech Republic)", u','},
    {"slk", "slo", "SKY", "Slovak (Slovakia)", u','},
    {"hun", "", "HUN", "Hungarian (Hungary)", u','},
    {"slv", "", "SLV", "Slovenian (Slovenia)", u','},
    {"hrv", "", "HRV", "Croatian (Croatia)", u','},
    {"bos", "", "BSB", "Bosnian (Latin, Bosnia and Herzegovina)", u','},
    {"srp", "", "SRB", "Serbian (Cyrillic, Serbia)", u','},
    {"srp", "", "SRL", "Serbian (Latin, Serbia)", u','},
    {"mkd", "mac", "MKI", "Macedonian (North Macedonia)", u','},
    {"sqi", "alb", "SQI", "Albanian (Albania)", u','},
    {"bul", "", "BGR", "Bulgarian (Bulgaria)", u','},
    {"ron", "rum", "ROM", "Romanian (Romania)", u','},
    {"est", "", "ETI", "Estonian (Estonia)", u','},
    {"lav", "", "LVI", "Latvian (Latvia)", u','},
    {"lit", "", "LTH", "Lithuanian (Lithuania)", u','},
    {"ell", "gre", "ELL", "Greek (Greece)", u','},
    {"mlt", "", "MLT", "Maltese (Malta)", u'.'},
    {"tur", "", "TRK", "Turkish (Turkey)", u','},
    {"aze", "", "AZE", "Azerbaijani (Latin, Azerbaijan)", u','},
    {"heb", "", "HEB", "Hebrew (Israel)", u'.'},
    {"ara", "", "ARA", "Arabic (Saudi Arabia)", u'.'},
    {"fas", "per", "FAR", "Persian (Iran)", u'.'},
    {"urd", "", "URD", "Urdu (Pakistan)", u'.'},
    {"hin", "", "HIN", "Hindi (India)", u'.'},
    {"ben", "", "BNB", "Bangla (Bangladesh)", u'.'},
    {"rus", "", "RUS", "Russian (Russia)", u','},
    {"ukr", "", "UKR", "Ukrainian (Ukraine)", u','},
    {"bel", "", "BEL", "Belarusian (Belarus)", u','},
    {"kat", "geo", "KAT", "Georgian (Georgia)", u','},
    {"hye", "arm", "HYE", "Armenian (Armenia)", u'.'},
    {"kaz", "", "KKZ", "Kazakh (Kazakhstan)", u','},
    {"kir", "", "KYR", "Kyrgyz (Kyrgyzstan)", u','},
    {"uzb", "", "UZB", "Uzbek (Latin, Uzbekistan)", u','},
    {"tgk", "", "TAJ", "Tajik (Cyrillic, Tajikistan)", u','},
    {"tuk", "", "TUK", "Turkmen (Turkmenistan)", u','},
    {"mon", "", "MON", "Mongolian (Cyrillic, Mongolia)", u'.'},
    {"vie", "", "VIT", "Vietnamese (Vietnam)", u','},
    {"tha", "", "THA", "Thai (Thailand)", u'.'},
    {"ind", "", "IND", "Indonesian (Indonesia)", u','},
    {"msa", "may", "MSL", "Malay (Malaysia)", u'.'},
    {"jpn", "", "JPN", "Japanese (Japan)", u'.'},
    {"kor", "", "KOR", "Korean (Korea)", u'.'},
    {"zho", "chi", "CHS", "Chinese (Simplified, China)", u'.'},
    {"zho", "chi", "CHT", "Chinese (Traditional, Taiwan)", u'.'},
};

// Layouts that have no row of their own above, by the language they are for.
constexpr std::pair<std::string_view, std::string_view> kLayoutLanguages[] = {
    {"al", "sqi"}, {"am", "hye"}, {"ara", "ara"}, {"au", "eng"}, {"az", "aze"},
    {"ba", "bos"}, {"bd", "ben"}, {"fo", "fao"}, {"ge", "kat"}, {"id", "ind"},
    {"in", "hin"}, {"ir", "fas"}, {"kg", "kir"}, {"kz", "kaz"}, {"md", "ron"},
    {"me", "srp"}, {"mk", "mkd"}, {"mn", "mon"}, {"mt", "mlt"}, {"my", "msa"},
    {"pk", "urd"}, {"th", "tha"}, {"tj", "tgk"}, {"tm", "tuk"}, {"uz", "uzb"},
    {"vn", "vie"}, {"za", "eng"},
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trim(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

// "de(nodeadkeys)" with no separate variant names the variant inside the layout.
void splitVariant(std::string_view& layout, std::string_view& variant) {
    layout = trim(layout);
    variant = trim(variant);
    const size_t open = layout.find('(');
    if (variant.empty() && open != std::string_view::npos && layout.back() == ')') {
        variant = trim(layout.substr(open + 1, layout.size() - open - 2));
        layout = trim(layout.substr(0, open));
    }
}

std::vector<std::string> splitList(std::string_view list) {
    std::vector<std::string> items;
    if (trim(list).empty())
        return items;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        items.emplace_back(trim(list.substr(start, comma - start)));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return items;
}

} // namespace

const LanguageInfo* findLocale(std::string_view abbreviation) {
    for (const LanguageInfo& info : kLanguages)
        if (abbreviation == info.abbreviation)
            return &info;
    return nullptr;
}

const LanguageInfo* findLanguage(std::string_view iso639) {
    iso639 = trim(iso639);
    if (iso639.empty())
        return nullptr;
    for (const LanguageInfo& info : kLanguages)
        if (equalsIgnoringCase(iso639, info.iso639) || equalsIgnoringCase(iso639, info.iso639Alt))
            return &info;
    return nullptr;
}

std::string_view languageOfLayout(std::string_view layout) {
    std::string_view variant;
    splitVariant(layout, variant);
    if (const LayoutInfo* row = findLayout(layout))
        if (const LanguageInfo* language = findLocale(row->abbreviation))
            return language->iso639;
    for (const auto& [name, iso639] : kLayoutLanguages)
        if (layout == name)
            return iso639;
    return {};
}

const LanguageInfo* languageOf(std::string_view layout, std::string_view variant,
                               std::string_view registryLanguage) {
    splitVariant(layout, variant);
    if (const LayoutInfo* row = findLayout(layout, variant))
        return findLocale(row->abbreviation);
    // A variant types the language of its layout: "se(nodeadkeys)" is Swedish as "se" is.
    if (const LayoutInfo* row = findLayout(layout))
        return findLocale(row->abbreviation);
    if (const LanguageInfo* language = findLanguage(registryLanguage))
        return language;
    return findLanguage(languageOfLayout(layout));
}

std::u16string decimalSeparator(std::string_view abbreviation) {
    const LanguageInfo* language = findLocale(abbreviation);
    return std::u16string(1, language ? language->decimalSeparator : u'.');
}

std::span<const LayoutInfo> tabledLayouts() {
    return kLayouts;
}

const LayoutInfo* findLayout(std::string_view layout, std::string_view variant) {
    splitVariant(layout, variant);
    for (const LayoutInfo& info : kLayouts) {
        if (layout == info.layout && variant == info.variant)
            return &info;
    }
    return nullptr;
}

const LayoutInfo* findHandle(uint32_t handle) {
    for (const LayoutInfo& info : kLayouts) {
        if (info.handle == handle)
            return &info;
    }
    return nullptr;
}

uint32_t layoutHandle(std::string_view layout, std::string_view variant) {
    splitVariant(layout, variant);
    if (const LayoutInfo* info = findLayout(layout, variant))
        return info->handle;
    return syntheticHandle(layout, variant);
}

uint32_t syntheticHandle(std::string_view layout, std::string_view variant) {
    uint32_t hash = 2166136261u;
    const auto add = [&hash](std::string_view text) {
        for (unsigned char c : text) {
            hash ^= c;
            hash *= 16777619u;
        }
    };
    add(layout);
    if (!variant.empty()) {
        add("(");
        add(variant);
        add(")");
    }
    return 0xF0000000u | ((hash >> 28) ^ (hash & 0x0FFFFFFFu));
}

XkbRulesNames parseXkbRulesNames(std::string_view value) {
    std::string_view fields[5];
    for (std::string_view& field : fields) {
        const size_t end = value.find('\0');
        field = value.substr(0, end);
        value = end == std::string_view::npos ? std::string_view() : value.substr(end + 1);
    }
    XkbRulesNames names;
    names.rules = trim(fields[0]);
    names.model = trim(fields[1]);
    names.layouts = splitList(fields[2]);
    names.variants = splitList(fields[3]);
    names.variants.resize(names.layouts.size());
    names.options = trim(fields[4]);
    return names;
}

std::vector<uint32_t> groupHandles(const XkbRulesNames& names) {
    std::vector<uint32_t> handles;
    for (size_t i = 0; i < names.layouts.size(); ++i)
        handles.push_back(layoutHandle(names.layouts[i], names.variants[i]));
    return handles;
}

} // namespace QXKeyboardLayouts
