#include "debugwindow/TerminalView.h"

#include <cstdio>

#include "base/FormatDateTime.h"
#include "log/Logger.h"

namespace duz {

std::string ViewPrefix(TDateTime time) {
  return time == 0 ? std::string() : FormatDateTime("[yyyy-MM-dd hh:mm:ss] ", time);
}

void TTerminalView::Attach() {
  SetLogViewHook([](const std::string& text, TDateTime time) {
    std::string line = ViewPrefix(time) + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  });
}

}  // namespace duz
