#pragma once
// The -debug run: the platform on its owner thread and a view of the log, until the view ends (or,
// in the terminal, one of the stop signals arrives). Ends in the order of the process end: the log writer is stopped
// first (the platform's last lines are dropped), then the platform is freed.
#include <csignal>

namespace duz {

// stopSignals must be blocked in every thread of the process.
int RunDebug(const sigset_t& stopSignals);

}  // namespace duz
