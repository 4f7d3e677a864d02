#include "core/ConfigFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "xml/Registry.h"

namespace duz {
namespace {

constexpr const char* ConfigKey = "SOFTWARE\\Quellix\\Duzezevovivo";

}  // namespace

std::string ConfigFilePath() { return ReadRegistryString(ConfigKey, "config"); }

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
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > MaxConfigSize)
    throw EConfigFileError(path, std::nullopt, "the file is larger than 16 MiB");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EConfigFileError(path, std::nullopt, "the file cannot be read");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EConfigFileError(path, std::nullopt, "the file cannot be read");
  const pugi::xml_parse_result result =
      document.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_comments);
  if (!result)
    throw EConfigFileError(path, PositionAt(text, static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0))),
                           result.description());
  return text;
}

}  // namespace duz
