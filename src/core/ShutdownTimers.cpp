#include "core/ShutdownTimers.h"

#include <algorithm>

#include "base/EventLoop.h"
#include "base/Exception.h"
#include "base/MutexLock.h"
#include "base/PeriodicTimer.h"
#include "status/StatusBoard.h"

namespace duz {
namespace {

bool IsRunning(const std::weak_ptr<TPeriodicTimer>& timer) {
  const auto running = timer.lock();
  return running && running->IsRunning();
}

}  // namespace

void TShutdownTimers::Start(pugi::xml_node root, std::chrono::milliseconds period,
                            std::optional<std::chrono::milliseconds> first) {
  TEventLoop* loop = TEventLoop::Current();
  if (!loop) throw Exception("No event loop on this thread for the shutdown timer");
  const uint64_t id = ++FLastId;
  auto timer = TPeriodicTimer::Start(
      *loop, period, [this, id] { Expired(id); }, first);
  TMutexLock lock(FLock);
  std::erase_if(FTimers, [](const TTimer& entry) { return entry.Timer.expired(); });
  FTimers.push_back({id, timer, {MonotonicNow() + first.value_or(period), period}, root});
  ShowDue();
}

void TShutdownTimers::Stop() {
  TMutexLock lock(FLock);
  for (const TTimer& entry : FTimers)
    if (auto timer = entry.Timer.lock()) timer->Stop();
  FTimers.clear();
  ShowDue();
}

void TShutdownTimers::MoveTo(pugi::xml_node from, pugi::xml_node to) {
  TMutexLock lock(FLock);
  for (TTimer& entry : FTimers)
    if (entry.Root == from) entry.Root = to;
}

std::vector<TShutdownTimers::TArmed> TShutdownTimers::Armed() const {
  TMutexLock lock(FLock);
  std::vector<TArmed> armed;
  for (const TTimer& entry : FTimers)
    if (IsRunning(entry.Timer)) armed.push_back(entry.Armed);
  return armed;
}

// The shutdown may stop every timer, this one too: it runs without the lock, on its own root.
void TShutdownTimers::Expired(uint64_t id) {
  pugi::xml_node root;
  {
    TMutexLock lock(FLock);
    const auto entry =
        std::find_if(FTimers.begin(), FTimers.end(), [id](const TTimer& e) { return e.Id == id; });
    if (entry == FTimers.end()) return;
    root = entry->Root;
  }
  FShutdown(root);
}

void TShutdownTimers::ShowDue() {
  std::optional<TMonotonicTime> due;
  for (const TTimer& entry : FTimers)
    if (IsRunning(entry.Timer)) due = std::min(due.value_or(entry.Armed.Due), entry.Armed.Due);
  FBoard.SetShutdownDue(due);
}

}  // namespace duz
