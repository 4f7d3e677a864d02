#include "config/RegFile.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/Text.h"
#include "base/Utf8.h"
#include "config/Registry.h"

namespace duz {
namespace {

// Keys below path, not path itself.
bool IsBelow(std::string_view key, std::string_view path) {
  return key.size() > path.size() + 1 && StartsWithNoCase(key, path) && key[path.size()] == '\\';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A whole hexadecimal number of 1 to maxDigits digits.
std::optional<uint32_t> ParseHex(std::string_view s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  uint32_t value = 0;
  for (char c : s) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return value;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr uint32_t ReplacementChar = 0xFFFD;

// Unpaired surrogates become U+FFFD; an odd last byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes, bool stopAtZero) {
  std::string out;
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t cp = unit(i);
    if (cp == 0 && stopAtZero) break;
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = ReplacementChar;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// Bytes that are not valid UTF-8 become U+FFFD. Ends with the terminating zero, as stored.
std::string Utf8ToUtf16Le(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) AppendUtf16Le(out, NextUtf8(text, i).value_or(ReplacementChar));
  AppendUtf16Le(out, 0);
  return out;
}

// A "..." string at the start of s with \\ and \" escapes; s is left after the closing quote.
// A backslash before any other character stands for itself.
std::optional<std::string> ParseQuoted(std::string_view& s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string text;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] == '"') {
      s.remove_prefix(i + 1);
      return text;
    }
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) ++i;
    text += s[i];
  }
  return std::nullopt;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

std::optional<std::string> ParseHexBytes(std::string_view list) {
  std::string bytes;
  if (Trim(list).empty()) return bytes;
  while (true) {
    const size_t comma = list.find(',');
    const auto byte = ParseHex(Trim(list.substr(0, comma)), 2);
    if (!byte) return std::nullopt;
    bytes += static_cast<char>(*byte);
    if (comma == std::string_view::npos) return bytes;
    list.remove_prefix(comma + 1);
  }
}

// The data part after "name=": "text", dword:, hex: or hex(n):.
std::optional<TRegValue> ParseData(std::string name, std::string_view data) {
  TRegValue value;
  value.Name = std::move(name);
  data = Trim(data);
  if (!data.empty() && data.front() == '"') {
    auto text = ParseQuoted(data);
    if (!text || !Trim(data).empty()) return std::nullopt;
    value.Data = std::move(*text);
    value.Quoted = true;
    return value;
  }
  if (StartsWithNoCase(data, "dword:")) {
    const auto number = ParseHex(Trim(data.substr(6)), 8);
    if (!number) return std::nullopt;
    return TRegValue::Dword(std::move(value.Name), *number);
  }
  if (!StartsWithNoCase(data, "hex")) return std::nullopt;
  data.remove_prefix(3);
  value.Type = REG_BINARY;
  if (!data.empty() && data.front() == '(') {
    const size_t close = data.find(')');
    const auto type = close == std::string_view::npos ? std::nullopt : ParseHex(data.substr(1, close - 1), 8);
    if (!type) return std::nullopt;
    value.Type = *type;
    data.remove_prefix(close + 1);
  }
  if (data.empty() || data.front() != ':') return std::nullopt;
  auto bytes = ParseHexBytes(data.substr(1));
  if (!bytes) return std::nullopt;
  value.Data = std::move(*bytes);
  return value;
}

std::string FormatValue(const TRegValue& value) {
  std::string line = value.Name.empty() ? "@=" : Quote(value.Name) + "=";
  if (value.Quoted) return line + Quote(value.Data);
  if (value.Type == REG_DWORD && value.Data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.Data[i]);
    return line + fmt::format("dword:{:08x}", number);
  }
  line += value.Type == REG_BINARY ? std::string("hex:") : fmt::format("hex({:x}):", value.Type);
  // Wrapped as the registry editor wraps: lines of about 80 characters, continued with a backslash.
  for (size_t i = 0; i < value.Data.size(); ++i) {
    line += fmt::format("{:02x}", static_cast<unsigned char>(value.Data[i]));
    if (i + 1 == value.Data.size()) break;
    line += ',';
    const size_t lineStart = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
    if (line.size() - lineStart > 76) line += "\\\n  ";
  }
  return line;
}

// Lines end with CR LF, LF or a CR of their own: a CR kept inside a line would be read as part of
// the line now and as its end once a rewrite puts LF after it.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
  }
  return lines;
}

bool IsBlank(const std::vector<std::string>& raw) { return raw.size() == 1 && Trim(raw[0]).empty(); }

// Data with a line break is written in hex; a name cannot be, so it is refused, as is a key that
// would read as a deletion.
void CheckWritable(std::string_view text, const char* what) {
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    throw ERegistryException(std::string("Invalid registry ") + what + ": it holds a line break or a zero");
}

void CheckWritableKey(std::string_view key) {
  CheckWritable(key, "key");
  if (key.starts_with('-')) throw ERegistryException("Invalid registry key: it starts with \"-\"");
}

}  // namespace

TRegValue TRegValue::Text(std::string name, std::string text) {
  TRegValue value;
  value.Name = std::move(name);
  // A line break would end the line in the file; such text is stored in the hex form instead.
  if (text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos) {
    value.Data = std::move(text);
    value.Quoted = true;
  } else {
    value.Data = Utf8ToUtf16Le(text);
  }
  return value;
}

TRegValue TRegValue::Dword(std::string name, uint32_t number) {
  TRegValue value;
  value.Name = std::move(name);
  value.Type = REG_DWORD;
  for (int i = 0; i < 4; ++i) value.Data += static_cast<char>(number >> (8 * i) & 0xFF);
  return value;
}

