#include "base/Text.h"

#include <fmt/format.h>

#include <algorithm>

namespace duz {

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = UpperCase(c);
  return result;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return UpperCase(x) == UpperCase(y); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string NormalizeDecimalSeparator(std::string_view text, char separator) {
  std::string result(text);
  if (separator == ',' || separator == '.') {
    const char other = separator == ',' ? '.' : ',';
    std::replace(result.begin(), result.end(), other, separator);
  }
  return result;
}

std::string EscapeForLog(std::string_view bytes) {
  std::string result;
  bool open = false;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 33 && byte <= 122) {
      if (open) result += '}';
      result += c;
      open = false;
    } else {
      result += open ? ',' : '{';
      result += fmt::format("${:02X}", byte);
      open = true;
    }
  }
  if (open) result += '}';
  return result;
}

}  // namespace duz
