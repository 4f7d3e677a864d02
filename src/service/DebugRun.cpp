#include "service/DebugRun.h"

#include <cstdio>

#include "core/PlatformHost.h"
#include "debugwindow/TerminalView.h"
#include "log/Logger.h"

namespace duz {

int RunDebug(const sigset_t& stopSignals) {
  TPlatformHost host;
  std::string error = host.Start();
  if (!error.empty())
    std::fprintf(stderr, "%s\n", error.c_str());
  else
    TTerminalView().Attach();
  int signal = 0;
  sigwait(&stopSignals, &signal);
  StopLogger();
  host.Stop();
  return 0;
}

}  // namespace duz
