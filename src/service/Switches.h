#pragma once
// The command-line switches: an argument after the program's own path whose first character is
// "-" or "/" and whose remainder equals the switch name without regard to case. HELP also answers
// to "--help", "-h" and "/?", VERSION to "--version". The argument after CHECK is its file unless
// it is one of the switches.
#include <string>
#include <vector>

namespace duz {

struct TSwitches {
  bool Debug = false;
  bool Install = false;
  bool Uninstall = false;
  bool Silent = false;
  bool TestMail = false;
  bool TestAlert = false;
  bool Help = false;
  bool Version = false;
  bool Check = false;
  std::string CheckFile;  // empty: the configuration the registry names
};

bool FindSwitch(const std::vector<std::string>& arguments, const std::string& name);
// arguments without the program's own path.
TSwitches ParseSwitches(const std::vector<std::string>& arguments);

}  // namespace duz
