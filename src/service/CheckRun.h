#pragma once
// The -check run: the registry file and the configuration it names (or the file given instead),
// checked without opening a port or starting a thread. Each finding is one line on stdout,
// "FILE(LINE,COL): error|warning: text", the registry's first, then the configuration's in document
// order; then "N errors, M warnings". Main thread.
#include <string>

namespace duz {

// file: the configuration to check instead of the registry's; "" for the registry's. Returns the exit
// status: 0 without errors, 1 with.
int RunCheck(const std::string& file);

}  // namespace duz
