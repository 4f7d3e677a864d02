#include "core/StateFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
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
    : FPath(std::move(path)),
      FHistoryPath(std::filesystem::path(FPath).replace_extension(".history").string()),
      FEvents(events),
      FBootId(RunningBootId()),
      FHistoryWritten(MonotonicNow()) {}

std::optional<TWatchState> TStateFile::Load() {
  std::optional<TWatchState> state = Read(FPath);
  FStateHoldsHistory = state && std::any_of(state->Thermometers.begin(), state->Thermometers.end(),
                                            [](const TSavedThermometer& t) { return !t.History.empty(); });
  std::optional<TWatchState> histories = Read(FHistoryPath);
  if (!histories) return state;
  if (!state) state.emplace();
  for (TSavedThermometer& thermometer : histories->Thermometers) {
    if (TSavedThermometer* same = state->Find(thermometer.ComPort, thermometer.Caption))
      same->History = std::move(thermometer.History);
    else
      state->Thermometers.push_back(std::move(thermometer));
  }
  return state;
}

std::optional<TWatchState> TStateFile::Read(const std::string& path) {
  std::string text;
  const int error = ReadRegularFile(path, text, MaxSize);
  if (error == ENOENT) return std::nullopt;
  std::string reason;
  try {
    if (!error) return ReadWatchState(text);
    reason = FileErrorText(error);
  } catch (const std::exception& failure) {
    reason = failure.what();
  }
  const std::string aside = SetAside(path);
  const std::string message = "State file \"" + path + "\" cannot be read (" + reason + ")" +
                              (aside.empty() ? "" : "; it was renamed to \"" + aside + "\"") +
                              "; the watch starts without it";
  DebugLog(message);
  FEvents.LogEvent(message, EVENTLOG_WARNING_TYPE, 0, 0);
  return std::nullopt;
}

TStateDue TStateFile::Due() {
  const bool changed = FChanged.exchange(false);
  if (MonotonicNow() - FHistoryWritten >= HistoryInterval || (changed && FStateHoldsHistory))
    return TStateDue::StateAndHistory;
  return changed ? TStateDue::State : TStateDue::Nothing;
}

void TStateFile::Write(TWatchState state, bool withHistory) {
  state.BootId = FBootId;
  bool written = true;
  if (withHistory) {
    FHistoryWritten = MonotonicNow();
    FStateHoldsHistory = false;
    TWatchState histories;
    for (TSavedThermometer& thermometer : state.Thermometers)
      histories.Thermometers.push_back(
          {thermometer.ComPort, thermometer.Caption, {}, std::move(thermometer.History)});
    written = WriteFile(FHistoryPath, histories);
  }
  for (TSavedThermometer& thermometer : state.Thermometers) thermometer.History.clear();
  // The webhook alarms in it carry their tokens.
  if (WriteFile(FPath, state) && written) FFailing = false;
  if (withHistory) ReleaseFreeMemory();
}

bool TStateFile::WriteFile(const std::string& path, const TWatchState& state) {
  const int error = ReplaceFileContent(path, WriteWatchState(state), true);
  if (!error) return true;
  const std::string text = "State file \"" + path + "\" not written: " + FileErrorText(error);
  DebugLog(text);
  if (!std::exchange(FFailing, true)) FEvents.LogEvent(text, EVENTLOG_WARNING_TYPE, 0, 0);
  return false;
}

}  // namespace duz
