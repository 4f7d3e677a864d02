#include "base/Text.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/Utf8.h"

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

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const std::optional<uint32_t> character = NextUtf8(text, i);
    if (!character)
      json += '_';
    else if (*character == '"' || *character == '\\')
      json.append({'\\', static_cast<char>(*character)});
    else if (*character < 0x20)
      json += fmt::format("\\u{:04x}", *character);
    else
      json.append(text.substr(start, i - start));
  }
  return json + '"';
}

}  // namespace duz
