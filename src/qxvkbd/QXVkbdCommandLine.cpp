#include "QXVkbdCommandLine.h"

#include <algorithm>
#include <charconv>

const char* QXVkbdCommandLine::usage() {
    return "usage: qxvkbd [--name NAME] [--folder DIR] [--version TEXT] [--old] [--no-window]\n"
           "              [--snapshot FILE [--timeout SECONDS]]\n"
           "       qxvkbd press KEY-NAME [--name NAME] [--folder DIR]\n"
           "       qxvkbd snapshot FILE [--name NAME] [--folder DIR]\n"
           "       qxvkbd --help | --version\n"
           "\n"
           "Runs a virtual keyboard in DIR/NAME (DIR: where the program looks for virtual\n"
           "keyboards; NAME: qxvkbd) until it is interrupted or its window is closed.\n"
           "  --version TEXT  the firmware version it reports (TesseraV0.80b); without\n"
           "                  TEXT, print the program's version and exit\n"
           "  --old           an older keyboard: signalling keys, no key reports\n"
           "  --no-window     no window, also when a display is available\n"
           "  --snapshot FILE write the keyboard's picture as PNG each time it has settled\n"
           "                  (half a second without writes) after the program wrote to it;\n"
           "                  without a window, write it once and exit: status 0, or 3 when\n"
           "                  nothing was written within --timeout seconds (60)\n"
           "press      presses and releases a key of the running keyboard NAME\n"
           "snapshot   makes the running keyboard NAME write its picture as PNG\n";
}

std::optional<QXVkbdCommandLine> QXVkbdCommandLine::parse(const std::vector<std::string>& args,
                                                          std::string& error) {
    QXVkbdCommandLine line;
    size_t i = 0;
    if (!args.empty() && (args[0] == "press" || args[0] == "snapshot")) {
        line.command = args[0] == "press" ? Command::Press : Command::Snapshot;
        i = 1;
    }
    std::vector<std::string> positional;
    for (; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> inlineValue;
        if (option.rfind("--", 0) == 0) {
            const size_t equals = option.find('=');
            if (equals != std::string::npos) {
                inlineValue = option.substr(equals + 1);
                option.resize(equals);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            error = option + " needs a value";
            return std::nullopt;
        };
        const bool runOnly = option == "--version" || option == "--old" ||
                             option == "--no-window" || option == "--snapshot" ||
                             option == "--timeout";
        if (runOnly && line.command != Command::Run) {
            error = option + " is an option of the keyboard itself, not of this command";
            return std::nullopt;
        }
        if (option == "--help" || option == "-h") {
            line.command = Command::Help;
            return line;
        } else if (option == "--version" && !inlineValue && i + 1 == args.size()) {
            line.command = Command::Version;
            return line;
        } else if (option == "--name" || option == "--folder" || option == "--version" ||
                   option == "--snapshot" || option == "--timeout") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            if (option == "--name")
                line.name = *v;
            else if (option == "--folder")
                line.folder = *v;
            else if (option == "--version")
                line.version = *v;
            else if (option == "--snapshot")
                line.snapshot = *v;
            else {
                const auto [end, ec] =
                    std::from_chars(v->data(), v->data() + v->size(), line.timeoutSeconds);
                if (ec != std::errc() || end != v->data() + v->size() || line.timeoutSeconds <= 0) {
                    error = "--timeout needs a whole number of seconds";
                    return std::nullopt;
                }
            }
        } else if ((option == "--old" || option == "--no-window") && !inlineValue) {
            (option == "--old" ? line.old : line.noWindow) = true;
        } else if (option.rfind("-", 0) == 0 && option.size() > 1) {
            error = "unknown option " + option;
            return std::nullopt;
        } else {
            positional.push_back(args[i]);
        }
    }

    const size_t wanted = line.command == Command::Run ? 0 : 1;
    if (positional.size() != wanted) {
        error = line.command == Command::Press      ? "press needs one key name"
                : line.command == Command::Snapshot ? "snapshot needs one file name"
                                                    : "unexpected argument " + positional[0];
        return std::nullopt;
    }
    if (line.command == Command::Press)
        line.key = positional[0];
    else if (line.command == Command::Snapshot)
        line.snapshot = positional[0];
    // One line each on the control socket.
    auto hasControl = [](const std::string& s) {
        return std::any_of(s.begin(), s.end(), [](char c) { return c == '\n' || c == '\r'; });
    };
    if (hasControl(line.key) || hasControl(line.snapshot) || hasControl(line.name)) {
        error = "names must not contain line breaks";
        return std::nullopt;
    }
    return line;
}
