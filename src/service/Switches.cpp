#include "service/Switches.h"

#include "base/UpperCase.h"

namespace duz {

bool FindSwitch(const std::vector<std::string>& arguments, const std::string& name) {
  for (const auto& argument : arguments)
    if (argument.size() > 1 && (argument[0] == '-' || argument[0] == '/') &&
        EqualsNoCase(std::string_view(argument).substr(1), name))
      return true;
  return false;
}

TSwitches ParseSwitches(const std::vector<std::string>& arguments) {
  return {FindSwitch(arguments, "DEBUG"), FindSwitch(arguments, "INSTALL"),
          FindSwitch(arguments, "UNINSTALL"), FindSwitch(arguments, "SILENT"),
          FindSwitch(arguments, "TESTMAIL")};
}

}  // namespace duz
