#pragma once
// The event-log file a test gives the program (DUZEZEVOVIVO_EVENTLOG), read back entry by entry.
#include <cstdint>
#include <string>
#include <vector>

namespace duz::test {

struct TEventEntry {
  std::string Time;  // ISO 8601 local time with milliseconds
  std::string Source;
  uint32_t Type = 0;
  uint32_t Category = 0;
  int32_t Id = 0;
  std::string Text;  // as written: "\\", "\t", "\r", "\n" still escaped
};

// Every complete line of the file, in order; [] when it does not exist.
std::vector<TEventEntry> ReadEventLog(const std::string& path);

// The texts of the entries from source, in order.
std::vector<std::string> EventTexts(const std::vector<TEventEntry>& entries, const std::string& source);

}  // namespace duz::test
