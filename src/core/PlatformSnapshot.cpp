#include "core/PlatformSnapshot.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "base/Clock.h"
#include "core/Shutdown.h"

namespace duz {
namespace {

std::mutex ListLock;
std::vector<std::shared_ptr<TKelvoStatus>> List;  // guarded by ListLock

std::mutex ChangeLock;
std::condition_variable ChangeWake;
uint64_t ChangeCount = 0;  // guarded by ChangeLock

uint64_t CurrentChangeCount() {
  std::lock_guard lock(ChangeLock);
  return ChangeCount;
}

}  // namespace

TPlatformSnapshot TakeSnapshot(bool withHistory) {
  TPlatformSnapshot snapshot;
  // Read first: a change during the copy then shows in the next snapshot too.
  snapshot.Sequence = CurrentChangeCount();
  snapshot.Time = Now();
  std::vector<std::shared_ptr<TKelvoStatus>> list;
  {
    std::lock_guard lock(ListLock);
    list = List;
  }
  snapshot.Thermometers.reserve(list.size());
  for (const auto& status : list) {
    snapshot.Thermometers.push_back(status->Copy());
    if (withHistory) snapshot.Thermometers.back().History = status->History(snapshot.Time);
  }
  snapshot.ShutdownSecondsLeft = ShutdownSecondsLeft();
  snapshot.ShutdownPending = snapshot.ShutdownSecondsLeft.has_value();
  return snapshot;
}

uint64_t WaitForStatusChange(uint64_t seen, std::chrono::milliseconds timeout) {
  std::unique_lock lock(ChangeLock);
  ChangeWake.wait_for(lock, timeout, [&] { return ChangeCount != seen; });
  return ChangeCount;
}

void RegisterStatus(std::shared_ptr<TKelvoStatus> status) {
  {
    std::lock_guard lock(ListLock);
    List.push_back(std::move(status));
  }
  NoteStatusChange();
}

void UnregisterStatus(const TKelvoStatus* status) {
  {
    std::lock_guard lock(ListLock);
    std::erase_if(List, [&](const auto& entry) { return entry.get() == status; });
  }
  NoteStatusChange();
}

void NoteStatusChange() {
  {
    std::lock_guard lock(ChangeLock);
    ++ChangeCount;
  }
  ChangeWake.notify_all();
}

}  // namespace duz
