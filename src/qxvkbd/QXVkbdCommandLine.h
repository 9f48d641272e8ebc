#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// qxvkbd's command line:
//
//   qxvkbd [--name NAME] [--folder DIR] [--version TEXT] [--old] [--no-window]
//          [--snapshot FILE [--timeout SECONDS]]
//   qxvkbd press KEY-NAME [--name NAME] [--folder DIR]
//   qxvkbd snapshot FILE [--name NAME] [--folder DIR]
//
//   qxvkbd --help | --version
//
// Options take their value as the next argument or after "=". "--version" with no value
// after it prints the program's version; with one it is the keyboard's firmware version.
struct QXVkbdCommandLine {
    enum class Command { Run, Press, Snapshot, Help, Version };

    Command command = Command::Run;
    std::string name = "qxvkbd";
    std::filesystem::path folder; // empty: where the program looks by default
    std::string version;          // empty: the default version
    bool old = false;
    bool noWindow = false;
    std::string snapshot; // Run: --snapshot FILE; Snapshot: FILE
    int timeoutSeconds = 60;
    std::string key; // Press

    // nullopt with a message when the arguments (without the program name) are wrong.
    static std::optional<QXVkbdCommandLine> parse(const std::vector<std::string>& args,
                                                  std::string& error);
    static const char* usage();
};
