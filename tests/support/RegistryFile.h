#pragma once
// The registry file a test gives the program: the configuration path and the COM port devices.
#include <map>
#include <string>

namespace duz::test {

// Writes a .reg file at path: value "config" of the program's key, and "COM<n>" = device under
// its ComPorts key.
void WriteRegistryFile(const std::string& path, const std::string& configPath,
                       const std::map<int, std::string>& comPorts);

}  // namespace duz::test
