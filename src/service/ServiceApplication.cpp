#include "service/ServiceApplication.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/EventLogger.h"
#include "core/PlatformHost.h"
#include "log/SystemLogUtils.h"
#include "service/Deredoru.h"
#include "service/Help.h"
#include "service/Installer.h"
#include "service/ServiceManager.h"
#include "service/ServiceMonitor.h"

namespace duz {
namespace {

// How often the main thread looks whether the service thread has ended on its own (a failed start),
// and what is due to the service manager.
constexpr timespec SignalPoll{0, 100'000'000};

int RunService(TDeredoru& module, const sigset_t& signals) {
  if (int error = module.Start()) {
    ReportSystemEvent(std::strerror(error), EVENTLOG_ERROR_TYPE, 0, 0);
    // Started by hand: there is no service manager to run under.
    if (error == ECONNREFUSED) std::fprintf(stderr, "%s\n", StartedByHandHint().c_str());
    return 1;
  }
  TServiceMonitor monitor([&module] { return module.WatchAlive(); },
                          [&module] { return module.StatusBoard(); });
  while (!module.Ended()) {
    if (const int signal = sigtimedwait(&signals, nullptr, &SignalPoll); signal == SIGHUP)
      module.Reload();
    else if (signal > 0)
      module.Control(SystemStopping() ? TServiceControl::Shutdown : TServiceControl::Stop);
    monitor.Poll();
  }
  return module.Finish();
}

}  // namespace

int RunServiceApplication(const TSwitches& switches, const sigset_t& signals,
                          const TPlatformViewFactories& views) {
  TDeredoru module(views, CreateKelvo, StateFileName);
  if (switches.Install || switches.Uninstall) return RunInstaller(module, switches);
  return RunService(module, signals);
}

}  // namespace duz
