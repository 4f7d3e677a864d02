#pragma once
// TStateFile: the file in which a platform keeps its TWatchState for the next run of the program,
// and beside it the history file ("<name>" with the extension ".history") that keeps the minute
// histories. Each is written whole, by the link-safe replacement that flushes it to disk before it
// takes the name. The state file: after a change that matters (NoteChange: a condition's state or
// action, an armed shutdown, an outbox's alarms), at most once per Due that says so, which the tick
// loop asks once a second. The history file (megabytes with many thermometers, so never once a second
// for a flapping condition): every HistoryInterval. Both at the platform's end. Read once, at the
// start, the histories joined to their thermometers (a state file of an earlier version holds them
// itself): a file that cannot be read is set aside as "<name>.corrupt-yyyymmddhhnnss" with an
// event-log warning, and the run starts without it. The boot id tells whether the armed shutdowns
// belong to the running boot.
// Owned by its platform. NoteChange on any thread; the rest on one thread at a time (the owner
// thread at the start and the end, the tick thread in between).
#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "base/EventLogger.h"
#include "core/WatchState.h"

namespace duz {

// The kernel's id of the running boot (/proc/sys/kernel/random/boot_id, or the file that
// DUZEZEVOVIVO_BOOT_ID_FILE names); "" when it cannot be read.
std::string RunningBootId();

enum class TStateDue { Nothing, State, StateAndHistory };

class TStateFile {
 public:
  static constexpr std::chrono::minutes HistoryInterval{5};
  // A state file larger than this is not one of ours (16 thermometers with full histories and a full
  // e-mail outbox take about 2 MiB).
  static constexpr size_t MaxSize = size_t{64} * 1024 * 1024;

  TStateFile(std::string path, const TEventLogger& events);

  const std::string& BootId() const { return FBootId; }
  // What the previous run left; nothing when it left no file, or one that cannot be read.
  std::optional<TWatchState> Load();
  void NoteChange() { FChanged = true; }
  // What is to be written; a change noted counts once.
  TStateDue Due();
  // Writes the state with the running boot's id, and with withHistory its thermometers' histories
  // to the history file. A failure is an event-log warning, once until a write succeeds again.
  void Write(TWatchState state, bool withHistory);

 private:
  std::optional<TWatchState> Read(const std::string& path);
  bool WriteFile(const std::string& path, const TWatchState& state);

  const std::string FPath;
  const std::string FHistoryPath;
  const TEventLogger& FEvents;
  const std::string FBootId;
  std::atomic<bool> FChanged{false};
  TMonotonicTime FHistoryWritten;   // when the last history write was due
  bool FStateHoldsHistory = false;  // the file of an earlier version: its first rewrite takes them along
  bool FFailing = false;            // the event log has been told of a failed write
};

}  // namespace duz
