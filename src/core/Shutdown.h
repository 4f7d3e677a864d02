#pragma once
// The computer shutdown that a condition's shutdown timer runs: the flags chosen by the root's
// SHUTDOWN elements, the freeing of every subservice, and the request to the system. The timers are
// registered here so that the shutdown can stop all of them before the conditions are freed.
// Everything runs on the owner thread (the thread of the timers' event loop).
#include <chrono>
#include <functional>
#include <optional>
#include <pugixml.hpp>
#include <string>

namespace duz {

class TComponent;

// Flags requested when no SHUTDOWN element applies: power off, forced.
constexpr int DefaultShutdownFlags = 12;

// The walk over the root's children named exactly "SHUTDOWN": the first "DEFAULT" type sets the
// flags, a type equal to versionName (upper case) sets them and ends the walk. Raises for an element
// without type met by the walk, and for a taken element without a numeric value.
int ShutdownFlags(pugi::xml_node root, const std::string& versionName);

// The version name the SHUTDOWN types are compared with; no version name describes Linux.
std::string GetWindowsVersionName();

// The whole sequence: flags (a failure here leaves everything as it was), stop every shutdown
// timer, free every subservice, then ask the system to shut down. A request that cannot be made is
// an event-log error; nothing else is logged.
void ShutdownComputer(pugi::xml_node root);

// With DUZEZEVOVIVO_SHUTDOWN_COMMAND set, that program with the flags in decimal; otherwise
// "systemctl poweroff" (flags 1 or 8) or "systemctl reboot" (flag 2). Not waited for. Raises when
// the flags name none of these kinds (nothing is started then) or the program does not start.
void RequestSystemShutdown(int flags);

// Arms a periodic timer on the calling thread's event loop that calls onExpiry every period, on
// behalf of owner. Raises when the thread has no event loop.
void StartShutdownTimer(const TComponent* owner, std::chrono::milliseconds period,
                        std::function<void()> onExpiry);
// Stops the shutdown timers of owner, or every shutdown timer when owner is nullptr.
void StopShutdownTimers(const TComponent* owner = nullptr);
// Shutdown timers still armed (for tests and diagnostics).
int RunningShutdownTimers();
// Seconds until the first armed timer is due (0 once it is overdue: a shutdown that failed is tried
// again at each period), on the monotonic clock; nothing while none is armed. Any thread.
std::optional<double> ShutdownSecondsLeft();

}  // namespace duz
