#pragma once
// The -debug run: the platform on its owner thread and a view of the log until the window is
// closed or one of the stop signals arrives; SIGHUP has the platform reload its configuration. The
// platform keeps its state in the working directory. The view is the window of the module that -debug loads
// when there is a display, else the terminal; a missing module or a display that cannot be opened
// falls back to the terminal with a notice on stderr. Ends in the order of the process end: the log
// writer is stopped first (the platform's last lines are dropped), then the view and the platform go.
#include <csignal>

#include "status/PlatformView.h"

namespace duz {

// signals (the stop signals and SIGHUP) must be blocked in every thread of the process. The platform
// runs the given views.
int RunDebug(const sigset_t& signals, const TPlatformViewFactories& views);

}  // namespace duz
