#pragma once
// The program's two clocks. Now() is the local date-time: for names, stamps and dates.
// MonotonicNow() never jumps: ages of progress are measured on it, so that a step of the wall clock
// (the end of summer time, a clock set at boot) makes nothing look stale or fresh. Tests set both,
// so that 30-second, 1-minute and 20-tick behaviours are tested without waiting. Thread-safe.
// Sleeps and the event loop's timers are not affected.
#include <chrono>

#include "base/DateTime.h"

namespace duz {

using TMonotonicTime = std::chrono::steady_clock::time_point;

TDateTime Now();
TMonotonicTime MonotonicNow();

namespace TestClock {
// From now on both clocks stand still until changed again: Now() returns value, MonotonicNow()
// where it was.
void Set(TDateTime value);
// Moves both clocks by the given number of seconds, as time passing does (negative: back); a real
// clock becomes fixed.
void Advance(double seconds);
// Back to the real clocks.
void Reset();
}  // namespace TestClock

}  // namespace duz
