#include "base/Variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "base/Exception.h"
#include "base/RegionalSettings.h"
#include "base/Text.h"

namespace duz {
namespace {

template <class... Ts>
struct TOverloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
TOverloaded(Ts...) -> TOverloaded<Ts...>;

std::string_view TrimBlanks(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Splits off a leading sign; returns true for a minus.
bool TakeSign(std::string_view& text) {
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  return negative;
}

std::optional<int64_t> ParseInt(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = TakeSign(text);
  int base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return {};
  uint64_t limit = uint64_t{std::numeric_limits<int64_t>::max()} + (negative ? 1 : 0);
  if (magnitude > limit) return {};
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

// The regional decimal separator, and also ".", the separator XML files are written with; at most
// one of them. Read without the C library, whose locale may be another one.
std::optional<double> ParseDouble(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = TakeSign(text);
  char separator = RegionalSettings().DecimalSeparator;
  std::string plain(text);
  std::replace(plain.begin(), plain.end(), separator, '.');
  // from_chars would also read "inf" and "nan"; a number starts with a digit or the point.
  if (plain.empty() || !((plain[0] >= '0' && plain[0] <= '9') || plain[0] == '.')) return {};
  double value = 0;
  auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (error != std::errc{} || end != plain.data() + plain.size()) return {};
  return negative ? -value : value;
}

[[noreturn]] void NotConvertible(std::string_view text, std::string_view kind) {
  throw EConvertError("'" + std::string(text) + "' is not a valid " + std::string(kind) + " value");
}

[[noreturn]] void NullNotConvertible(std::string_view type) {
  throw EConvertError("Could not convert variant of type (Null) into type (" + std::string(type) + ")");
}

// Like the regional general format: 15 significant digits, exponent only for very large or very
// small values, written 1E20 and 1E-5. Near the largest double, 15 digits can round past it and
// would not read back; such a value gets the digits it needs.
std::string FormatGeneral(double value) {
  char buffer[40];
  char* end = buffer;
  for (int precision = 15; precision <= 17; ++precision) {
    end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision).ptr;
    double back = 0;
    if (std::from_chars(buffer, end, back).ec != std::errc::result_out_of_range) break;
  }
  std::string text;
  for (const char* p = buffer; p != end; ++p) {
    if (*p == '.') {
      text += RegionalSettings().DecimalSeparator;
    } else if (*p == 'e') {
      // to_chars writes e+20 and e-05.
      text += 'E';
      if (*++p == '-') text += '-';
      for (++p; p + 1 != end && *p == '0';) ++p;
      text.append(p, static_cast<size_t>(end - p));
      break;
    } else {
      text += UpperCase(*p);  // INF, NAN
    }
  }
  return text;
}

}  // namespace

int64_t TVariant::ToInt() const {
  return std::visit(
      TOverloaded{
          [](Empty) -> int64_t { return 0; },
          [](Null) -> int64_t { NullNotConvertible("Integer"); },
          [](int64_t value) { return value; },
          [](double value) -> int64_t {
            double rounded = std::nearbyint(value);  // halves to even in the default rounding mode
            if (!(rounded >= -0x1p63 && rounded < 0x1p63))
              throw EConvertError("Value " + FormatGeneral(value) + " is out of the range of a whole number");
            return static_cast<int64_t>(rounded);
          },
          [](bool value) -> int64_t { return value ? 1 : 0; },
          [](const std::string& text) {
            std::optional<int64_t> value = ParseInt(text);
            if (!value) NotConvertible(text, "integer");
            return *value;
          },
      },
      FValue);
}

double TVariant::ToDouble() const {
  return std::visit(TOverloaded{
                        [](Empty) { return 0.0; },
                        [](Null) -> double { NullNotConvertible("Double"); },
                        [](int64_t value) { return static_cast<double>(value); },
                        [](double value) { return value; },
                        [](bool value) { return value ? 1.0 : 0.0; },
                        [](const std::string& text) {
                          std::optional<double> value = ParseDouble(text);
                          if (!value) NotConvertible(text, "floating point");
                          return *value;
                        },
                    },
                    FValue);
}

bool TVariant::ToBool() const {
  return std::visit(TOverloaded{
                        [](Empty) { return false; },
                        [](Null) -> bool { NullNotConvertible("Boolean"); },
                        [](int64_t value) { return value != 0; },
                        [](double value) { return value != 0; },
                        [](bool value) { return value; },
                        [](const std::string& text) {
                          std::string_view word = TrimBlanks(text);
                          if (EqualsNoCase(word, "true")) return true;
                          if (EqualsNoCase(word, "false")) return false;
                          if (std::optional<int64_t> number = ParseInt(word)) return *number != 0;
                          if (std::optional<double> number = ParseDouble(word)) return *number != 0;
                          NotConvertible(text, "boolean");
                        },
                    },
                    FValue);
}

std::string TVariant::ToString() const {
  return std::visit(TOverloaded{
                        [](Empty) { return std::string(); },
                        [](Null) -> std::string { NullNotConvertible("String"); },
                        [](int64_t value) { return std::to_string(value); },
                        [](double value) { return FormatGeneral(value); },
                        [](bool value) { return std::string(value ? "True" : "False"); },
                        [](const std::string& text) { return text; },
                    },
                    FValue);
}

}  // namespace duz
