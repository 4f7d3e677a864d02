#include "service/CheckRun.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <utility>

#include "base/FileWrite.h"
#include "base/Text.h"
#include "config/ConfigCheck.h"
#include "config/ConfigFile.h"
#include "config/Registry.h"

namespace duz {
namespace {

class TReport {
 public:
  void Finding(const std::string& file, TTextPosition at, bool error, const std::string& text) {
    std::printf("%s\n", FormatFinding(file, at, error, text).c_str());
    ++(error ? FErrors : FWarnings);
  }
  int Finish() const {
    std::printf("%d errors, %d warnings\n", FErrors, FWarnings);
    return FErrors > 0 ? 1 : 0;
  }

 private:
  int FErrors = 0, FWarnings = 0;
};

// The registry's text for the places of findings; nothing when it does not exist or cannot be read.
std::optional<std::string> RegistryText(const std::string& path) {
  std::string text;
  if (ReadRegularFile(path, text, MaxRegistrySize, TLinks::Follow)) return std::nullopt;
  return text;
}

// Where the registry text sets the value ("name"=...), compared without case; its start otherwise.
TTextPosition ValuePosition(const std::string& text, const std::string& name) {
  const std::string upper = UpperCase(text), wanted = "\"" + UpperCase(name) + "\"=";
  for (size_t at = upper.find(wanted); at != std::string::npos; at = upper.find(wanted, at + 1))
    if (at == 0 || text[at - 1] == '\n') return PositionAt(text, at);
  return {};
}

void CheckConfigurationFile(TReport& report, const std::string& path) {
  pugi::xml_document document;
  std::optional<std::string> text;
  try {
    text = LoadConfigFile(document, path);
  } catch (const EConfigFileError& error) {
    report.Finding(path, error.At().value_or(TTextPosition{}), true, error.Reason());
    return;
  }
  if (!text) {
    report.Finding(path, {}, true, "the file does not exist");
    return;
  }
  for (const TConfigFinding& finding : CheckConfiguration(document, *text))
    report.Finding(path, PositionAt(*text, finding.Offset), finding.Error, finding.Text);
}

}  // namespace

int RunCheck(const std::string& file) {
  TReport report;
  const std::string registry = RegistryPath();
  const std::optional<std::string> registryText = RegistryText(registry);
  if (!registryText)
    report.Finding(registry, {}, file.empty(),
                   file.empty() ? "the registry file does not exist: the service finds no configuration"
                                : "the registry file does not exist: COM<n> is /dev/ttyS<n-1>");
  try {
    LoadRegionalSettings();
  } catch (const std::exception& error) {
    report.Finding(registry, {}, true, error.what());
  }

  std::string config = file;
  if (config.empty() && registryText) {
    const TTextPosition at = ValuePosition(*registryText, "config");
    try {
      config = ConfigFilePath();
      if (config.empty())
        report.Finding(registry, at, true,
                       "no value \"config\" in [HKEY_LOCAL_MACHINE\\" + ProgramKey +
                           "]: the service finds no configuration");
      else if (std::error_code error; !std::filesystem::is_regular_file(config, error))
        report.Finding(registry, at, true, "Config file not found! (" + std::exchange(config, "") + ")");
    } catch (const std::exception& error) {
      report.Finding(registry, at, true, error.what());
      config.clear();
    }
  }
  if (!config.empty()) CheckConfigurationFile(report, config);
  return report.Finish();
}

}  // namespace duz
