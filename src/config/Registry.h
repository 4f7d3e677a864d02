#pragma once
// Reading and writing the registry, which on this system is a text file in the .reg export format
// (path from DUZEZEVOVIVO_REGISTRY, default /etc/duzezevovivo/registry.reg). Key paths are relative
// to HKEY_LOCAL_MACHINE ("SOFTWARE\Quellix\Duzezevovivo"); keys and value names compare without
// case. Every write re-reads the file, changes it and replaces it atomically. Any thread.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Exception.h"

namespace duz {

class ERegistryException : public Exception {
 public:
  explicit ERegistryException(const std::string& message, int code = 0) : Exception(message), FCode(code) {}
  // The errno value of a failed file operation; 0 for other failures.
  int Code() const { return FCode; }

 private:
  int FCode;
};

// The program's key, under which the configuration path (value "config"), the COM port devices
// (key ComPorts) and the regional overrides (key International) lie.
inline const std::string ProgramKey = "SOFTWARE\\Quellix\\Duzezevovivo";
// The registry is a small settings file; anything larger is not ours.
inline constexpr size_t MaxRegistrySize = size_t{16} * 1024 * 1024;

std::string RegistryPath();

// The string value; "" when the key or the value is missing. REG_SZ and REG_EXPAND_SZ are returned
// up to their first zero, unexpanded; any other type raises "Invalid data type for '<name>'".
std::string ReadRegistryString(const std::string& key, const std::string& name);

bool RegistryKeyExists(const std::string& key);
// Create the key (and its parents) if missing. Raise ERegistryException when the file cannot be written.
void RegistryCreateKey(const std::string& key);
void RegistryWriteString(const std::string& key, const std::string& name, const std::string& value);
void RegistryWriteDword(const std::string& key, const std::string& name, uint32_t value);
// Deletes the key with its subkeys; false when it did not exist.
bool RegistryDeleteKey(const std::string& key);

// Regional overrides: values DecimalSeparator, DateSeparator, TimeSeparator, ShortDateFormat,
// LongTimeFormat of "SOFTWARE\Quellix\Duzezevovivo\International" on top of the process locale.
void LoadRegionalSettings();

}  // namespace duz
