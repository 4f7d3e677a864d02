#pragma once
// Text helpers that work on bytes, not on the locale of the process. Upper-casing and case-blind
// comparison as the configuration and the registry compare names and words: ASCII letters only (a
// Turkish locale has no upper-case "i"). Pure functions; any thread.
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace duz {

inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string UpperCase(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Every "." and "," turned into separator when that is "." or ","; any other separator leaves the
// text as it is. Device text may use either mark whatever the regional settings say.
std::string NormalizeDecimalSeparator(std::string_view text, char separator);
// Bytes 33..122 as they are; runs of other bytes as {$0D,$0A}, so a log line stays one line.
std::string EscapeForLog(std::string_view bytes);
// The same with blanks kept: a server's message in a log line or on a terminal, read as words.
std::string EscapeText(std::string_view bytes);

// The number the whole text spells in the C locale, within min..max; nothing for anything else.
// NaN fails every comparison, and so is refused with what lies out of range.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, T min, T max, int base = 10) {
  T value{};
  std::from_chars_result result;
  if constexpr (std::is_floating_point_v<T>)
    result = std::from_chars(text.data(), text.data() + text.size(), value);
  else
    result = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size() || !(value >= min && value <= max))
    return std::nullopt;
  return value;
}

}  // namespace duz
