#pragma once
// INSTALL and UNINSTALL: the systemd unit Deredoru.service in DUZEZEVOVIVO_UNIT_DIR (default
// /etc/systemd/system) together with the registry keys of the service. systemctl is told about the
// unit (daemon-reload, enable, disable) only when systemd runs and the unit is in its default
// directory: a unit written elsewhere is for staging or packaging, outside systemd's view.
// Main thread.
#include <string>

#include "service/Switches.h"

namespace duz {

class TDeredoru;

std::string ServiceUnitPath();
// The unit that runs executable as the service; the path is quoted and escaped for ExecStart=.
std::string ServiceUnitText(const std::string& executable);

// Return 0, or the errno value of the step that failed. A failed installation leaves nothing of
// itself behind; an existing unit fails it before anything is touched.
int InstallService(TDeredoru& module);
int UninstallService(TDeredoru& module);

// The INSTALL or UNINSTALL run (INSTALL wins): success on stdout unless SILENT, failure on stderr.
// Returns the exit status.
int RunInstaller(TDeredoru& module, const TSwitches& switches);

}  // namespace duz
