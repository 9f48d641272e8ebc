#pragma once

#include <string>

// Opens where a keyboard's reports come from: a hidraw node, or "unix:<path>", a
// sequenced-packet socket of a virtual keyboard. Each read of either gives one report.
// Returns a non-blocking descriptor, or -1.
int openReportChannel(const std::string& path);
