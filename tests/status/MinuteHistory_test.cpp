#include "status/MinuteHistory.h"

#include <gtest/gtest.h>

namespace duz {
namespace {

constexpr double Minute = 1.0 / MinutesPerDay;
const TDateTime Noon = EncodeDate(2026, 12, 7) + EncodeTime(12, 0, 0, 0);

TEST(MinuteHistoryTest, EachMinuteKeepsItsLowestMeanAndHighestReading) {
  TMinuteHistory history;
  history.Add(Noon, 20);
  history.Add(Noon + 30.0 / SecondsPerDay, 23);
  history.Add(Noon + 59.999 / SecondsPerDay, 21);  // still the same minute
  history.Add(Noon + Minute, 25);
  const std::vector<TMinutePoint> points = history.Points(Noon + Minute);
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0].Time(), Noon) << "12:00 must not be taken for 11:59 by a rounding of the date-time";
  EXPECT_FLOAT_EQ(points[0].Min, 20);
  EXPECT_FLOAT_EQ(points[0].Mean, 64.0f / 3);
  EXPECT_FLOAT_EQ(points[0].Max, 23);
  EXPECT_FLOAT_EQ(points[1].Mean, 25);

  history.Add(Noon + 1'500'000, 99);  // the same minute of the day, beyond the year 5900
  EXPECT_FLOAT_EQ(history.Points(Noon + Minute)[0].Max, 23) << "a reading the slot cannot date takes no slot";
}

// The ring holds exactly one day: a new day's minute takes the slot of the same minute the day
// before (without joining its readings), and the window ends at now whatever the slots still hold.
TEST(MinuteHistoryTest, TheWindowIsTheLastDayUpToNow) {
  TMinuteHistory history;
  for (int minute = 0; minute < 2 * TMinuteHistory::Capacity; ++minute)
    history.Add(Noon + minute * Minute, static_cast<float>(minute));
  const TDateTime last = Noon + (2 * TMinuteHistory::Capacity - 1) * Minute;

  std::vector<TMinutePoint> points = history.Points(last);
  ASSERT_EQ(points.size(), static_cast<size_t>(TMinuteHistory::Capacity));
  EXPECT_FLOAT_EQ(points.front().Min, TMinuteHistory::Capacity) << "the first day has been replaced";
  EXPECT_FLOAT_EQ(points.back().Mean, 2 * TMinuteHistory::Capacity - 1);

  points = history.Points(last + 60 * Minute);
  EXPECT_EQ(points.size(), static_cast<size_t>(TMinuteHistory::Capacity - 60))
      << "an hour later, an hour less";
  points = history.Points(last - 60 * Minute);
  EXPECT_EQ(points.back().Time(), last - 60 * Minute) << "minutes after now (a clock set back) are left out";
}

}  // namespace
}  // namespace duz
