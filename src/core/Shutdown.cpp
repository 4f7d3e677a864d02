#include "core/Shutdown.h"

#include <cstdlib>
#include <vector>

#include "base/EventLogger.h"
#include "base/ProcessStart.h"
#include "base/Text.h"
#include "config/XmlHelpers.h"

namespace duz {

int ShutdownFlags(pugi::xml_node root, const std::string& versionName) {
  const std::string name = UpperCase(versionName);
  int flags = DefaultShutdownFlags;
  bool defaultTaken = false;
  for (pugi::xml_node child : root.children("SHUTDOWN")) {
    std::string type = UpperCase(GetAttrDef(child, "type", TVariant::Null{}).ToString());
    if (type == "DEFAULT") {
      if (!defaultTaken) flags = static_cast<int>(GetAttrDef(child, "value", TVariant::Null{}).ToInt());
      defaultTaken = true;
    } else if (type == name) {
      return static_cast<int>(GetAttrDef(child, "value", TVariant::Null{}).ToInt());
    }
  }
  return flags;
}

std::string GetWindowsVersionName() { return ""; }

void RequestSystemShutdown(int flags, const TEventLogger& events) {
  std::string failure;
  // A log-off (no shutdown bit) has no counterpart for a service.
  if (!(flags & (1 | 2 | 8))) {
    failure = "the flags " + std::to_string(flags) + " name no kind of shutdown";
  } else {
    std::vector<std::string> command = {"systemctl", flags & (1 | 8) ? "poweroff" : "reboot"};
    if (const char* program = std::getenv("DUZEZEVOVIVO_SHUTDOWN_COMMAND"); program && *program)
      command = {program, std::to_string(flags)};
    if (StartProcess(command) < 0) failure = "\"" + command[0] + "\" cannot be started";
  }
  if (!failure.empty()) events.LogEvent("Shutdown request failed: " + failure, EVENTLOG_ERROR_TYPE, 0, 0);
}

}  // namespace duz
