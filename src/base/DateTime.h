#pragma once
// TDateTime: a local date-time as days since 1899-12-30 00:00, the time of day being the fraction.
#include <chrono>
#include <cstdint>
#include <string>

namespace duz {

using TDateTime = double;

constexpr double MinutesPerDay = 1440.0;
constexpr double SecondsPerDay = 86400.0;
constexpr double MSecsPerDay = 86400000.0;

struct TDateParts {
  int Year, Month, Day;  // Month 1..12, Day 1..31
  int DayOfWeek;         // 1 = Sunday .. 7 = Saturday
};
struct TTimeParts {
  int Hour, Minute, Second, MilliSecond;
};

// Raises ERangeError "Invalid argument to time encode" outside 0..23, 0..59, 0..59, 0..999.
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
// Raises ERangeError "Invalid argument to date encode" for a date that does not exist.
TDateTime EncodeDate(int year, int month, int day);
// The decoders raise ERangeError "Invalid argument to date decode" for a value outside the years
// 1 to 9999 (and for NaN).
TDateParts DecodeDate(TDateTime value);
// Rounded to the nearest millisecond.
TTimeParts DecodeTime(TDateTime value);
// Whole days of a date-time (the calendar day it belongs to).
int32_t DateOf(TDateTime value);
// Whole minutes since 1899-12-30 00:00 (the minute a date-time falls into).
int64_t MinuteOf(TDateTime value);

// Conversions between the system clock and local TDateTime (through the time zone of the process).
TDateTime ToLocalDateTime(std::chrono::system_clock::time_point time);
std::chrono::system_clock::time_point FromLocalDateTime(TDateTime value);
// Offset of local time from UTC at that moment, in minutes (east positive).
int UtcOffsetMinutes(TDateTime value);
// ISO 8601 with milliseconds, without an offset: 2026-12-08T22:05:52.123.
std::string IsoDateTime(TDateTime value);

}  // namespace duz
