#include "service/Installer.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/ProcessStart.h"
#include "config/Registry.h"
#include "service/Deredoru.h"
#include "service/ServiceManager.h"
#include "service/UnitTemplate.h"

namespace duz {
namespace {

constexpr const char* UnitName = "Deredoru.service";
constexpr const char* UnitDirVariable = "DUZEZEVOVIVO_UNIT_DIR";

[[noreturn]] void Fail(int error) { throw std::system_error(error, std::generic_category()); }

bool CustomUnitDirectory() {
  const char* dir = std::getenv(UnitDirVariable);
  return dir && *dir;
}

bool TellSystemd() { return !CustomUnitDirectory() && SystemdRuns(); }

// systemctl writes its own reason to stderr; the code only says that it failed.
void Systemctl(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"systemctl", "--quiet"});
  if (RunProcess(arguments) != 0) Fail(EIO);
}

std::string ExecutablePath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

// "x": created exclusively, so an existing unit fails the installation without being touched.
void WriteNewFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wx");
  if (!file) Fail(errno);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                       std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
  const int error = errno;
  if (std::fclose(file) != 0 || !written) {
    ::unlink(path.c_str());
    Fail(written ? errno : error);
  }
}

// The errno value behind the exception being handled.
int CurrentErrorCode() {
  try {
    throw;
  } catch (const std::system_error& error) {
    return error.code().value();
  } catch (const ERegistryException& error) {
    return error.Code() != 0 ? error.Code() : EIO;
  } catch (...) {
    return EIO;
  }
}

void UndoInstall(const std::string& unit, bool eventSourceExisted) {
  ::unlink(unit.c_str());
  try {
    RegistryDeleteKey(ServiceKey);
    if (!eventSourceExisted) RegistryDeleteKey(EventSourceKey);
  } catch (const std::exception&) {
    // The registry that failed the installation may refuse this too; the unit is gone anyway.
  }
  if (TellSystemd()) RunProcess({"systemctl", "--quiet", "daemon-reload"});
}

}  // namespace

std::string ServiceUnitPath() {
  const char* dir = std::getenv(UnitDirVariable);
  return std::string(dir && *dir ? dir : "/etc/systemd/system") + "/" + UnitName;
}

std::string ServiceUnitText(const std::string& executable) {
  // Inside double quotes systemd takes C escapes; "%" starts a specifier everywhere.
  std::string command = "\"";
  for (unsigned char c : executable) {
    if (c == '"' || c == '\\')
      command += {'\\', static_cast<char>(c)};
    else if (c == '%')
      command += "%%";
    else if (c < 0x20 || c == 0x7f)
      command += fmt::format("\\x{:02x}", c);
    else
      command += static_cast<char>(c);
  }
  command += '"';
  std::string unit = ServiceUnitTemplate;
  constexpr std::string_view Placeholder = "@EXECUTABLE@";
  for (size_t at = 0; (at = unit.find(Placeholder, at)) != std::string::npos; at += command.size())
    unit.replace(at, Placeholder.size(), command);
  return unit;
}

int InstallService(TDeredoru& module) {
  const std::string unit = ServiceUnitPath();
  bool unitWritten = false;
  bool eventSourceExisted = true;
  try {
    const std::string executable = ExecutablePath();
    WriteNewFile(unit, ServiceUnitText(executable));
    unitWritten = true;
    eventSourceExisted = RegistryKeyExists(EventSourceKey);
    RegistryCreateKey(ServiceKey);
    module.ServiceAfterInstall(executable);
    if (TellSystemd()) {
      Systemctl({"daemon-reload"});
      Systemctl({"enable", UnitName});
    }
    return 0;
  } catch (...) {
    const int error = CurrentErrorCode();
    if (unitWritten) UndoInstall(unit, eventSourceExisted);
    return error;
  }
}

int UninstallService(TDeredoru& module) {
  const std::string unit = ServiceUnitPath();
  try {
    struct stat info {};
    if (::lstat(unit.c_str(), &info) != 0) Fail(errno);
    if (TellSystemd()) Systemctl({"disable", UnitName});
    if (::unlink(unit.c_str()) != 0) Fail(errno);
    RegistryDeleteKey(ServiceKey);
    if (TellSystemd()) Systemctl({"daemon-reload"});
    module.ServiceAfterUninstall();
    return 0;
  } catch (...) {
    return CurrentErrorCode();
  }
}

int RunInstaller(TDeredoru& module, const TSwitches& switches) {
  const bool install = switches.Install;
  const int error = install ? InstallService(module) : UninstallService(module);
  if (error == 0) {
    if (!switches.Silent)
      std::printf("%s\n", install ? "Service installed successfully" : "Service uninstalled successfully");
    return 0;
  }
  std::fprintf(stderr, "Service \"%s\" failed to %s with error: \"System Error.  Code: %d.\r\n%s\"\n",
               ServiceDisplayName, install ? "install" : "uninstall", error, std::strerror(error));
  return 1;
}

}  // namespace duz
