#pragma once

#include <filesystem>
#include <string>

// The desktop's own programs.
namespace QXDesktop {

// Opens a file or an address with the program the desktop chose for it (xdg-open).
// Returns at once; false when the opener could not be started.
bool open(const std::string& fileOrAddress);

} // namespace QXDesktop
