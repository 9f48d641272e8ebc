#include "app/CQXCommandLineInfo.h"

#include "platform/QXText.h"

#include <algorithm>
#include <cctype>

CQXCommandLineInfo::CQXCommandLineInfo(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        parseParam(argument);
}

const char* CQXCommandLineInfo::usage() {
    return "usage: qxcfg [/minimized] [-restart] [FILE.layers]\n"
           "\n"
           "Configures and drives the Tessera Quadrix keyboard from the notification area.\n"
           "A second start hands its arguments to the running copy.\n"
           "  /minimized, -minimized  start without opening the editor\n"
           "  /restart, -restart      close the running copy and take over\n"
           "  FILE.layers, FILE.tqlz  import the file into the group \"user_layers\"\n"
           "  --help                  print this and exit\n"
           "  --version               print the version and exit\n";
}

void CQXCommandLineInfo::parseParam(const std::string& argument) {
    if (argument == "--help") {
        m_help = true;
        return;
    }
    if (argument == "--version") {
        m_version = true;
        return;
    }
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
    if (lower.find(".layers") != std::string::npos || lower.find(".tqlz") != std::string::npos)
        m_layersFile = argument;
}
