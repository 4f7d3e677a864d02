#pragma once
// The program's clock. Now() is the local date-time; tests set it, so that 30-second, 1-minute and
// 20-tick behaviours are tested without waiting. Thread-safe. Timers are not affected.
#include <chrono>

#include "base/DateTime.h"
#include "base/StopSignal.h"

namespace duz {

TDateTime Now();
// Waits for the given time, or less when stop (if given) is raised. While a test has set the
// clock, advances it instead and returns at once, so that a configured pause costs a test no time.
void Pause(std::chrono::milliseconds time, const TStopSignal* stop = nullptr);

namespace TestClock {
// From now on Now() returns value (it stands still until changed again).
void Set(TDateTime value);
// Moves the clock by the given number of seconds (negative: back); a real clock becomes fixed.
void Advance(double seconds);
// Back to the real clock.
void Reset();
}  // namespace TestClock

}  // namespace duz
