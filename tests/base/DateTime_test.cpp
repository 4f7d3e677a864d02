#include "base/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/Exception.h"
#include "support/Env.h"

namespace duz {
namespace {

TEST(DateTime, EncodeDateCountsDaysFrom18991230) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2026, 12, 7), 46363.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
}

TEST(DateTime, DecodeDateRoundTripsAndNamesTheWeekday) {
  for (TDateTime day = EncodeDate(1, 1, 1); day <= EncodeDate(9999, 12, 31); day += 997) {
    TDateParts parts = DecodeDate(day);
    EXPECT_EQ(EncodeDate(parts.Year, parts.Month, parts.Day), day);
  }
  TDateParts monday = DecodeDate(EncodeDate(2026, 12, 7));
  EXPECT_EQ(monday.DayOfWeek, 2);
  EXPECT_EQ(DecodeDate(EncodeDate(2024, 2, 29)).Day, 29);
}

TEST(DateTime, RejectsImpossibleDatesAndTimes) {
  struct Row {
    const char* Label;
    int Y, M, D;
  } dates[] = {{"month 13", 2026, 13, 1}, {"month 0", 2026, 0, 1},      {"day 0", 2026, 1, 0},
               {"31 April", 2026, 4, 31}, {"29 Feb 2026", 2026, 2, 29}, {"29 Feb 1900", 1900, 2, 29},
               {"year 0", 0, 1, 1},       {"year 10000", 10000, 1, 1}};
  for (const Row& row : dates) {
    SCOPED_TRACE(row.Label);
    try {
      EncodeDate(row.Y, row.M, row.D);
      ADD_FAILURE() << "no error";
    } catch (const ERangeError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to date encode");
    }
  }
  struct TimeRow {
    const char* Label;
    int H, N, S, Z;
  } times[] = {{"hour 24", 24, 0, 0, 0},
               {"minute 60", 0, 60, 0, 0},
               {"second 60", 0, 0, 60, 0},
               {"ms 1000", 0, 0, 0, 1000},
               {"negative minute", 0, -1, 0, 0}};
  for (const TimeRow& row : times) {
    SCOPED_TRACE(row.Label);
    try {
      EncodeTime(row.H, row.N, row.S, row.Z);
      ADD_FAILURE() << "no error";
    } catch (const ERangeError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to time encode");
    }
  }
  EXPECT_DOUBLE_EQ(EncodeTime(0, 59, 0, 0), 59 / MinutesPerDay);
}

TEST(DateTime, DecodeTimeRoundsToTheMillisecondAndCarriesIntoTheNextDay) {
  TDateTime value = EncodeDate(2026, 12, 7) + EncodeTime(22, 5, 52, 123);
  TTimeParts time = DecodeTime(value);
  EXPECT_EQ(time.Hour, 22);
  EXPECT_EQ(time.Minute, 5);
  EXPECT_EQ(time.Second, 52);
  EXPECT_EQ(time.MilliSecond, 123);

  // A hair before midnight is midnight of the next day, in both the date and the time.
  TDateTime almostMidnight = EncodeDate(2026, 12, 31) + 1 - 1e-10;
  EXPECT_EQ(DecodeTime(almostMidnight).Hour, 0);
  EXPECT_EQ(DecodeDate(almostMidnight).Year, 2027);
  EXPECT_EQ(DateOf(almostMidnight), EncodeDate(2027, 1, 1));
}

// Found by fuzzing: such values were undefined behaviour in the conversion to whole days.
TEST(DateTime, DecodersRejectValuesOutsideTheYears1To9999) {
  const struct {
    const char* Label;
    TDateTime Value;
  } rows[] = {
      {"NaN", std::nan("")},
      {"Infinity", HUGE_VAL},
      {"MinusInfinity", -HUGE_VAL},
      {"FarFuture", 1e20},
      {"FarPast", -1e20},
      {"Year10000", EncodeDate(9999, 12, 31) + 1},
      {"LastMillisecondRoundsIntoYear10000", EncodeDate(9999, 12, 31) + 1 - 1e-10},
      {"Year0", EncodeDate(1, 1, 1) - 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    EXPECT_THROW(DecodeDate(row.Value), ERangeError);
    EXPECT_THROW(DecodeTime(row.Value), ERangeError);
    EXPECT_THROW(DateOf(row.Value), ERangeError);
  }
  EXPECT_EQ(DecodeDate(EncodeDate(1, 1, 1) - 0.5).Year, 1) << "0001-01-01 12:00";
  EXPECT_EQ(DecodeDate(EncodeDate(9999, 12, 31) + 0.999).Year, 9999);
}

TEST(DateTime, NegativeValuesKeepTheirTimeOfDayAsTheFractionMagnitude) {
  TDateParts date = DecodeDate(-1.25);
  EXPECT_EQ(date.Day, 29);
  EXPECT_EQ(DecodeTime(-1.25).Hour, 6);
}

TEST(DateTime, LocalConversionsFollowTheTimeZoneIncludingSummerTime) {
  test::TScopedZone zone("Europe/Prague");
  using namespace std::chrono;
  // 2026-07-01 10:00:00.250 UTC is 12:00:00.250 summer time in Prague.
  auto summer = sys_days{2026y / July / 1} + 10h + 250ms;
  TDateTime local = ToLocalDateTime(summer);
  EXPECT_EQ(DateOf(local), EncodeDate(2026, 7, 1));
  TTimeParts time = DecodeTime(local);
  EXPECT_EQ(time.Hour, 12);
  EXPECT_EQ(time.MilliSecond, 250);
  EXPECT_EQ(FromLocalDateTime(local), summer);
  EXPECT_EQ(UtcOffsetMinutes(local), 120);
  EXPECT_EQ(UtcOffsetMinutes(EncodeDate(2026, 12, 7) + 0.5), 60);
}

TEST(DateTime, LocalConversionsHandleTimesBefore1970) {
  test::TScopedZone zone("UTC");
  using namespace std::chrono;
  auto before = sys_days{1969y / December / 31} + 23h + 59min + 59s + 500ms;
  TDateTime local = ToLocalDateTime(before);
  EXPECT_EQ(DateOf(local), EncodeDate(1969, 12, 31));
  EXPECT_EQ(DecodeTime(local).MilliSecond, 500);
  EXPECT_EQ(FromLocalDateTime(local), before);
}

}  // namespace
}  // namespace duz
