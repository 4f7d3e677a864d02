#pragma once
// TEventLogger: writes entries to the event log under a source name fixed at creation; one entry
// per report. The event log is the systemd journal (syslog when there is none); with the
// environment variable DUZEZEVOVIVO_EVENTLOG set to a path, entries are appended to that file
// instead, one tab-separated line each. An entry that cannot be written fails nothing: LogEvent
// returns false. Every entry of the program goes through LogEvent, with its arguments in this
// order. Any thread.
#include <cstdint>
#include <string>

namespace duz {

enum : uint32_t {
  EVENTLOG_ERROR_TYPE = 1,
  EVENTLOG_WARNING_TYPE = 2,
  EVENTLOG_INFORMATION_TYPE = 4,
};

class TEventLogger {
 public:
  explicit TEventLogger(std::string source) : FSource(std::move(source)) {}
  const std::string& Source() const { return FSource; }
  // Raises ERangeError when category exceeds 65535 or id is negative, the one failure of the
  // caller's making. Returns whether the entry was written (callers that must not fail may ignore
  // it).
  bool LogEvent(const std::string& text, uint32_t type, uint32_t category, int32_t id) const;

 private:
  std::string FSource;
};

}  // namespace duz
