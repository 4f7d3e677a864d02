// The thermometer line parser: any bytes give a defined reading, and a well-formed line gives its
// number, or none beyond the float range.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "core/KelvoLine.h"
#include "fuzz/FuzzTarget.h"

namespace duz {
namespace {

void CheckAnyLine(const std::string& line, char separator) {
  const TKelvoReading reading = ParseKelvoLine(line, separator);
  const std::string expectedRaw = line.starts_with("*B1E1") ? line.substr(5) : line;
  FUZZ_CHECK(reading.RawLine == expectedRaw);
  FUZZ_CHECK(!reading.Value || std::isfinite(*reading.Value));
}

void CheckWellFormedLine(double value, char separator) {
  if (!std::isfinite(value)) return;
  // Fixed notation: the sign of an exponent would count as the sign of the reading.
  char number[400];
  std::snprintf(number, sizeof number, "%+.3f", value);
  std::string line = std::string("*B1E1") + number + "C\r";
  for (char& c : line)
    if (c == '.') c = separator;
  const double exact = std::strtod(number, nullptr);
  const TKelvoReading reading = ParseKelvoLine(line, separator);
  if (std::fabs(exact) > std::numeric_limits<float>::max()) {
    FUZZ_CHECK(!reading.Value);
  } else {
    FUZZ_CHECK(reading.Value && *reading.Value == static_cast<float>(exact));
  }
}

}  // namespace
}  // namespace duz

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) {
  const char separator = input.ConsumeBool() ? ',' : '.';
  duz::CheckWellFormedLine(input.ConsumeFloatingPoint<double>(), separator);
  duz::CheckAnyLine(input.ConsumeRemainingBytesAsString(), separator);
}
