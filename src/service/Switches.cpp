#include "service/Switches.h"

#include <strings.h>

namespace duz {

bool FindSwitch(const std::vector<std::string>& arguments, const std::string& name) {
  for (const auto& argument : arguments)
    if (argument.size() > 1 && (argument[0] == '-' || argument[0] == '/') &&
        strcasecmp(argument.c_str() + 1, name.c_str()) == 0)
      return true;
  return false;
}

TSwitches ParseSwitches(const std::vector<std::string>& arguments) {
  return {FindSwitch(arguments, "DEBUG"), FindSwitch(arguments, "INSTALL"),
          FindSwitch(arguments, "UNINSTALL"), FindSwitch(arguments, "SILENT"),
          FindSwitch(arguments, "TESTMAIL")};
}

}  // namespace duz
