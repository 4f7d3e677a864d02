// The entry point only wires: read the switches, start the log writer, run the chosen mode with the
// views that run beside every platform.
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/DebugMode.h"
#include "base/ProcessMemory.h"
#include "config/Registry.h"
#include "log/Logger.h"
#include "mqtt/MqttPublisher.h"
#include "net/Outbox.h"
#include "service/CheckRun.h"
#include "service/DebugRun.h"
#include "service/Help.h"
#include "service/ServiceApplication.h"
#include "service/Switches.h"
#include "service/TestAlert.h"
#include "service/TestMail.h"
#include "web/MetricsServer.h"

int main(int argc, char** argv) {
  using namespace duz;
  // Blocked before any thread starts, so that only the waiting thread ever takes them: the stop
  // signals, and SIGHUP for a reload.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A peer that closes during a TLS write, or a reader of -debug's output that goes away, must
  // cost that write only, not the process.
  std::signal(SIGPIPE, SIG_IGN);
  SetUpProcessMemory();

  std::setlocale(LC_ALL, "");
  const TSwitches switches = ParseSwitches(std::vector<std::string>(argv + 1, argv + argc));
  // Answered before anything starts: no log file, no event, no thread.
  if (switches.Help || switches.Version) {
    std::printf("%s\n", (switches.Help ? HelpText() : VersionText()).c_str());
    return 0;
  }
  if (switches.Check) return RunCheck(switches.CheckFile);
  try {
    LoadRegionalSettings();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Regional settings: %s\n", error.what());
  }

  StartLogger();
  DebugMode = switches.Debug;
  const TPlatformViewFactories views = {CreateMqttPublisher, CreateMetricsServer};
  int status = switches.TestMail    ? RunTestMail(signals)
               : switches.TestAlert ? RunTestAlert(signals)
               : switches.Debug     ? RunDebug(signals, views)
                                    : RunServiceApplication(switches, signals, views);
  StopLogger();
  // A worker left in a network wait may still be inside libcurl or OpenSSL, whose exit handlers
  // would free what it uses.
  if (TOutbox::WorkerLeftBehind()) {
    std::fflush(nullptr);
    std::quick_exit(status);
  }
  return status;
}
