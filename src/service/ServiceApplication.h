#pragma once
// The service application: without DEBUG the executable is the systemd service, or installs or
// uninstalls it.
#include <csignal>

#include "service/Switches.h"
#include "status/PlatformView.h"

namespace duz {

// signals (the stop signals, and SIGHUP for a reload) must be blocked in every thread of the process.
// The platform runs the given views and keeps its state in the working directory. Returns the exit
// status.
int RunServiceApplication(const TSwitches& switches, const sigset_t& signals,
                          const TPlatformViewFactories& views);

}  // namespace duz
