#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The desktop's own programs.
namespace QXDesktop {

// Opens a file or an address with the program the desktop chose for it (xdg-open).
// Returns at once; false when the opener could not be started.
bool open(const std::string& fileOrAddress);

// Starts a program (argv[0] looked up in PATH) detached from this one: it outlives the
// program and leaves no zombie. Returns at once; false when it could not be started.
bool launch(const std::vector<std::string>& argv);

} // namespace QXDesktop
