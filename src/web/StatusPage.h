#pragma once
// The status page for a person (/): one panel per thermometer with its caption, the temperature
// in large type coloured by its state (normal green, min blue, max orange, off red, lost grey),
// the limits of each condition, the age of the last reading and the chart of the last 24 hours.
// Self-contained (no script, nothing fetched from elsewhere) and refreshed by the browser every
// 10 s. A function of a snapshot taken with the history and of the regional settings, which write
// its numbers and its time.
#include <string>

#include "status/StatusBoard.h"

namespace duz {

std::string RenderStatusPage(const TPlatformSnapshot& snapshot);

}  // namespace duz
