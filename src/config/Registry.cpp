#include "config/Registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "base/FileWrite.h"
#include "base/MutexLock.h"
#include "base/RegionalSettings.h"
#include "config/RegFile.h"

namespace duz {
namespace {

constexpr const char* Hive = "HKEY_LOCAL_MACHINE\\";

TMutex WriteLock;  // one read-change-replace at a time within the process

std::string FullKey(const std::string& key) { return Hive + key; }

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw ERegistryException(what + " " + path + ": " + FileErrorText(error), error);
}

// A missing file is an empty registry.
TRegFile Load() {
  const std::string path = RegistryPath();
  std::string text;
  if (const int error = ReadRegularFile(path, text, MaxRegistrySize, TLinks::Follow);
      error && error != ENOENT)
    Fail("Cannot read registry", path, error);
  return TRegFile::Parse(text);
}

// Written beside the file and renamed over it, so readers see the old or the new file, never half.
void Save(const TRegFile& file) {
  const std::string path = RegistryPath();
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ignored;
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  if (int error = ReplaceFileContent(path, file.Serialize())) Fail("Cannot write registry", path, error);
}

template <typename TResult>
TResult Change(const std::function<TResult(TRegFile&)>& change) {
  TMutexLock lock(WriteLock);
  TRegFile file = Load();
  TResult result = change(file);
  Save(file);
  return result;
}

void Change(const std::function<void(TRegFile&)>& change) {
  Change<bool>([&](TRegFile& file) {
    change(file);
    return true;
  });
}

}  // namespace

std::string RegistryPath() {
  const char* path = std::getenv("DUZEZEVOVIVO_REGISTRY");
  return path && *path ? path : "/etc/duzezevovivo/registry.reg";
}

std::string ReadRegistryString(const std::string& key, const std::string& name) {
  const TRegFile file = Load();
  const TRegValue* value = file.Find(FullKey(key), name);
  if (!value) return "";
  auto text = value->AsString();
  if (!text) throw ERegistryException("Invalid data type for '" + name + "'");
  return *text;
}

bool RegistryKeyExists(const std::string& key) { return Load().HasKey(FullKey(key)); }

void RegistryCreateKey(const std::string& key) {
  Change([&](TRegFile& file) { file.CreateKey(FullKey(key)); });
}

void RegistryWriteString(const std::string& key, const std::string& name, const std::string& value) {
  Change([&](TRegFile& file) { file.SetValue(FullKey(key), TRegValue::Text(name, value)); });
}

void RegistryWriteDword(const std::string& key, const std::string& name, uint32_t value) {
  Change([&](TRegFile& file) { file.SetValue(FullKey(key), TRegValue::Dword(name, value)); });
}

bool RegistryDeleteKey(const std::string& key) {
  return Change<bool>([&](TRegFile& file) { return file.DeleteKey(FullKey(key)); });
}

void LoadRegionalSettings() {
  const std::string key = ProgramKey + "\\International";
  TRegionalSettings settings = TRegionalSettings::FromLocale();
  auto character = [&](const char* name, char& field) {
    const std::string value = ReadRegistryString(key, name);
    if (!value.empty()) field = value.front();
  };
  auto text = [&](const char* name, std::string& field) {
    std::string value = ReadRegistryString(key, name);
    if (!value.empty()) field = std::move(value);
  };
  character("DecimalSeparator", settings.DecimalSeparator);
  character("DateSeparator", settings.DateSeparator);
  character("TimeSeparator", settings.TimeSeparator);
  text("ShortDateFormat", settings.ShortDateFormat);
  text("LongTimeFormat", settings.LongTimeFormat);
  SetRegionalSettings(settings);
}

}  // namespace duz
