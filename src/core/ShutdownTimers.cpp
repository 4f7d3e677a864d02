#include "core/ShutdownTimers.h"

#include <algorithm>

#include "base/EventLoop.h"
#include "base/Exception.h"
#include "base/PeriodicTimer.h"
#include "status/StatusBoard.h"

namespace duz {

void TShutdownTimers::Start(const TComponent* owner, std::chrono::milliseconds period,
                            std::function<void()> onExpiry) {
  TEventLoop* loop = TEventLoop::Current();
  if (!loop) throw Exception("No event loop on this thread for the shutdown timer");
  std::erase_if(FTimers, [](const TTimer& entry) { return entry.Timer.expired(); });
  FTimers.push_back(
      {owner, TPeriodicTimer::Start(*loop, period, std::move(onExpiry)), MonotonicNow() + period});
  ShowDue();
}

void TShutdownTimers::Stop(const TComponent* owner) {
  const auto mine = [owner](const TTimer& entry) { return !owner || entry.Owner == owner; };
  for (const TTimer& entry : FTimers)
    if (auto timer = entry.Timer.lock(); timer && mine(entry)) timer->Stop();
  std::erase_if(FTimers, mine);
  ShowDue();
}

int TShutdownTimers::Running() const {
  return static_cast<int>(std::count_if(FTimers.begin(), FTimers.end(), [](const TTimer& entry) {
    const auto timer = entry.Timer.lock();
    return timer && timer->IsRunning();
  }));
}

void TShutdownTimers::ShowDue() {
  std::optional<TMonotonicTime> due;
  for (const TTimer& entry : FTimers) {
    const auto timer = entry.Timer.lock();
    if (timer && timer->IsRunning()) due = std::min(due.value_or(entry.Due), entry.Due);
  }
  FBoard.SetShutdownDue(due);
}

}  // namespace duz
