#include "core/KelvoLine.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/Text.h"

namespace duz {

namespace {

constexpr std::string_view Prefix = "*B1E1";

bool IsBlank(char c) { return c == ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Optional blanks, optional sign, digits with at most one decimal separator (at least one digit or
// the separator), optional exponent, optional blanks, nothing else.
std::optional<double> ConvertNumber(std::string_view text, char separator) {
  size_t i = 0, n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  std::string number;
  if (i < n && (text[i] == '+' || text[i] == '-')) number += text[i++];
  bool mantissa = false, seenSeparator = false;
  for (; i < n; ++i) {
    if (IsDigit(text[i])) {
      number += text[i];
      mantissa = true;
    } else if (text[i] == separator && !seenSeparator) {
      number += '.';
      seenSeparator = true;
    } else {
      break;
    }
  }
  if (!mantissa && !seenSeparator) return std::nullopt;
  if (!mantissa) number += '0';  // a lone separator reads as zero
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    number += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) number += text[i++];
    size_t digits = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++digits) number += text[i];
    if (digits == 0) return std::nullopt;
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) return std::nullopt;
  // Not strtod: the C library reads the decimal point of the process's locale.
  const char* first = number.data() + (number[0] == '+');
  double value = 0;
  auto [end, error] = std::from_chars(first, number.data() + number.size(), value);
  if (error != std::errc{} || end != number.data() + number.size()) return std::nullopt;
  return value;
}

}  // namespace

TKelvoReading ParseKelvoLine(std::string_view line, char decimalSeparator) {
  TKelvoReading result;
  if (line.substr(0, Prefix.size()) == Prefix) line.remove_prefix(Prefix.size());
  result.RawLine = line;

  if (auto minus = line.find('-'); minus != std::string_view::npos) line.remove_prefix(minus);
  if (auto plus = line.find('+'); plus != std::string_view::npos) line.remove_prefix(plus);
  if (auto unit = line.find('C'); unit != std::string_view::npos) line = line.substr(0, unit);
  if (auto cr = line.find('\r'); cr != std::string_view::npos) line = line.substr(0, cr);
  if (line.empty()) return result;

  std::string text = NormalizeDecimalSeparator(line, decimalSeparator);
  // The first byte is the sign position; a line without a sign keeps its first digit.
  bool signed_ = text[0] == '+' || text[0] == '-';
  auto value =
      ConvertNumber(signed_ ? std::string_view(text).substr(1) : std::string_view(text), decimalSeparator);
  // Beyond the float range the reading would be infinite: no number, so not connected.
  if (!value || std::fabs(*value) > std::numeric_limits<float>::max()) return result;
  result.Value = static_cast<float>(text[0] == '-' ? -*value : *value);
  return result;
}

}  // namespace duz
