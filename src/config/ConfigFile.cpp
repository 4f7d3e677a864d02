#include "config/ConfigFile.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/FileWrite.h"
#include "config/Registry.h"

namespace duz {

std::string ConfigFilePath() { return ReadRegistryString(ProgramKey, "config"); }

TTextPosition PositionAt(std::string_view text, size_t offset) {
  const std::string_view before = text.substr(0, std::min(offset, text.size()));
  const size_t lineStart = before.rfind('\n');
  return {static_cast<size_t>(1 + std::count(before.begin(), before.end(), '\n')),
          before.size() - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1};
}

EConfigFileError::EConfigFileError(const std::string& path, std::optional<TTextPosition> at,
                                   std::string reason)
    : Exception(at ? fmt::format("{}({},{}): {}", path, at->Line, at->Column, reason) : path + ": " + reason),
      FAt(at),
      FReason(std::move(reason)) {}

std::optional<std::string> LoadConfigFile(pugi::xml_document& document, const std::string& path) {
  std::string text;
  if (const int error = ReadRegularFile(path, text, MaxConfigSize, TLinks::Follow)) {
    if (error == ENOENT || error == ENotRegularFile) return std::nullopt;
    throw EConfigFileError(path, std::nullopt,
                           error == EFBIG ? "the file is larger than 16 MiB" : "the file cannot be read");
  }
  const pugi::xml_parse_result result =
      document.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_comments);
  if (!result)
    throw EConfigFileError(path, PositionAt(text, static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0))),
                           result.description());
  return text;
}

}  // namespace duz
