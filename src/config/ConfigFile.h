#pragma once
// The configuration file: where the registry says it is, and its loading into a document, comments
// kept. Shared by the platform and by the switches that read the configuration without starting
// one. Positions in its text are given as lines and columns, as reports to people need them. Any
// thread.
#include <cstddef>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "base/Exception.h"

namespace duz {

// A configuration file is a few kilobytes; this bounds what a wrong path can make us read.
inline constexpr size_t MaxConfigSize = size_t{16} * 1024 * 1024;

// The path in value "config" of the program's registry key ("" when there is none). Raises
// ERegistryException for a value that is not a string.
std::string ConfigFilePath();

// Line and column (from 1; a column counts bytes) of an offset into text.
struct TTextPosition {
  size_t Line = 1;
  size_t Column = 1;
};
TTextPosition PositionAt(std::string_view text, size_t offset);

// A configuration file that cannot be read, or is not well-formed. The message reads
// "<path>(<line>,<column>): <reason>", or "<path>: <reason>" where there is no place.
class EConfigFileError : public Exception {
 public:
  EConfigFileError(const std::string& path, std::optional<TTextPosition> at, std::string reason);
  const std::optional<TTextPosition>& At() const { return FAt; }
  const std::string& Reason() const { return FReason; }

 private:
  std::optional<TTextPosition> FAt;
  std::string FReason;
};

// The file's text, parsed into document; nothing when path names no regular file (the document is
// left alone). Raises EConfigFileError for a file that cannot be read, is too large or is not
// well-formed.
std::optional<std::string> LoadConfigFile(pugi::xml_document& document, const std::string& path);

}  // namespace duz
