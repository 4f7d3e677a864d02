#include "service/DebugRun.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
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

// The window's entry point, or nullptr with the reason in error (the module is not installed, or
// it does not load). The module stays loaded: Qt leaves threads and exit handlers in it.
TWindowEntry* LoadWindowModule(std::string& error) {
  std::error_code ignored;
  const std::filesystem::path module =
      std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path() / WindowModulePath;
  void* handle = dlopen(module.lexically_normal().c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = handle ? dlsym(handle, WindowEntryName) : nullptr;
  if (!entry) error = dlerror();
  return reinterpret_cast<TWindowEntry*>(entry);
}

int RunTerminal(const sigset_t& signals, const TPlatformViewFactories& views) {
  TStopSignal stop;
  TPlatformHost host(views, &stop, StateFileName);
  // Awaited from the start: a stop signal during the platform's creation ends its WAIT pauses.
  std::thread waiter([&] {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0 || signal == SIGHUP)
      if (signal == SIGHUP) host.Reload();
    stop.Raise();
  });
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

int RunDebug(const sigset_t& signals, const TPlatformViewFactories& views) {
  if (DisplayAvailable()) {
    std::string error;
    if (TWindowEntry* runWindow = LoadWindowModule(error)) {
      const int status = runWindow(&signals, &views);
      if (status != WindowNoDisplay) return status;
    } else {
      std::fprintf(stderr, "%s\n", error.c_str());
    }
    std::fprintf(stderr, "No display available, showing the log here\n");
  }
  return RunTerminal(signals, views);
}

}  // namespace duz
