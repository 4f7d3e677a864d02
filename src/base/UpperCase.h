#pragma once
// Upper-casing and case-blind comparison as the configuration and the registry compare names and
// words: byte by byte, ASCII letters only, so that the result does not depend on the locale of the
// process (a Turkish locale has no upper-case "i").
#include <string>
#include <string_view>

namespace duz {

inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string UpperCase(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace duz
