// FormatDateTime with any format and any date: a date of the years 1 to 9999 always formats, any
// other value (NaN, infinities, far dates) is a range error; dates and times decode to what was
// encoded.
#include <cmath>
#include <string>

#include "base/Exception.h"
#include "base/FormatDateTime.h"
#include "base/RegionalSettings.h"
#include "fuzz/FuzzTarget.h"

namespace duz {
namespace {

// The defaults, a Czech-like set, and formats that name each other (nesting must end).
void UseSettings(int variant) {
  TRegionalSettings settings;
  if (variant == 1) {
    settings.DecimalSeparator = ',';
    settings.DateSeparator = '.';
    settings.ShortDateFormat = "d.m.yyyy";
    settings.LongTimeFormat = "h:nn:ss";
    settings.TimeAMString = "dop.";
    settings.TimePMString = "odp.";
  } else if (variant == 2) {
    settings.ShortDateFormat = "c ddddd";
    settings.LongDateFormat = "dddddd";
    settings.LongTimeFormat = "tt c";
    settings.ShortTimeFormat = "t";
  }
  SetRegionalSettings(settings);
}

void CheckEncodeDecode(FuzzedDataProvider& input) {
  const int year = input.ConsumeIntegralInRange(1, 9999), month = input.ConsumeIntegralInRange(1, 12);
  const int day = input.ConsumeIntegralInRange(1, 31);
  const int hour = input.ConsumeIntegralInRange(0, 23), minute = input.ConsumeIntegralInRange(0, 59);
  const int second = input.ConsumeIntegralInRange(0, 59), ms = input.ConsumeIntegralInRange(0, 999);
  TDateTime date;
  try {
    date = EncodeDate(year, month, day);
  } catch (const ERangeError&) {
    FUZZ_CHECK(day > 28);  // only days past the end of a month do not exist
    return;
  }
  const TDateTime value = date + (date < 0 ? -1 : 1) * EncodeTime(hour, minute, second, ms);
  const TDateParts d = DecodeDate(value);
  const TTimeParts t = DecodeTime(value);
  FUZZ_CHECK(d.Year == year && d.Month == month && d.Day == day);
  FUZZ_CHECK(t.Hour == hour && t.Minute == minute && t.Second == second && t.MilliSecond == ms);
}

void CheckFormat(const std::string& format, TDateTime value) {
  const bool inRange = value > EncodeDate(1, 1, 1) - 1 && value < EncodeDate(9999, 12, 31) + 1;
  try {
    const std::string text = FormatDateTime(format, value);
    FUZZ_CHECK(inRange);
    FUZZ_CHECK(text.size() <= 64 * format.size() + 4096);
  } catch (const ERangeError&) {
    // Rounding to the millisecond may carry the last moment of 9999 into year 10000.
    FUZZ_CHECK(!inRange || value > EncodeDate(9999, 12, 31));
  }
}

}  // namespace
}  // namespace duz

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) {
  duz::UseSettings(input.ConsumeIntegralInRange(0, 2));
  duz::CheckEncodeDecode(input);
  const double value = input.ConsumeBool() ? input.ConsumeFloatingPoint<double>()
                                           : input.ConsumeFloatingPointInRange<double>(-693594, 2958466);
  duz::CheckFormat(input.ConsumeRemainingBytesAsString(), value);
}
