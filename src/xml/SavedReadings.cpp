#include "xml/SavedReadings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace duz {
namespace {

constexpr int MinutesPerDayInt = 1440;

std::string Field(pugi::xml_node data, const char* name) {
  if (pugi::xml_attribute attribute = data.attribute(name)) return attribute.value();
  return data.child(name).text().get();
}

// "hh:nn" as the savers write it: two digits each, the separator of the regional settings the
// file was written with between them.
std::optional<int> MinuteOfDay(std::string_view text) {
  const auto digit = [&](size_t i) { return std::isdigit(static_cast<unsigned char>(text[i])) != 0; };
  if (text.size() != 5 || !digit(0) || !digit(1) || digit(2) || !digit(3) || !digit(4)) return std::nullopt;
  const int hour = (text[0] - '0') * 10 + (text[1] - '0'), minute = (text[3] - '0') * 10 + (text[4] - '0');
  if (hour > 23 || minute > 59) return std::nullopt;
  return hour * 60 + minute;
}

std::optional<double> Value(std::string text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  text.erase(0, first);
  std::replace(text.begin(), text.end(), ',', '.');
  double value = 0;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

TSavedReadings ReadSavedReadings(pugi::xml_node root, TDateTime now) {
  struct TEntry {
    int MinuteOfDay;
    float Value;
  };
  TSavedReadings result;
  std::vector<TEntry> entries;
  for (pugi::xml_node data : root.children("data")) {
    const std::optional<int> minute = MinuteOfDay(Field(data, "time"));
    const std::optional<double> value = Value(Field(data, "value"));
    if (!minute || !value) continue;
    if (std::isfinite(*value) && std::fabs(*value) <= std::numeric_limits<float>::max())
      entries.push_back({*minute, static_cast<float>(*value)});
    else
      ++result.NotFinite;
  }

  const int64_t nowMinute = MinuteOf(now);
  int64_t day = nowMinute / MinutesPerDayInt;
  std::optional<int> later;  // the time of day of the entry after this one
  std::vector<TSavedReading>& readings = result.Readings;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (later ? entry->MinuteOfDay > *later : day * MinutesPerDayInt + entry->MinuteOfDay > nowMinute) --day;
    later = entry->MinuteOfDay;
    const int64_t minute = day * MinutesPerDayInt + entry->MinuteOfDay;
    if (minute <= nowMinute - MinutesPerDayInt) break;
    readings.push_back({static_cast<double>(minute) / MinutesPerDay, entry->Value});
  }
  std::reverse(readings.begin(), readings.end());
  return result;
}

}  // namespace duz
