#pragma once
// Fixed-point number formatting with the regional decimal separator. The value is first written
// with 18 significant digits, then rounded at the last kept decimal, halves away from zero, so that
// 21.25f gives "21.3" although the float is slightly below 21.25.
#include <string>

namespace duz {

// Like printf "%<width>.<decimals>f": right-aligned with blanks to at least width characters.
std::string FormatFixed(double value, int width, int decimals);
// The double nearest to the float's shortest decimal form: 21.3f gives 21.3, not
// 21.299999237060547.
double DecimalValue(float value);
// "%5.1f": the temperature in messages, templates and files.
inline std::string FormatTemperature(float value) { return FormatFixed(value, 5, 1); }

}  // namespace duz
