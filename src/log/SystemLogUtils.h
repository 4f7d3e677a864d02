#pragma once
#include <cstdint>
#include <string>

namespace duz {

// One event-log entry under the executable's file name ("duzezevovivo"). Returns success.
bool ReportSystemEvent(uint32_t type, uint32_t category, int32_t eventId, const std::string& text);

}  // namespace duz
