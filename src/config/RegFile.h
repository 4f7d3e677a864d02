#pragma once
// TRegFile: the registry file in the .reg export format, parsed into keys and values and written
// back. Parsing is pure and never fails: lines it does not understand are kept as they are and
// written back unchanged, so a file edited by hand survives our writes. Key paths are full paths
// ("HKEY_LOCAL_MACHINE\SOFTWARE\..."); keys and value names compare without case. A key listed
// twice is one key; the later value wins. Not thread-safe: callers own their copy.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace duz {

// Value types as the registry numbers them.
enum : uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
};

struct TRegValue {
  std::string Name;  // "" is the key's default value (written @)
  uint32_t Type = REG_SZ;
  // Written as "text" (REG_SZ): the text. Otherwise the bytes as stored: dword: four bytes,
  // little-endian; hex(2): and hex(1): UTF-16LE.
  std::string Data;
  bool Quoted = false;

  static TRegValue Text(std::string name, std::string text);
  static TRegValue Dword(std::string name, uint32_t value);
  // REG_SZ or REG_EXPAND_SZ up to the first zero character, in UTF-8; nullopt for other types.
  std::optional<std::string> AsString() const;
};

class TRegFile {
 public:
  static constexpr std::string_view Header = "Windows Registry Editor Version 5.00";

  // Text in UTF-8, or UTF-16LE with its byte-order mark as the registry editor exports it.
  static TRegFile Parse(std::string_view text);
  // UTF-8, with the line ends of the parsed text (CRLF for a new file).
  std::string Serialize() const;

  // The value, or nullptr when the key or the value is missing.
  const TRegValue* Find(std::string_view key, std::string_view name) const;
  // True when the key is listed, or a key below it is.
  bool HasKey(std::string_view key) const;
  // CreateKey and SetValue raise ERegistryException for a key path or value name that cannot be
  // written in a line of its own: one holding CR, LF or a zero, or a key path starting with "-".
  void CreateKey(std::string_view key);
  // Replaces the value where it is listed; otherwise adds it to the key, creating the key.
  void SetValue(std::string_view key, TRegValue value);
  // Removes the key and every key below it; false when nothing was there.
  bool DeleteKey(std::string_view key);

 private:
  // One logical line of the file: a parsed value (Raw holds its text until it is changed), or a
  // line kept as it is (blank lines, comments, deletions, anything not understood).
  struct TEntry {
    std::vector<std::string> Raw;
    std::optional<TRegValue> Value;
    bool OpenContinuation = false;  // the file ended inside its continued hex data
  };
  struct TKey {
    std::string Path;
    std::string RawHeader;  // the "[...]" line as read; empty for a key we added
    std::vector<TEntry> Entries;
  };

  TKey* LastKey(std::string_view path);
  const TEntry* FindEntry(std::string_view key, std::string_view name) const;

  std::string FHeader{Header};
  std::vector<std::string> FPreamble{""};  // lines between the header and the first key
  std::vector<TKey> FKeys;
  std::string FLineEnd = "\r\n";
};

}  // namespace duz
