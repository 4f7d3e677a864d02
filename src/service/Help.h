#pragma once
// The texts a person at a terminal gets: -help, -version, and the hint of a start by hand.
#include <string>

namespace duz {

// The switches, the environment variables, and where the registry (as it applies now) and the logs
// are.
std::string HelpText();
// "duzezevovivo <version>".
std::string VersionText();
// One line for a start without the service manager: what the program is and what to run instead.
std::string StartedByHandHint();

}  // namespace duz
