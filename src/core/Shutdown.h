#pragma once
// The computer shutdown that a condition's shutdown timer asks its platform for
// (TKelvoPlatform::ShutdownComputer): the flags chosen by the root's SHUTDOWN elements, and the
// request to the system. Any thread.
#include <pugixml.hpp>
#include <string>

namespace duz {

class TEventLogger;

// Flags requested when no SHUTDOWN element applies: power off, forced.
constexpr int DefaultShutdownFlags = 12;

// The walk over the root's children named exactly "SHUTDOWN": the first "DEFAULT" type sets the
// flags, a type equal to versionName (upper case) sets them and ends the walk. Raises for an element
// without type met by the walk, and for a taken element without a numeric value.
int ShutdownFlags(pugi::xml_node root, const std::string& versionName);

// The version name the SHUTDOWN types are compared with; no version name describes Linux.
std::string GetWindowsVersionName();

// With DUZEZEVOVIVO_SHUTDOWN_COMMAND set, that program with the flags in decimal; otherwise
// "systemctl poweroff" (flags 1 or 8) or "systemctl reboot" (flag 2). Not waited for. A request that
// cannot be made (flags that name none of these kinds, when nothing is started, or a program that
// does not start) is an error in events: the computer would go on running unwatched.
void RequestSystemShutdown(int flags, const TEventLogger& events);

}  // namespace duz
