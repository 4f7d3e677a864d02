#include "base/Clock.h"

#include <mutex>
#include <optional>

namespace duz {
namespace {

using std::chrono::steady_clock;

std::mutex ClockLock;
// Guarded by ClockLock; empty: the real clock.
std::optional<TDateTime> FixedWall;
std::optional<TMonotonicTime> FixedMonotonic;

TDateTime RealNow() { return ToLocalDateTime(std::chrono::system_clock::now()); }

}  // namespace

TDateTime Now() {
  std::lock_guard lock(ClockLock);
  return FixedWall ? *FixedWall : RealNow();
}

TMonotonicTime MonotonicNow() {
  std::lock_guard lock(ClockLock);
  return FixedMonotonic ? *FixedMonotonic : steady_clock::now();
}

namespace TestClock {

void Set(TDateTime value) {
  std::lock_guard lock(ClockLock);
  FixedWall = value;
  if (!FixedMonotonic) FixedMonotonic = steady_clock::now();
}

void Advance(double seconds) {
  std::lock_guard lock(ClockLock);
  FixedWall = (FixedWall ? *FixedWall : RealNow()) + seconds / SecondsPerDay;
  FixedMonotonic = (FixedMonotonic ? *FixedMonotonic : steady_clock::now()) +
                   std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double>(seconds));
}

void StepWall(double seconds) {
  std::lock_guard lock(ClockLock);
  FixedWall = (FixedWall ? *FixedWall : RealNow()) + seconds / SecondsPerDay;
}

void Reset() {
  std::lock_guard lock(ClockLock);
  FixedWall.reset();
  FixedMonotonic.reset();
}

}  // namespace TestClock
}  // namespace duz
