#include "QXHotkeyText.h"

#include <cstdio>

namespace QXHotkeyText {

namespace {

struct Name {
    uint32_t vk;
    const char* name;
};

// Searched in this order; the numeric-pad digits and the function keys are ranges below.
constexpr Name kNamesBefore[] = {
    {33, "PgUp"}, {34, "PgDown"}, {35, "End"},  {36, "Home"},   {37, "Left"},
    {38, "Up"},   {39, "Right"},  {40, "Down"}, {41, "Select"},
};
constexpr Name kNamesAfter[] = {
    {8, "Back"},       {9, "Tab"},     {12, "Clear"},     {13, "Enter"},        {19, "Pause"},
    {20, "Caps Lock"}, {27, "Esc"},    {32, "Space"},     {42, "Print"},        {43, "Execute"},
    {44, "PrnSrn"},    {45, "Ins"},    {46, "Del"},       {47, "Help"},         {91, "LWin"},
    {92, "RWin"},      {93, "Apps"},   {106, "Num *"},    {107, "Num +"},       {109, "Num -"},
    {110, "Num ."},    {111, "Num /"}, {144, "Num Lock"}, {145, "Scroll Lock"}, {229, "Process"},
    {248, "Excel"},    {250, "Play"},  {251, "Zoom"},
};

// What the punctuation keys type on a US keyboard, by virtual key (0xBA...0xC0, 0xDB...0xDE).
char usCharacter(uint32_t vk) {
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'))
        return static_cast<char>(vk);
    switch (vk) {
    case 0xBA:
        return ';';
    case 0xBB:
        return '=';
    case 0xBC:
        return ',';
    case 0xBD:
        return '-';
    case 0xBE:
        return '.';
    case 0xBF:
        return '/';
    case 0xC0:
        return '`';
    case 0xDB:
        return '[';
    case 0xDC:
        return '\\';
    case 0xDD:
        return ']';
    case 0xDE:
        return '\'';
    case 0xE2:
        return '\\';
    default:
        return 0;
    }
}

uint32_t number(std::u16string_view text) {
    uint32_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9' || value > 100000)
            return 0;
        value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    return value;
}

} // namespace

Hotkey parse(std::u16string_view text) {
    size_t colon = text.substr(0, 10).find(u':');
    if (colon == std::u16string_view::npos)
        return {};
    return {number(text.substr(0, colon)), number(text.substr(colon + 1))};
}

std::u16string format(Hotkey hotkey) {
    std::string text = std::to_string(hotkey.modifiers) + ":" + std::to_string(hotkey.virtualKey);
    return std::u16string(text.begin(), text.end());
}

std::string keyName(uint32_t vk) {
    for (const Name& name : kNamesBefore)
        if (name.vk == vk)
            return name.name;
    if (vk >= 97 && vk <= 105)
        return "Num " + std::to_string(vk - 96);
    if (vk == 96)
        return "Num 0";
    for (const Name& name : kNamesAfter)
        if (name.vk == vk)
            return name.name;
    if (vk >= 112 && vk <= 135)
        return "F" + std::to_string(vk - 111);
    if (vk == 0)
        return {};
    if (vk < 32) {
        char text[8];
        std::snprintf(text, sizeof text, "#%02u", vk);
        return text;
    }
    char c = usCharacter(vk);
    return c ? std::string(1, c) : std::string();
}

std::string displayText(Hotkey hotkey) {
    std::string text;
    if (hotkey.modifiers & kWin)
        text += "Win+";
    if (hotkey.modifiers & kCtrl)
        text += "Ctrl+";
    if (hotkey.modifiers & kAlt)
        text += "Alt+";
    if (hotkey.modifiers & kShift)
        text += "Shift+";
    return text + keyName(hotkey.virtualKey);
}

} // namespace QXHotkeyText
