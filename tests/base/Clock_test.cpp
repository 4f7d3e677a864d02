#include "base/Clock.h"

#include <gtest/gtest.h>

#include <chrono>

#include "base/DateTime.h"

namespace duz {
namespace {

TEST(Clock, TestClockMovesBothClocksOrTheWallClockAloneThenReturnsToTheRealClocks) {
  using namespace std::chrono_literals;
  TDateTime start = EncodeDate(2026, 12, 7) + EncodeTime(14, 5, 0, 0);
  TestClock::Set(start);
  const TMonotonicTime monotonic = MonotonicNow();
  EXPECT_EQ(Now(), start);
  TestClock::Advance(30);
  EXPECT_DOUBLE_EQ(Now(), start + 1 / 2880.0);
  EXPECT_EQ(MonotonicNow() - monotonic, 30s);
  TestClock::StepWall(-60);
  EXPECT_DOUBLE_EQ(Now(), start - 1 / 2880.0);
  EXPECT_EQ(MonotonicNow() - monotonic, 30s) << "a step of the wall clock moved the monotonic clock";
  TestClock::Reset();
  EXPECT_GT(Now(), EncodeDate(2025, 1, 1));
  TDateTime real = Now();
  TestClock::Advance(3600);
  EXPECT_NEAR(Now(), real + 1 / 24.0, 1 / SecondsPerDay);
  TestClock::Reset();
}

TEST(Clock, PauseMovesASetClockInsteadOfWaiting) {
  const TDateTime start = EncodeDate(2026, 12, 7);
  TestClock::Set(start);
  const TMonotonicTime monotonic = MonotonicNow();
  const auto before = std::chrono::steady_clock::now();
  Pause(std::chrono::hours(2));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  EXPECT_DOUBLE_EQ(Now(), start + 2 / 24.0);
  EXPECT_EQ(MonotonicNow() - monotonic, std::chrono::hours(2)) << "delays run on the monotonic clock";
  TestClock::Reset();
}

}  // namespace
}  // namespace duz
