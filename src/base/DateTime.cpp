#include "base/DateTime.h"

#include <fmt/format.h>

#include <cmath>
#include <ctime>

#include "base/Exception.h"

namespace duz {
namespace {

using namespace std::chrono;

// 1899-12-30, day 0 of TDateTime, counted from 1970-01-01.
constexpr int DateDelta = -25569;
constexpr int64_t MSecsPerDayInt = 86400000;
// 0001-01-01 and 9999-12-31: the days a date-time can name.
constexpr int64_t FirstDay = -693593;
constexpr int64_t LastDay = 2958465;

// The calendar day and the millisecond of that day. A negative value keeps its time of day as the
// magnitude of the fraction (-1.25 is 1899-12-29 06:00); rounding up to a whole day carries over.
struct TDayAndTime {
  int64_t Day;
  int64_t MSec;
};

TDayAndTime Split(TDateTime value) {
  // Checked before the conversion to whole days, which is undefined for NaN and huge values.
  if (!(value > FirstDay - 1 && value < LastDay + 1)) throw ERangeError("Invalid argument to date decode");
  double whole = 0;
  double fraction = std::modf(value, &whole);
  TDayAndTime result{static_cast<int64_t>(whole),
                     static_cast<int64_t>(std::llround(std::fabs(fraction) * MSecsPerDay))};
  if (result.MSec >= MSecsPerDayInt) {
    ++result.Day;
    result.MSec -= MSecsPerDayInt;
  }
  if (result.Day > LastDay) throw ERangeError("Invalid argument to date decode");
  return result;
}

year_month_day CivilDate(int64_t day) { return year_month_day{sys_days{days{day + DateDelta}}}; }

std::tm LocalTm(std::time_t seconds) {
  std::tm local{};
  if (!localtime_r(&seconds, &local)) throw ERangeError("Time out of the range of local time");
  return local;
}

}  // namespace

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999)
    throw ERangeError("Invalid argument to time encode");
  return (((hour * 60 + minute) * 60 + second) * 1000 + millisecond) / MSecsPerDay;
}

TDateTime EncodeDate(int year, int month, int day) {
  year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                      std::chrono::day{static_cast<unsigned>(day)}};
  if (year < 1 || year > 9999 || month < 1 || day < 1 || !date.ok())
    throw ERangeError("Invalid argument to date encode");
  return static_cast<double>(sys_days{date}.time_since_epoch().count() - DateDelta);
}

TDateParts DecodeDate(TDateTime value) {
  int64_t day = Split(value).Day;
  year_month_day date = CivilDate(day);
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())),
          static_cast<int>(weekday{sys_days{date}}.c_encoding()) + 1};
}

TTimeParts DecodeTime(TDateTime value) {
  int64_t ms = Split(value).MSec;
  return {static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
          static_cast<int>(ms % 1000)};
}

int32_t DateOf(TDateTime value) { return static_cast<int32_t>(Split(value).Day); }

int64_t MinuteOf(TDateTime value) {
  // Through whole milliseconds: 14:00 must not fall into 13:59 for a rounding error of the double.
  return std::llround(value * MSecsPerDay) / 60000;
}

TDateTime ToLocalDateTime(system_clock::time_point time) {
  auto ms = floor<milliseconds>(time).time_since_epoch().count();
  std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  std::tm local = LocalTm(seconds);
  int64_t secondOfDay = (local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec;
  int64_t msOfDay = secondOfDay * 1000 + (ms - static_cast<int64_t>(seconds) * 1000);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         static_cast<double>(msOfDay) / MSecsPerDay;
}

system_clock::time_point FromLocalDateTime(TDateTime value) {
  TDateParts date = DecodeDate(value);
  TTimeParts time = DecodeTime(value);
  std::tm local{};
  local.tm_year = date.Year - 1900;
  local.tm_mon = date.Month - 1;
  local.tm_mday = date.Day;
  local.tm_hour = time.Hour;
  local.tm_min = time.Minute;
  local.tm_sec = time.Second;
  local.tm_isdst = -1;  // let the time zone decide whether summer time applies
  std::time_t seconds = std::mktime(&local);
  return system_clock::time_point{
      duration_cast<system_clock::duration>(std::chrono::seconds{seconds} + milliseconds{time.MilliSecond})};
}

int UtcOffsetMinutes(TDateTime value) {
  return static_cast<int>(LocalTm(system_clock::to_time_t(FromLocalDateTime(value))).tm_gmtoff / 60);
}

std::string IsoDateTime(TDateTime value) {
  const TDateParts date = DecodeDate(value);
  const TTimeParts clock = DecodeTime(value);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}", date.Year, date.Month, date.Day, clock.Hour,
                     clock.Minute, clock.Second, clock.MilliSecond);
}

}  // namespace duz
