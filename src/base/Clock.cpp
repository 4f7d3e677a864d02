#include "base/Clock.h"

#include <mutex>
#include <optional>
#include <thread>

namespace duz {
namespace {

using std::chrono::steady_clock;

std::mutex ClockLock;
// Guarded by ClockLock; empty: the real clock.
std::optional<TDateTime> FixedWall;
std::optional<TMonotonicTime> FixedMonotonic;

TDateTime RealNow() { return ToLocalDateTime(std::chrono::system_clock::now()); }

// Both clocks forward, as time passing does; ClockLock is held.
void AdvanceFixed(double seconds) {
  FixedWall = (FixedWall ? *FixedWall : RealNow()) + seconds / SecondsPerDay;
  FixedMonotonic = (FixedMonotonic ? *FixedMonotonic : steady_clock::now()) +
                   std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

TDateTime Now() {
  std::lock_guard lock(ClockLock);
  return FixedWall ? *FixedWall : RealNow();
}

TMonotonicTime MonotonicNow() {
  std::lock_guard lock(ClockLock);
  return FixedMonotonic ? *FixedMonotonic : steady_clock::now();
}

void Pause(std::chrono::milliseconds time, const TStopSignal* stop) {
  {
    std::lock_guard lock(ClockLock);
    if (FixedWall || FixedMonotonic) {
      AdvanceFixed(std::chrono::duration<double>(time).count());
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
  FixedWall = value;
  if (!FixedMonotonic) FixedMonotonic = steady_clock::now();
}

void Advance(double seconds) {
  std::lock_guard lock(ClockLock);
  AdvanceFixed(seconds);
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
