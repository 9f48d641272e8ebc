#include "app/CQXCommandLineInfo.h"

#include "platform/QXText.h"

#include <algorithm>
#include <cctype>

CQXCommandLineInfo::CQXCommandLineInfo(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        parseParam(argument);
}

void CQXCommandLineInfo::parseParam(const std::string& argument) {
    // A flag is "/" or "-" followed by a known word; "/home/me/set.layers" is a path.
    if (!argument.empty() && (argument[0] == '/' || argument[0] == '-')) {
        std::string_view word(argument);
        word.remove_prefix(1);
        if (equalsIgnoringAsciiCase(word, "minimized")) {
            m_minimized = true;
            return;
        }
        if (equalsIgnoringAsciiCase(word, "restart")) {
            m_restart = true;
            return;
        }
    }
    std::string lower = argument;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find(".layers") != std::string::npos)
        m_layersFile = argument;
}
