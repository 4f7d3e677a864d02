#include "core/StateFile.h"

#include <cctype>
#include <cstdlib>
#include <utility>

#include "base/FileWrite.h"
#include "base/ProcessMemory.h"
#include "log/Logger.h"

namespace duz {
namespace {

// A boot id is a UUID and a line end.
constexpr size_t MaxBootIdSize = 256;

}  // namespace

std::string RunningBootId() {
  const char* path = std::getenv("DUZEZEVOVIVO_BOOT_ID_FILE");
  std::string text;
  if (ReadRegularFile(path && *path ? path : "/proc/sys/kernel/random/boot_id", text, MaxBootIdSize,
                      TLinks::Follow))
    return "";
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

TStateFile::TStateFile(std::string path, const TEventLogger& events)
    : FPath(std::move(path)), FEvents(events), FBootId(RunningBootId()), FWritten(MonotonicNow()) {}

std::optional<TWatchState> TStateFile::Load() {
  std::string text;
  const int error = ReadRegularFile(FPath, text, MaxSize);
  if (error == ENOENT) return std::nullopt;
  std::string reason;
  try {
    if (!error) return ReadWatchState(text);
    reason = FileErrorText(error);
  } catch (const std::exception& failure) {
    reason = failure.what();
  }
  const std::string aside = SetAside(FPath);
  const std::string message = "State file \"" + FPath + "\" cannot be read (" + reason + ")" +
                              (aside.empty() ? "" : "; it was renamed to \"" + aside + "\"") +
                              "; the watch starts afresh";
  DebugLog(message);
  FEvents.LogEvent(message, EVENTLOG_WARNING_TYPE, 0, 0);
  return std::nullopt;
}

bool TStateFile::Due() { return FChanged.exchange(false) || MonotonicNow() - FWritten >= HistoryInterval; }

void TStateFile::Write(TWatchState state) {
  state.BootId = FBootId;
  FWritten = MonotonicNow();
  // The webhook alarms in it carry their tokens.
  if (const int error = ReplaceFileContent(FPath, WriteWatchState(state), true)) {
    const std::string text = "State file \"" + FPath + "\" not written: " + FileErrorText(error);
    DebugLog(text);
    if (!std::exchange(FFailing, true)) FEvents.LogEvent(text, EVENTLOG_WARNING_TYPE, 0, 0);
    return;
  }
  FFailing = false;
  ReleaseFreeMemory();
}

}  // namespace duz
