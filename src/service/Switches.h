#pragma once
// The command-line switches: an argument after the program's own path whose first character is
// "-" or "/" and whose remainder equals the switch name without regard to case.
#include <string>
#include <vector>

namespace duz {

struct TSwitches {
  bool Debug = false;
  bool Install = false;
  bool Uninstall = false;
  bool Silent = false;
  bool TestMail = false;
};

bool FindSwitch(const std::vector<std::string>& arguments, const std::string& name);
// arguments without the program's own path.
TSwitches ParseSwitches(const std::vector<std::string>& arguments);

}  // namespace duz
