#pragma once
// The -debug run with a display: the application, the debug window (which creates the platform),
// the event loop until the window is closed or a stop signal arrives, then the process end in its
// order: the log writer stops first, then the window and the platform go. Main thread only.
#include <csignal>

namespace duz {

// stopSignals must be blocked in every thread of the process. Returns the exit status.
int RunWindow(const sigset_t& stopSignals);

}  // namespace duz
