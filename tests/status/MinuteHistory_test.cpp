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
  EXPECT_FLOAT_EQ(points[0].Mean, 21.3f) << "a past minute is kept in tenths of a degree";
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

// Each row adds its readings and reads the points at the minute of its last one.
TEST(MinuteHistoryTest, ThePointsOfPastAndCurrentMinutes) {
  const int64_t t = MinuteOf(Noon);
  const int64_t wrap = int64_t{65536} * TMinuteHistory::Capacity;  // the day tag is 0 again
  struct TRow {
    const char* Label;
    std::vector<std::pair<int64_t, float>> Readings;
    std::vector<TMinutePoint> Expected;
  };
  const TRow rows[] = {
      {"past minute in tenths", {{t, 20.04f}, {t, 20.27f}, {t + 1, 0}}, {{t, 20, 20.2f, 20.3f}, {t + 1}}},
      {"current minute exact", {{t, 20.04f}, {t, 20.27f}}, {{t, 20.04f, (20.04f + 20.27f) / 2, 20.27f}}},
      {"beyond 16 bits", {{t, 5e3f}, {t, -1e9f}, {t + 1, 0}}, {{t, -3276.7f, 0, 3276.7f}, {t + 1}}},
      {"day-old slot replaced",
       {{t, 10}, {t + 1440, 30}, {t + 1441, 0}},
       {{t + 1440, 30, 30, 30}, {t + 1441}}},
      {"clock set back: kept mean as one reading",
       {{t, 10}, {t, 20}, {t + 1, 0}, {t, 30}},
       {{t, 10, 22.5f, 30}}},
      {"day tag wraps",
       {{wrap - 1, 1}, {wrap, 2}, {wrap + 1, 0}},
       {{wrap - 1, 1, 1, 1}, {wrap, 2, 2, 2}, {wrap + 1}}},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Label);
    TMinuteHistory history;
    for (const auto& [minute, value] : row.Readings)
      history.Add(static_cast<double>(minute) / MinutesPerDay, value);
    const std::vector<TMinutePoint> points =
        history.Points(static_cast<double>(row.Readings.back().first) / MinutesPerDay);
    ASSERT_EQ(points.size(), row.Expected.size());
    for (size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(points[i].Minute, row.Expected[i].Minute);
      EXPECT_FLOAT_EQ(points[i].Min, row.Expected[i].Min);
      EXPECT_FLOAT_EQ(points[i].Mean, row.Expected[i].Mean);
      EXPECT_FLOAT_EQ(points[i].Max, row.Expected[i].Max);
    }
  }
}

}  // namespace
}  // namespace duz
