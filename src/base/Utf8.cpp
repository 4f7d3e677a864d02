#include "base/Utf8.h"

#include <fmt/format.h>

namespace duz {

std::optional<uint32_t> NextUtf8(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
  uint32_t cp = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
  bool valid = length > 0 && i + length <= text.size();
  for (std::size_t k = 1; valid && k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    valid = (next & 0xC0) == 0x80;
    cp = cp << 6 | (next & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not characters.
  valid = valid && cp <= 0x10FFFF && !(cp >= 0xD800 && cp < 0xE000) &&
          cp >= (length == 2   ? 0x80u
                 : length == 3 ? 0x800u
                 : length == 4 ? 0x10000u
                               : 0u);
  i += valid ? length : 1;
  if (!valid) return std::nullopt;
  return cp;
}

void AppendUtf16Le(std::string& out, uint32_t codePoint) {
  auto unit = [&out](uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8 & 0xFF);
  };
  if (codePoint < 0x10000) {
    unit(codePoint);
  } else {
    unit(0xD800 + ((codePoint - 0x10000) >> 10));
    unit(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
  }
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const std::optional<uint32_t> codePoint = NextUtf8(text, i);
    if (!codePoint)
      json += '_';
    else if (*codePoint == '"' || *codePoint == '\\')
      json.append({'\\', static_cast<char>(*codePoint)});
    else if (*codePoint < 0x20)
      json += fmt::format("\\u{:04x}", *codePoint);
    else
      json.append(text.substr(start, i - start));
  }
  return json + '"';
}

}  // namespace duz
