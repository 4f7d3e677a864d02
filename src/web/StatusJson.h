#pragma once
// The status for scripts (/api/status): every thermometer's caption, COM port, connection,
// temperature, time of the last reading, counters, and each condition's state and limits; whether
// a shutdown is armed. Times are local ISO 8601 with their UTC offset; what is not known yet is
// null. A pure function of the snapshot.
#include <string>

#include "status/StatusBoard.h"

namespace duz {

std::string RenderStatusJson(const TPlatformSnapshot& snapshot);

}  // namespace duz
