#pragma once
// TTerminalView: what -debug shows where there is no display: every line the log writer writes,
// printed on stdout as "[yyyy-MM-dd hh:mm:ss] " + text. Lines come on the log writer's thread.
#include <string>

#include "base/DateTime.h"

namespace duz {

// "[yyyy-MM-dd hh:mm:ss] " for a time, "" for time 0 (lines without a time).
std::string ViewPrefix(TDateTime time);

class TTerminalView {
 public:
  // From now on every written line is printed.
  void Attach();
};

}  // namespace duz
