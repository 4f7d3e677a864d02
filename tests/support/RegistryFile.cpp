#include "support/RegistryFile.h"

#include "support/TempDir.h"

namespace duz::test {

void WriteRegistryFile(const std::string& path, const std::string& configPath,
                       const std::map<int, std::string>& comPorts) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\r\n"
      "\"config\"=\"" +
      configPath +
      "\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo\\ComPorts]\r\n";
  for (const auto& [number, device] : comPorts)
    text += "\"COM" + std::to_string(number) + "\"=\"" + device + "\"\r\n";
  WriteFile(path, text);
}

}  // namespace duz::test
