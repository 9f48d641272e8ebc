#pragma once

#include <optional>
#include <string>

// The program the desktop opens web addresses with, as GIO reads the desktop's default
// applications (mimeapps.list and desktop entries). Kept apart from Qt: GIO's headers use
// "signals" as a name, which Qt's headers make a keyword.
namespace QXDesktopBrowser {

// The full path of the default "http" handler's program on the search path; nothing
// when the desktop names none or its program cannot be found.
std::optional<std::string> programPath();

} // namespace QXDesktopBrowser
