#include "base/Clock.h"

#include <mutex>
#include <optional>
#include <thread>

namespace duz {
namespace {

std::mutex ClockLock;
std::optional<TDateTime> FixedTime;  // guarded by ClockLock; empty: the real clock

TDateTime RealNow() { return ToLocalDateTime(std::chrono::system_clock::now()); }

}  // namespace

TDateTime Now() {
  std::lock_guard lock(ClockLock);
  return FixedTime ? *FixedTime : RealNow();
}

void Pause(std::chrono::milliseconds time, const TStopSignal* stop) {
  {
    std::lock_guard lock(ClockLock);
    if (FixedTime) {
      *FixedTime += static_cast<double>(time.count()) / MSecsPerDay;
      return;
    }
  }
  if (stop)
    stop->WaitFor(time);
  else
    std::this_thread::sleep_for(time);
}

namespace TestClock {

void Set(TDateTime value) {
  std::lock_guard lock(ClockLock);
  FixedTime = value;
}

void Advance(double seconds) {
  std::lock_guard lock(ClockLock);
  FixedTime = (FixedTime ? *FixedTime : RealNow()) + seconds / SecondsPerDay;
}

void Reset() {
  std::lock_guard lock(ClockLock);
  FixedTime.reset();
}

}  // namespace TestClock
}  // namespace duz
