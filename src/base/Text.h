#pragma once
// Text helpers that work on bytes, not on the locale of the process. Upper-casing and case-blind
// comparison as the configuration and the registry compare names and words: ASCII letters only (a
// Turkish locale has no upper-case "i"). Pure functions; any thread.
#include <string>
#include <string_view>

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

}  // namespace duz
