#include "config/ComDevicePath.h"

#include <fmt/format.h>

#include "config/Registry.h"

namespace duz {

std::string ComDevicePath(int number) {
  std::string device = ReadRegistryString(ProgramKey + "\\ComPorts", fmt::format("COM{}", number));
  return device.empty() ? fmt::format("/dev/ttyS{}", number - 1) : device;
}

}  // namespace duz
