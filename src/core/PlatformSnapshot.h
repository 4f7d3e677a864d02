#pragma once
// The copy-out view of the running platform for everything that only shows it (the metrics
// endpoint, the status page, the MQTT publisher, the service's status line): one TThermometerStatus
// per registered thermometer, in creation order, and whether a shutdown is armed. Taking a snapshot
// takes each status's lock only for a copy. Any thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/DateTime.h"
#include "core/KelvoStatus.h"

namespace duz {

struct TPlatformSnapshot {
  std::vector<TThermometerStatus> Thermometers;
  bool ShutdownPending = false;
  std::optional<double> ShutdownSecondsLeft;  // while a shutdown is pending
  uint64_t Sequence = 0;                      // the count of changes this snapshot reflects at least
  TDateTime Time = 0;                         // local time when it was taken
};

// withHistory: also each thermometer's History, a copy of 1,440 minutes that only a page needs.
TPlatformSnapshot TakeSnapshot(bool withHistory = false);

// Waits until the change count passes seen, or the time-out ends; returns the change count then.
// A reader that publishes changes (MQTT) waits here instead of polling.
uint64_t WaitForStatusChange(uint64_t seen, std::chrono::milliseconds timeout);

// For TKelvo and TKelvoStatus: the thermometers shown, and the mark of a change.
void RegisterStatus(std::shared_ptr<TKelvoStatus> status);
void UnregisterStatus(const TKelvoStatus* status);
void NoteStatusChange();

}  // namespace duz
