#pragma once
// UTF-8 read one character at a time, and written out as UTF-16LE (the registry file and the
// saved XML files may be stored in either form) or as a JSON string. Pure functions.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace duz {

// The code point of the UTF-8 character at text[i], with i moved past it; nothing for a byte that
// starts no valid shortest-form character (i then moves past that byte alone).
std::optional<uint32_t> NextUtf8(std::string_view text, std::size_t& i);
// Appends the code point as UTF-16LE: one unit, or a surrogate pair above U+FFFF.
void AppendUtf16Le(std::string& out, uint32_t codePoint);
// A JSON string literal of text; bytes that are not UTF-8 become "_", so that what a thermometer's
// caption holds never makes the document invalid.
std::string JsonString(std::string_view text);

}  // namespace duz
