#include "base/FormatDateTime.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "base/RegionalSettings.h"
#include "base/Text.h"

namespace duz {
namespace {

bool IsAmPmSpecifier(std::string_view text) {
  return StartsWithNoCase(text, "am/pm") || StartsWithNoCase(text, "a/p") || StartsWithNoCase(text, "ampm");
}

// An hour is on the 12-hour clock when the next a (outside quotes, before another h) starts an
// am/pm specifier.
bool TwelveHourClockFollows(std::string_view rest) {
  char quote = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == 'a' || c == 'A') {
      return IsAmPmSpecifier(rest.substr(i));
    } else if (c == 'h' || c == 'H') {
      return false;
    }
  }
  return false;
}

class TDateTimeWriter {
 public:
  explicit TDateTimeWriter(TDateTime value)
      : FSettings(RegionalSettings()), FDate(DecodeDate(value)), FTime(DecodeTime(value)) {}

  // Regional formats may name other formats (c, ddddd, t...); two levels are enough and keep a
  // format that names itself from recursing without end.
  void Write(std::string_view format, int depth = 0) {
    char lastLetter = 0;
    size_t i = 0;
    while (i < format.size()) {
      char first = format[i];
      char token = UpperCase(first);
      size_t count = 1;
      // ASCII letters only: the bytes of a UTF-8 text in a format are copied, whatever the locale.
      if (IsAsciiLetter(first)) {
        while (i + count < format.size() && UpperCase(format[i + count]) == token) ++count;
        if (token == 'M' && lastLetter == 'H') token = 'N';
        lastLetter = token;
      }
      std::string_view rest = format.substr(i);
      i += count;
      switch (token) {
        case 'C':
          WriteNested(FSettings.ShortDateFormat, depth);
          if (FTime.Hour || FTime.Minute || FTime.Second || FTime.MilliSecond) {
            FResult += ' ';
            WriteNested(FSettings.LongTimeFormat, depth);
          }
          break;
        case 'D':
          if (count <= 2)
            Number(FDate.Day, std::min<size_t>(count, 2));
          else if (count == 3)
            FResult += FSettings.ShortDayNames[FDate.DayOfWeek - 1];
          else if (count == 4)
            FResult += FSettings.LongDayNames[FDate.DayOfWeek - 1];
          else if (count == 5)
            WriteNested(FSettings.ShortDateFormat, depth);
          else
            WriteNested(FSettings.LongDateFormat, depth);
          break;
        case 'E':  // no regional eras: the era year is the year
          Number(FDate.Year, std::min<size_t>(count, 2));
          break;
        case 'G':  // no regional eras: no era name
          break;
        case 'M':
          if (count <= 2)
            Number(FDate.Month, std::min<size_t>(count, 2));
          else if (count == 3)
            FResult += FSettings.ShortMonthNames[FDate.Month - 1];
          else
            FResult += FSettings.LongMonthNames[FDate.Month - 1];
          break;
        case 'Y':
          if (count <= 2)
            Number(FDate.Year % 100, 2);
          else
            Number(FDate.Year, 4);
          break;
        case 'H': {
          int hour = FTime.Hour;
          if (TwelveHourClockFollows(format.substr(i))) hour = hour == 0 ? 12 : hour > 12 ? hour - 12 : hour;
          Number(hour, std::min<size_t>(count, 2));
          break;
        }
        case 'N':
          Number(FTime.Minute, std::min<size_t>(count, 2));
          break;
        case 'S':
          Number(FTime.Second, std::min<size_t>(count, 2));
          break;
        case 'Z':
          Number(FTime.MilliSecond, count == 1 ? 1 : 3);
          break;
        case 'T':
          WriteNested(count == 1 ? FSettings.ShortTimeFormat : FSettings.LongTimeFormat, depth);
          break;
        case 'A':
          i = i - count + AmPm(rest);
          break;
        case '/':
          FResult += FSettings.DateSeparator;
          break;
        case ':':
          FResult += FSettings.TimeSeparator;
          break;
        case '\'':
        case '"': {
          size_t end = format.find(first, i);
          if (end == std::string_view::npos) end = format.size();  // unclosed: quoted to the end
          FResult += format.substr(i, end - i);
          i = std::min(end + 1, format.size());
          break;
        }
        default:
          FResult += rest.substr(0, count);
          break;
      }
    }
  }

  std::string Result() && { return std::move(FResult); }

 private:
  void WriteNested(const std::string& format, int depth) {
    if (depth < 2) Write(format, depth + 1);
  }

  void Number(int value, size_t digits) {
    fmt::format_to(std::back_inserter(FResult), "{:0{}}", value, digits);
  }

  // Writes the am/pm specifier at the start of text and returns its length; an a that starts none
  // is copied as it is.
  size_t AmPm(std::string_view text) {
    bool pm = FTime.Hour >= 12;
    if (StartsWithNoCase(text, "am/pm")) {
      FResult += text.substr(pm ? 3 : 0, 2);
      return 5;
    }
    if (StartsWithNoCase(text, "a/p")) {
      FResult += text[pm ? 2 : 0];
      return 3;
    }
    if (StartsWithNoCase(text, "ampm")) {
      FResult += pm ? FSettings.TimePMString : FSettings.TimeAMString;
      return 4;
    }
    FResult += text[0];
    return 1;
  }

  const TRegionalSettings& FSettings;
  TDateParts FDate;
  TTimeParts FTime;
  std::string FResult;
};

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value) {
  TDateTimeWriter writer(value);
  writer.Write(format.empty() ? "c" : format);
  return std::move(writer).Result();
}

}  // namespace duz