std::optional<std::string> TRegValue::AsString() const {
  if (Type != REG_SZ && Type != REG_EXPAND_SZ) return std::nullopt;
  if (Quoted) return Data.substr(0, Data.find('\0'));
  return Utf16LeToUtf8(Data, true);
}

TRegFile TRegFile::Parse(std::string_view text) {
  std::string decoded;
  if (text.starts_with("\xFF\xFE")) {
    decoded = Utf16LeToUtf8(text.substr(2), false);
    text = decoded;
  } else if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  TRegFile file;
  const size_t firstBreak = text.find('\n');
  if (firstBreak != std::string_view::npos && (firstBreak == 0 || text[firstBreak - 1] != '\r'))
    file.FLineEnd = "\n";

  const std::vector<std::string> lines = SplitLines(text);
  if (!lines.empty()) file.FPreamble.clear();
  size_t i = 0;
  if (!lines.empty() && (Trim(lines[0]) == Header || Trim(lines[0]) == "REGEDIT4")) file.FHeader = lines[i++];
  while (i < lines.size()) {
    const std::string_view line = Trim(lines[i]);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']' && line[1] != '-') {
      file.FKeys.push_back({std::string(line.substr(1, line.size() - 2)), lines[i], {}});
      ++i;
      continue;
    }
    if (file.FKeys.empty()) {
      file.FPreamble.push_back(lines[i++]);
      continue;
    }
    TEntry entry{{lines[i++]}, std::nullopt};
    std::string_view rest = line;
    std::optional<std::string> name;
    if (rest.starts_with('@')) {
      name = "";
      rest.remove_prefix(1);
    } else {
      name = ParseQuoted(rest);
    }
    rest = TrimLeft(rest);
    if (name && rest.starts_with('=')) {
      rest.remove_prefix(1);
      std::string data(rest);
      // Hex data goes on over the next lines while a line ends in a backslash.
      if (StartsWithNoCase(Trim(data), "hex")) {
        while (!Trim(data).empty() && Trim(data).back() == '\\' && i < lines.size()) {
          data = std::string(Trim(data));
          data.pop_back();
          data += lines[i];
          entry.Raw.push_back(lines[i++]);
        }
        entry.OpenContinuation = !Trim(data).empty() && Trim(data).back() == '\\';
      }
      entry.Value = ParseData(std::move(*name), data);
    }
    file.FKeys.back().Entries.push_back(std::move(entry));
  }
  return file;
}

std::string TRegFile::Serialize() const {
  std::string out = FHeader + FLineEnd;
  bool lastBlank = false;
  auto emit = [&](std::string_view line) {
    for (size_t start = 0;;) {
      const size_t end = line.find('\n', start);
      out.append(line.substr(start, end - start)).append(FLineEnd);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    lastBlank = Trim(line).empty();
  };
  for (const auto& line : FPreamble) emit(line);
  for (const auto& key : FKeys) {
    if (key.RawHeader.empty()) {
      if (!lastBlank) emit("");
      emit("[" + key.Path + "]");
    } else {
      emit(key.RawHeader);
    }
    for (const auto& entry : key.Entries) {
      if (entry.Raw.empty()) {
        emit(FormatValue(*entry.Value));
      } else {
        for (const auto& line : entry.Raw) emit(line);
        // Whatever we write after it must not be read as more of its data.
        if (entry.OpenContinuation) emit("");
      }
    }
  }
  return out;
}

const TRegValue* TRegFile::Find(std::string_view key, std::string_view name) const {
  const TEntry* entry = FindEntry(key, name);
  return entry ? &*entry->Value : nullptr;
}

const TRegFile::TEntry* TRegFile::FindEntry(std::string_view key, std::string_view name) const {
  const TEntry* found = nullptr;
  for (const auto& k : FKeys) {
    if (!EqualsNoCase(k.Path, key)) continue;
    for (const auto& entry : k.Entries) {
      if (entry.Value && EqualsNoCase(entry.Value->Name, name)) found = &entry;
    }
  }
  return found;
}

TRegFile::TKey* TRegFile::LastKey(std::string_view path) {
  auto it =
      std::find_if(FKeys.rbegin(), FKeys.rend(), [&](const TKey& k) { return EqualsNoCase(k.Path, path); });
  return it == FKeys.rend() ? nullptr : &*it;
}

bool TRegFile::HasKey(std::string_view key) const {
  return std::any_of(FKeys.begin(), FKeys.end(),
                     [&](const TKey& k) { return EqualsNoCase(k.Path, key) || IsBelow(k.Path, key); });
}

void TRegFile::CreateKey(std::string_view key) {
  CheckWritableKey(key);
  if (!LastKey(key)) FKeys.push_back({std::string(key), "", {}});
}

void TRegFile::SetValue(std::string_view key, TRegValue value) {
  CheckWritableKey(key);
  CheckWritable(value.Name, "value name");
  if (const TEntry* found = FindEntry(key, value.Name)) {
    auto* entry = const_cast<TEntry*>(found);
    entry->Raw.clear();
    entry->Value = std::move(value);
    return;
  }
  CreateKey(key);
  auto& entries = LastKey(key)->Entries;
  // Before the blank lines that separate this key from the next.
  auto at = entries.end();
  while (at != entries.begin() && IsBlank(std::prev(at)->Raw)) --at;
  entries.insert(at, TEntry{{}, std::move(value)});
}

bool TRegFile::DeleteKey(std::string_view key) {
  const size_t before = FKeys.size();
  std::erase_if(FKeys, [&](const TKey& k) { return EqualsNoCase(k.Path, key) || IsBelow(k.Path, key); });
  return FKeys.size() != before;
}

}  // namespace duz
