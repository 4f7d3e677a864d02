#include "service/Switches.h"

#include <algorithm>

#include "base/Text.h"

namespace duz {
namespace {

constexpr const char* PlainNames[] = {"DEBUG", "INSTALL",  "UNINSTALL", "SILENT",
                                      "CHECK", "TESTMAIL", "TESTALERT"};

bool IsSwitch(const std::string& argument, const char* name) {
  return argument.size() > 1 && (argument[0] == '-' || argument[0] == '/') &&
         EqualsNoCase(std::string_view(argument).substr(1), name);
}

bool IsHelp(const std::string& argument) {
  return IsSwitch(argument, "HELP") || IsSwitch(argument, "H") || IsSwitch(argument, "?") ||
         argument == "--help";
}

bool IsVersion(const std::string& argument) {
  return IsSwitch(argument, "VERSION") || argument == "--version";
}

bool IsAnySwitch(const std::string& argument) {
  return IsHelp(argument) || IsVersion(argument) ||
         std::any_of(std::begin(PlainNames), std::end(PlainNames),
                     [&](const char* name) { return IsSwitch(argument, name); });
}

template <typename TTest>
bool Any(const std::vector<std::string>& arguments, TTest test) {
  return std::any_of(arguments.begin(), arguments.end(), test);
}

}  // namespace

bool FindSwitch(const std::vector<std::string>& arguments, const std::string& name) {
  return Any(arguments, [&](const std::string& argument) { return IsSwitch(argument, name.c_str()); });
}

TSwitches ParseSwitches(const std::vector<std::string>& arguments) {
  TSwitches switches;
  switches.Debug = FindSwitch(arguments, "DEBUG");
  switches.Install = FindSwitch(arguments, "INSTALL");
  switches.Uninstall = FindSwitch(arguments, "UNINSTALL");
  switches.Silent = FindSwitch(arguments, "SILENT");
  switches.TestMail = FindSwitch(arguments, "TESTMAIL");
  switches.TestAlert = FindSwitch(arguments, "TESTALERT");
  switches.Help = Any(arguments, IsHelp);
  switches.Version = Any(arguments, IsVersion);
  const auto check = std::find_if(arguments.begin(), arguments.end(),
                                  [](const std::string& argument) { return IsSwitch(argument, "CHECK"); });
  switches.Check = check != arguments.end();
  if (switches.Check && check + 1 != arguments.end() && !IsAnySwitch(check[1])) switches.CheckFile = check[1];
  return switches;
}

}  // namespace duz
