#pragma once
// The -debug run with a display: the application, the debug window (which creates the platform),
// the event loop until the window is closed or a stop signal arrives, then the process end in its
// order: the log writer stops first, then the window and the platform go. Main thread only.
// It lives in the module libduzezevovivo-window.so, which the service loads only for -debug, so
// that the service itself maps no GUI library; the module takes the platform, the log writer and
// the rest from the executable that loads it.
#include <csignal>

#include "status/PlatformView.h"

namespace duz {

// Where the module lies, relative to the directory of the executable, and what it exports.
inline constexpr const char* WindowModulePath = "../lib/duzezevovivo/libduzezevovivo-window.so";
inline constexpr const char* WindowEntryName = "DuzRunWindow";
// The run's result when no display could be opened: nothing was shown, and the caller shows the
// log elsewhere.
inline constexpr int WindowNoDisplay = -1;

// handledSignals: the stop signals and SIGHUP (a reload), blocked in every thread of the process; the
// platform runs the given views. Returns the exit status, or WindowNoDisplay.
int RunWindow(const sigset_t& handledSignals, const TPlatformViewFactories& views);

using TWindowEntry = int(const sigset_t* handledSignals, const TPlatformViewFactories* views);

}  // namespace duz

// The module's entry point: RunWindow.
extern "C" int DuzRunWindow(const sigset_t* handledSignals, const duz::TPlatformViewFactories* views);
