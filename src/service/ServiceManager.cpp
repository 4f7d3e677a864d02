#include "service/ServiceManager.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "base/Exception.h"
#include "base/SharedLibrary.h"
#include "base/Text.h"
#include "base/UnixDatagram.h"

namespace duz {
namespace {

constexpr uint64_t BusTimeoutUs = 2'000'000;

// What SystemStopping takes from libsystemd. The library and what it brings weigh about a megabyte
// resident, for one question at the stop, so it is loaded then and not linked.
struct TBusLibrary {
  decltype(&sd_bus_new) New = nullptr;
  decltype(&sd_bus_set_address) SetAddress = nullptr;
  decltype(&sd_bus_start) Start = nullptr;
  decltype(&sd_bus_open_system) OpenSystem = nullptr;
  decltype(&sd_bus_unref) Unref = nullptr;
  decltype(&sd_bus_flush_close_unref) FlushCloseUnref = nullptr;
  decltype(&sd_bus_set_method_call_timeout) SetMethodCallTimeout = nullptr;
  decltype(&sd_bus_get_property_string) GetPropertyString = nullptr;
  decltype(&sd_bus_error_free) ErrorFree = nullptr;
};

// Nothing when the library or one of its functions is missing.
std::optional<TBusLibrary> LoadBusLibrary() {
  try {
    const TSharedLibrary library("libsystemd.so.0");
    return TBusLibrary{
        .New = DUZ_LIBRARY_FUNCTION(library, sd_bus_new),
        .SetAddress = DUZ_LIBRARY_FUNCTION(library, sd_bus_set_address),
        .Start = DUZ_LIBRARY_FUNCTION(library, sd_bus_start),
        .OpenSystem = DUZ_LIBRARY_FUNCTION(library, sd_bus_open_system),
        .Unref = DUZ_LIBRARY_FUNCTION(library, sd_bus_unref),
        .FlushCloseUnref = DUZ_LIBRARY_FUNCTION(library, sd_bus_flush_close_unref),
        .SetMethodCallTimeout = DUZ_LIBRARY_FUNCTION(library, sd_bus_set_method_call_timeout),
        .GetPropertyString = DUZ_LIBRARY_FUNCTION(library, sd_bus_get_property_string),
        .ErrorFree = DUZ_LIBRARY_FUNCTION(library, sd_bus_error_free),
    };
  } catch (const Exception&) {
    return std::nullopt;
  }
}

// systemd's own socket answers while the shutdown stops the bus daemon; only root may use it.
sd_bus* OpenManagerBus(const TBusLibrary& lib) {
  sd_bus* bus = nullptr;
  if (lib.New(&bus) >= 0 && lib.SetAddress(bus, "unix:path=/run/systemd/private") >= 0 && lib.Start(bus) >= 0)
    return bus;
  lib.Unref(bus);
  bus = nullptr;
  return lib.OpenSystem(&bus) >= 0 ? bus : nullptr;
}

}  // namespace

int NotifyServiceManager(const std::string& state) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (!socket || !*socket) return ECONNREFUSED;
  return SendUnixDatagram(socket, state);
}

std::optional<std::chrono::microseconds> WatchdogTimeout() {
  const char* usecText = std::getenv("WATCHDOG_USEC");
  const std::optional<uint64_t> usec =
      usecText ? ParseNumber<uint64_t>(usecText, 0, UINT64_MAX) : std::nullopt;
  if (!usec || *usec == 0 || *usec == UINT64_MAX) return std::nullopt;  // UINT64_MAX: infinity
  if (const char* pid = std::getenv("WATCHDOG_PID")) {
    const std::optional<pid_t> owner = ParseNumber<pid_t>(pid, 0, std::numeric_limits<pid_t>::max());
    if (!owner || *owner != getpid()) return std::nullopt;
  }
  return std::chrono::microseconds(*usec);
}

bool SystemdRuns() { return access("/run/systemd/system/", F_OK) == 0; }

bool SystemStopping() {
  if (!SystemdRuns()) return false;
  // Loaded once and kept for the rest of the process.
  static const std::optional<TBusLibrary> lib = LoadBusLibrary();
  if (!lib) return false;
  sd_bus* bus = OpenManagerBus(*lib);
  if (!bus) return false;
  lib->SetMethodCallTimeout(bus, BusTimeoutUs);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  char* state = nullptr;
  const bool stopping =
      lib->GetPropertyString(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                             "org.freedesktop.systemd1.Manager", "SystemState", &error, &state) >= 0 &&
      std::strcmp(state, "stopping") == 0;
  std::free(state);
  lib->ErrorFree(&error);
  lib->FlushCloseUnref(bus);
  return stopping;
}

}  // namespace duz
