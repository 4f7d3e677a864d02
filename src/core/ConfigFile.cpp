#include "core/ConfigFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "base/Exception.h"
#include "xml/Registry.h"

namespace duz {
namespace {

constexpr const char* ConfigKey = "SOFTWARE\\Quellix\\Duzezevovivo";
// A configuration file is a few kilobytes; this bounds what a wrong path can make us read.
constexpr std::uintmax_t MaxConfigSize = 16 * 1024 * 1024;

}  // namespace

std::string ConfigFilePath() { return ReadRegistryString(ConfigKey, "config"); }

bool LoadConfigFile(pugi::xml_document& document, const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > MaxConfigSize) throw Exception(path + ": the file is larger than 16 MiB");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception(path + ": the file cannot be read");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Exception(path + ": the file cannot be read");
  const pugi::xml_parse_result result =
      document.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_comments);
  if (result) return true;
  const auto before = std::string_view(text).substr(
      0, std::clamp<ptrdiff_t>(result.offset, 0, static_cast<ptrdiff_t>(text.size())));
  const size_t line = 1 + std::count(before.begin(), before.end(), '\n');
  const size_t lineStart = before.rfind('\n');
  const size_t column = before.size() - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
  throw Exception(fmt::format("{}({},{}): {}", path, line, column, result.description()));
}

}  // namespace duz
