#pragma once
#include <cstdint>
#include <string>

namespace duz {

// One event-log entry under the executable's file name ("duzezevovivo"). Returns success: false also
// for a type or category beyond 16 bits or a negative ID, which it does not raise.
bool ReportSystemEvent(const std::string& text, uint32_t type, uint32_t category, int32_t eventId);

}  // namespace duz
