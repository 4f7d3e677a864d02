#include "status/StatusBoard.h"

#include <algorithm>

#include "base/MutexLock.h"

namespace duz {

std::shared_ptr<TKelvoStatus> TStatusBoard::Add(std::string caption, int comPort) {
  auto status = std::make_shared<TKelvoStatus>(shared_from_this(), std::move(caption), comPort);
  {
    TMutexLock lock(FLock);
    FStatuses.push_back(status);
  }
  NoteChange();
  return status;
}

void TStatusBoard::Remove(const TKelvoStatus& status) {
  {
    TMutexLock lock(FLock);
    std::erase_if(FStatuses, [&](const std::weak_ptr<TKelvoStatus>& entry) {
      const auto shown = entry.lock();
      return !shown || shown.get() == &status;
    });
  }
  NoteChange();
}

void TStatusBoard::SetShutdownDue(std::optional<TMonotonicTime> due) {
  {
    TMutexLock lock(FLock);
    FShutdownDue = due;
  }
  NoteChange();
}

void TStatusBoard::NoteChange() {
  {
    TMutexLock lock(FLock);
    ++FChanges;
  }
  FChanged.notify_all();
}

TPlatformSnapshot TStatusBoard::TakeSnapshot(bool withHistory) const {
  TPlatformSnapshot snapshot;
  snapshot.Time = Now();
  std::vector<std::shared_ptr<TKelvoStatus>> statuses;
  {
    // The count is read with the list: a change during the copies below shows in the next snapshot.
    TMutexLock lock(FLock);
    snapshot.Sequence = FChanges;
    if (FShutdownDue)
      snapshot.ShutdownSecondsLeft =
          std::max(0.0, std::chrono::duration<double>(*FShutdownDue - MonotonicNow()).count());
    for (const auto& entry : FStatuses)
      if (auto status = entry.lock()) statuses.push_back(std::move(status));
  }
  snapshot.ShutdownPending = snapshot.ShutdownSecondsLeft.has_value();
  snapshot.Thermometers.reserve(statuses.size());
  for (const auto& status : statuses) {
    snapshot.Thermometers.push_back(status->Copy());
    if (withHistory) snapshot.Thermometers.back().History = status->History(snapshot.Time);
  }
  return snapshot;
}

uint64_t TStatusBoard::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  TMutexLock lock(FLock);
  while (FChanges == seen && FLock.WaitUntil(FChanged, deadline) == std::cv_status::no_timeout) {
  }
  return FChanges;
}

}  // namespace duz
