#include "base/Clock.h"

#include <mutex>
#include <optional>

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
