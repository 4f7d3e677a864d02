#pragma once
// TStatusBoard: what a platform shows to everything that only shows it (the metrics endpoint, the
// status page, the MQTT publisher, the service's status line): the status of each of its
// thermometers, in creation order, when the first armed shutdown is due, and a count of changes
// that a reader can wait on. Readers take a copy (TakeSnapshot), which holds each status's lock only
// for its copy, so they never reach into a subservice or take a condition's lock.
// Owned by its platform, and shared by every status it made: a job that reports after the platform
// has gone (an e-mail finished by a worker left behind) still reports into something. Any thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/Mutex.h"
#include "status/KelvoStatus.h"

namespace duz {

struct TPlatformSnapshot {
  std::vector<TKelvoSnapshot> Thermometers;
  bool ShutdownPending = false;
  std::optional<double> ShutdownSecondsLeft;  // while a shutdown is pending
  uint64_t Sequence = 0;                      // the count of changes this snapshot reflects at least
  TDateTime Time = 0;                         // local time when it was taken
};

class TStatusBoard : public std::enable_shared_from_this<TStatusBoard> {
 public:
  // The status of a new thermometer, shown after those added before it.
  std::shared_ptr<TKelvoStatus> Add(std::string caption, int comPort);
  // The thermometer is no longer shown (a job may still hold its status).
  void Remove(const TKelvoStatus& status);
  // When the first armed shutdown is due, on the monotonic clock; nothing while none is armed.
  void SetShutdownDue(std::optional<TMonotonicTime> due);
  // Counts a change and wakes the readers that wait for one.
  void NoteChange();

  // withHistory: also each thermometer's History, a copy of 1,440 minutes that only a page needs.
  TPlatformSnapshot TakeSnapshot(bool withHistory = false) const;
  // Waits until the change count passes seen, or the time-out ends; returns the change count then.
  // A reader that publishes changes (MQTT) waits here instead of polling.
  uint64_t WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const;

 private:
  mutable TMutex FLock;
  mutable std::condition_variable FChanged;
  std::vector<std::weak_ptr<TKelvoStatus>> FStatuses GUARDED_BY(FLock);
  std::optional<TMonotonicTime> FShutdownDue GUARDED_BY(FLock);
  uint64_t FChanges GUARDED_BY(FLock) = 0;
};

}  // namespace duz
