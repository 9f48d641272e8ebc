#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The desktop's own programs.
namespace QXDesktop {

// Opens a file or an address with the program the desktop chose for it (xdg-open).
// Returns at once; false when the opener could not be started.
bool open(const std::string& fileOrAddress);

// Starts argv[0] (looked up on PATH unless it holds a slash) with the rest as its arguments,
// detached from this process: it is not a child of ours and outlives us. Returns at once;
// false when argv is empty or the program could not be started.
bool start(const std::vector<std::string>& argv);

// The full path of the executable file name on PATH, or empty when there is none.
std::string findOnPath(const std::string& name);

} // namespace QXDesktop
