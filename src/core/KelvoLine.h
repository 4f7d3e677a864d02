#pragma once
// Parsing of one thermometer line, a pure function of its bytes. A line is the received bytes up to
// and including a carriage return, optionally starting with the prefix "*B1E1"; its temperature is
// a sign, a decimal number with "." or "," and the unit letter "C", e.g. "*B1E1+023.5C\r". The
// caller passes the decimal separator in force (the regional one); the line may use either mark.
#include <optional>
#include <string>
#include <string_view>

namespace duz {

struct TKelvoReading {
  std::string RawLine;         // the line as published: prefix removed, carriage return kept
  std::optional<float> Value;  // the temperature; nothing when the line holds no number in float range
};

TKelvoReading ParseKelvoLine(std::string_view line, char decimalSeparator);

}  // namespace duz
