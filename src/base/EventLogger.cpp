#include "base/EventLogger.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/Exception.h"
#include "base/FileWrite.h"
#include "base/Journal.h"
#include "base/MutexLock.h"

namespace duz {
namespace {

int Priority(uint32_t type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE:
      return LOG_ERR;
    case EVENTLOG_WARNING_TYPE:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

// One line of the event-log file keeps one entry: the text's own line breaks and tabs are escaped.
std::string EscapeText(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        result += "\\\\";
        break;
      case '\t':
        result += "\\t";
        break;
      case '\r':
        result += "\\r";
        break;
      case '\n':
        result += "\\n";
        break;
      default:
        result += c;
    }
  }
  return result;
}

// One write with O_APPEND, so that lines of concurrent reporters (threads or processes) never mix.
// Like every file the service writes, never through a symbolic link.
bool AppendToFile(const char* path, const std::string& line) {
  int fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND);
  if (fd < 0) return false;
  bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  return close(fd) == 0 && written;
}

bool JournalRuns() { return access(JournalSocket, F_OK) == 0; }

// An entry too large for one datagram fails like any other that the journal does not take.
bool SendToJournal(const std::string& source, const std::string& text, uint32_t type, uint32_t category,
                   int32_t id) {
  return SendJournalEntry(JournalSocket, {{"MESSAGE", text},
                                          {"PRIORITY", std::to_string(Priority(type))},
                                          {"SYSLOG_IDENTIFIER", source},
                                          {"EVENTLOG_TYPE", std::to_string(type)},
                                          {"EVENTLOG_CATEGORY", std::to_string(category)},
                                          {"EVENTLOG_ID", std::to_string(id)}}) == 0;
}

bool SendToSyslog(const std::string& source, const std::string& text, uint32_t type) {
  // openlog keeps the identifier's pointer, so it must outlive the call; one source at a time.
  static TMutex lock;
  static std::string ident GUARDED_BY(lock);
  TMutexLock guard(lock);
  ident = source;
  openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  syslog(Priority(type), "%s", text.c_str());
  return true;
}

}  // namespace

bool TEventLogger::LogEvent(const std::string& text, uint32_t type, uint32_t category, int32_t id) const {
  if (category > 0xFFFF) throw ERangeError(fmt::format("Event category {} out of range", category));
  if (id < 0) throw ERangeError(fmt::format("Event ID {} out of range", id));
  if (const char* path = std::getenv("DUZEZEVOVIVO_EVENTLOG"); path && *path)
    return AppendToFile(path, fmt::format("{}\t{}\t{}\t{}\t{}\t{}\n", IsoDateTime(Now()), FSource, type,
                                          category, id, EscapeText(text)));
  if (JournalRuns()) return SendToJournal(FSource, text, type, category, id);
  return SendToSyslog(FSource, text, type);
}

}  // namespace duz
