#pragma once
// The program's two clocks. Now() is the local date-time: for names, stamps and dates only.
// MonotonicNow() never jumps: delays and periods run on it, so that a step of the wall clock (the end
// of summer time, a clock set at boot) neither pauses nor hurries them. Tests set both, so that
// 30-second, 1-minute and 20-tick behaviours are tested without waiting, and can step the wall
// clock alone. Thread-safe. The event loop's timers are not affected.
#include <chrono>

#include "base/DateTime.h"
#include "base/StopSignal.h"

namespace duz {

using TMonotonicTime = std::chrono::steady_clock::time_point;

TDateTime Now();
TMonotonicTime MonotonicNow();
// The wall clock as the system keeps it (UTC), following Now(): for times that another process, a
// later run of the program, must read the same way.
std::chrono::system_clock::time_point SystemNow();
// Waits for the given time, or less when stop (if given) is raised. While a test has set the
// clocks, advances both instead and returns at once, so that a configured pause costs a test no
// time.
void Pause(std::chrono::milliseconds time, const TStopSignal* stop = nullptr);

namespace TestClock {
// From now on both clocks stand still until changed again: Now() returns value, MonotonicNow()
// where it was.
void Set(TDateTime value);
// Moves both clocks forward by the given number of seconds, as time passing does; a real clock
// becomes fixed.
void Advance(double seconds);
// Moves the wall clock alone (negative: back), as a clock set by hand or a change of summer time
// does; a real wall clock becomes fixed.
void StepWall(double seconds);
// Back to the real clocks.
void Reset();
}  // namespace TestClock

}  // namespace duz
