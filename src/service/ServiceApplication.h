#pragma once
// The service application: without DEBUG the executable is the systemd service, or installs or
// uninstalls it.
#include <csignal>

#include "service/Switches.h"
#include "status/PlatformView.h"

namespace duz {

// stopSignals must be blocked in every thread of the process. The platform runs the given views.
// Returns the exit status.
int RunServiceApplication(const TSwitches& switches, const sigset_t& stopSignals,
                          const TPlatformViewFactories& views);

}  // namespace duz
