#include "base/RegionalSettings.h"

#include <langinfo.h>

#include <algorithm>
#include <atomic>
#include <forward_list>

#include "base/MutexLock.h"
#include "base/Text.h"

namespace duz {
namespace {

// The first punctuation character of a translated format that is not a quote.
char SeparatorOf(std::string_view translated, char fallback) {
  for (char c : translated)
    if (c > ' ' && c < 127 && !IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '"' && c != '\'') return c;
  return fallback;
}

std::string Langinfo(nl_item item) { return nl_langinfo(item); }

// Every settings object ever made current stays alive, so that a reference that RegionalSettings()
// handed to another thread never dangles. Settings change only at start and in tests. Function
// statics, because the log writer may format times before main() runs.
std::atomic<const TRegionalSettings*> Current{nullptr};

const TRegionalSettings& Defaults() {
  static const TRegionalSettings defaults;
  return defaults;
}

}  // namespace

std::string TranslateStrftime(std::string_view format, bool withSeconds) {
  std::string result;
  size_t afterLastField = 0;  // where the literal text before the next field starts in result
  auto field = [&](std::string_view ours) {
    result += ours;
    afterLastField = result.size();
  };
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      if (IsAsciiLetter(c) || c == '\'' || c == '"') {
        result += c == '"' ? '\'' : '"';
        result += c;
        result += c == '"' ? '\'' : '"';
      } else {
        result += c;
      }
      continue;
    }
    // glibc's flags (- no padding, _ blanks, 0 zeros, ^ and # the case of names) and a width. Our
    // fields are padded with zeros or not at all, so "_" leaves the padding out too.
    char padding = 0;
    for (++i; i < format.size() && std::string_view("-_0^#").find(format[i]) != std::string_view::npos; ++i)
      if (format[i] != '^' && format[i] != '#') padding = format[i];
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    if (i == format.size()) break;
    char spec = format[i];
    if ((spec == 'E' || spec == 'O') && i + 1 < format.size()) spec = format[++i];
    // A number field: the zero-padded form, or the bare one that the flags or the field itself ask for.
    auto number = [&](std::string_view padded, bool bareByDefault = false) {
      const bool bare = padding == '-' || padding == '_' || (bareByDefault && padding != '0');
      field(bare ? padded.substr(0, 1) : padded);
    };
    switch (spec) {
      case 'd':
        number("dd");
        break;
      case 'e':
        number("dd", true);
        break;
      case 'm':
        number("mm");
        break;
      case 'b':
      case 'h':
        field("mmm");
        break;
      case 'B':
        field("mmmm");
        break;
      case 'a':
        field("ddd");
        break;
      case 'A':
        field("dddd");
        break;
      case 'y':
        field("yy");
        break;
      case 'Y':
      case 'G':
      case 'C':
        field("yyyy");
        break;
      case 'H':
      case 'k':
      case 'I':
      case 'l':
        number("hh");
        break;
      case 'M':
        number("nn");
        break;
      case 'S':
        if (withSeconds)
          number("ss");
        else
          result.resize(afterLastField);
        break;
      case 'p':
      case 'P':
        field("ampm");
        break;
      case 'D':
        field("mm/dd/yy");
        break;
      case 'F':
        field("yyyy-mm-dd");
        break;
      case 'R':
        field("hh:nn");
        break;
      case 'T':
        field(withSeconds ? "hh:nn:ss" : "hh:nn");
        break;
      case 'r':
        field(withSeconds ? "hh:nn:ss ampm" : "hh:nn ampm");
        break;
      case 'n':
        result += '\n';
        break;
      case 't':
        result += '\t';
        break;
      case '%':
        result += '%';
        break;
      default:
        break;  // time zones, week numbers and the like have no counterpart
    }
  }
  return result;
}

TRegionalSettings TRegionalSettings::FromLocale() {
  TRegionalSettings settings;
  std::string radix = Langinfo(RADIXCHAR);
  if (radix.size() == 1) settings.DecimalSeparator = radix[0];
  settings.ShortDateFormat = TranslateStrftime(Langinfo(D_FMT));
  settings.LongTimeFormat = TranslateStrftime(Langinfo(T_FMT));
  settings.ShortTimeFormat = TranslateStrftime(Langinfo(T_FMT), false);
  settings.DateSeparator = SeparatorOf(settings.ShortDateFormat, settings.DateSeparator);
  settings.TimeSeparator = SeparatorOf(settings.LongTimeFormat, settings.TimeSeparator);
  settings.TimeAMString = Langinfo(AM_STR);
  settings.TimePMString = Langinfo(PM_STR);
  for (int i = 0; i < 12; ++i) {
    settings.ShortMonthNames[i] = Langinfo(ABMON_1 + i);
    settings.LongMonthNames[i] = Langinfo(MON_1 + i);
  }
  for (int i = 0; i < 7; ++i) {
    settings.ShortDayNames[i] = Langinfo(ABDAY_1 + i);
    settings.LongDayNames[i] = Langinfo(DAY_1 + i);
  }
  return settings;
}

const TRegionalSettings& RegionalSettings() {
  const TRegionalSettings* current = Current.load(std::memory_order_acquire);
  return current ? *current : Defaults();
}

void SetRegionalSettings(const TRegionalSettings& settings) {
  static TMutex storeLock;
  static std::forward_list<TRegionalSettings> store GUARDED_BY(storeLock);
  TMutexLock lock(storeLock);
  // Settings made current again are not stored again, so that switching costs no memory.
  auto stored = std::find(store.begin(), store.end(), settings);
  if (stored == store.end()) stored = store.insert_after(store.before_begin(), settings);
  Current.store(&*stored, std::memory_order_release);
}

}  // namespace duz
