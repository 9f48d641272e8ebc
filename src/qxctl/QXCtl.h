#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The command-line companion: reads and changes a profile without the tray program.
// Returns the process exit status: 0 on success, 1 when the command failed (one line
// on err says why), 2 for a command line it does not understand.
int runQXCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
