#include "service/DebugRun.h"

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "base/StopSignal.h"
#include "core/PlatformHost.h"
#include "debugwindow/TerminalView.h"
#include "debugwindow/WindowRun.h"
#include "log/Logger.h"

namespace duz {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// A display, or a platform named for the window (offscreen, vnc ...), means the window.
bool DisplayAvailable() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"); }

int RunTerminal(const sigset_t& stopSignals) {
  TStopSignal stop;
  // Awaited from the start: a stop signal during the platform's creation ends its WAIT pauses.
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    stop.Raise();
  });
  TPlatformHost host(&stop);
  std::promise<std::string> created;
  host.Start([&](const std::string& error) { created.set_value(error); });
  const std::string error = created.get_future().get();
  if (!error.empty())
    std::fprintf(stderr, "%s\n", error.c_str());
  else
    TTerminalView().Attach();
  waiter.join();
  StopLogger();
  host.Stop();
  return 0;
}

}  // namespace

int RunDebug(const sigset_t& stopSignals) {
  return DisplayAvailable() ? RunWindow(stopSignals) : RunTerminal(stopSignals);
}

}  // namespace duz
