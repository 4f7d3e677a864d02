#include "base/Clock.h"

#include <optional>
#include <thread>

#include "base/MutexLock.h"

namespace duz {
namespace {

using std::chrono::steady_clock;

TMutex ClockLock;
// Empty: the real clock.
std::optional<TDateTime> FixedWall GUARDED_BY(ClockLock);
std::optional<TMonotonicTime> FixedMonotonic GUARDED_BY(ClockLock);

TDateTime RealNow() { return ToLocalDateTime(std::chrono::system_clock::now()); }

// Both clocks forward, as time passing does.
void AdvanceFixed(double seconds) REQUIRES(ClockLock) {
  FixedWall = (FixedWall ? *FixedWall : RealNow()) + seconds / SecondsPerDay;
  FixedMonotonic = (FixedMonotonic ? *FixedMonotonic : steady_clock::now()) +
                   std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

TDateTime Now() {
  TMutexLock lock(ClockLock);
  return FixedWall ? *FixedWall : RealNow();
}

std::chrono::system_clock::time_point SystemNow() {
  TMutexLock lock(ClockLock);
  return FixedWall ? FromLocalDateTime(*FixedWall) : std::chrono::system_clock::now();
}

TMonotonicTime MonotonicNow() {
  TMutexLock lock(ClockLock);
  return FixedMonotonic ? *FixedMonotonic : steady_clock::now();
}

void Pause(std::chrono::milliseconds time, const TStopSignal* stop) {
  {
    TMutexLock lock(ClockLock);
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
  TMutexLock lock(ClockLock);
  FixedWall = value;
  if (!FixedMonotonic) FixedMonotonic = steady_clock::now();
}

void Advance(double seconds) {
  TMutexLock lock(ClockLock);
  AdvanceFixed(seconds);
}

void StepWall(double seconds) {
  TMutexLock lock(ClockLock);
  FixedWall = (FixedWall ? *FixedWall : RealNow()) + seconds / SecondsPerDay;
}

void Reset() {
  TMutexLock lock(ClockLock);
  FixedWall.reset();
  FixedMonotonic.reset();
}

}  // namespace TestClock
}  // namespace duz
