#pragma once
// The program's clock. Now() is the local date-time; tests set it, so that 30-second, 1-minute and
// 20-tick behaviours are tested without waiting. Thread-safe. Sleeps and timers are not affected.
#include "base/DateTime.h"

namespace duz {

TDateTime Now();

namespace TestClock {
// From now on Now() returns value (it stands still until changed again).
void Set(TDateTime value);
// Moves the clock by the given number of seconds (negative: back); a real clock becomes fixed.
void Advance(double seconds);
// Back to the real clock.
void Reset();
}  // namespace TestClock

}  // namespace duz
