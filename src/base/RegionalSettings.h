#pragma once
// Regional settings: separators, date and time formats and names used by FormatDateTime and the
// number formats. Taken from the process locale at start (FromLocale after setlocale), then
// overridden from the registry (LoadRegionalSettings in config/Registry.h). Any thread reads them;
// setting them publishes a whole new set at once, so a reader never sees half of each.
#include <array>
#include <string>
#include <string_view>

namespace duz {

struct TRegionalSettings {
  char DecimalSeparator = '.';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "dd/mm/yyyy";  // in FormatDateTime syntax
  std::string LongDateFormat = "dddd, d mmmm yyyy";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};

  // Settings of the current C locale (LC_NUMERIC, LC_TIME), translated to FormatDateTime syntax.
  static TRegionalSettings FromLocale();

  bool operator==(const TRegionalSettings&) const = default;
};

// A strftime(3) format in FormatDateTime syntax (%d.%m.%Y gives dd.mm.yyyy); letters of the
// literal text are quoted. Without seconds, %S goes together with the separator before it.
std::string TranslateStrftime(std::string_view format, bool withSeconds = true);

// The settings in force. Defaults to the values above until SetRegionalSettings is called.
const TRegionalSettings& RegionalSettings();
void SetRegionalSettings(const TRegionalSettings& settings);

}  // namespace duz
