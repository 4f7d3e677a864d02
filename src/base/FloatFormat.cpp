#include "base/FloatFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/RegionalSettings.h"

namespace duz {

double DecimalValue(float value) {
  char text[32];
  const char* end = std::to_chars(text, text + sizeof text, value).ptr;
  double result = value;
  std::from_chars(text, end, result);
  return result;
}

std::string FormatFixed(double value, int width, int decimals) {
  decimals = std::clamp(decimals, 0, 100);  // far beyond the digits a double holds
  std::string text;
  if (std::isnan(value)) {
    text = "NAN";
  } else if (std::isinf(value)) {
    text = value < 0 ? "-INF" : "INF";
  } else {
    // 18 significant digits d.ddd...e±x, the decimal rounding below works on these digits. Written
    // without the C library, whose locale may have another decimal point.
    char scientific[32];
    char* end = std::to_chars(scientific, scientific + sizeof scientific, std::fabs(value),
                              std::chars_format::scientific, 17)
                    .ptr;
    std::string digits{scientific[0]};
    digits.append(scientific + 2, 17);
    int exponent = 0;
    std::from_chars(scientific + 20 + (scientific[20] == '+'), end, exponent);
    int integerDigits = exponent + 1;

    if (integerDigits <= 0) {
      digits.insert(0, static_cast<size_t>(1 - integerDigits), '0');
      integerDigits = 1;
    } else if (static_cast<size_t>(integerDigits) > digits.size()) {
      digits.resize(static_cast<size_t>(integerDigits), '0');
    }
    size_t kept = static_cast<size_t>(integerDigits) + static_cast<size_t>(decimals);
    bool roundUp = kept < digits.size() && digits[kept] >= '5';
    digits.resize(kept, '0');
    for (size_t i = kept; roundUp && i-- > 0;) {
      roundUp = digits[i] == '9';
      digits[i] = roundUp ? '0' : static_cast<char>(digits[i] + 1);
    }
    if (roundUp) {
      digits.insert(digits.begin(), '1');
      ++integerDigits;
    }

    size_t firstSignificant = digits.find_first_not_of('0');
    size_t leadingZeros = std::min(firstSignificant, static_cast<size_t>(integerDigits - 1));
    // No minus sign on a value that rounds to zero: "-0.0" would read as a temperature below zero.
    if (value < 0 && firstSignificant != std::string::npos) text = "-";
    text.append(digits, leadingZeros, static_cast<size_t>(integerDigits) - leadingZeros);
    if (decimals > 0) {
      text += RegionalSettings().DecimalSeparator;
      text.append(digits, static_cast<size_t>(integerDigits));
    }
  }
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}

}  // namespace duz
