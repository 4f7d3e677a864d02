#include "service/ServiceManager.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace duz {
namespace {

constexpr uint64_t BusTimeoutUs = 2'000'000;

// systemd's own socket answers while the shutdown stops the bus daemon; only root may use it.
sd_bus* OpenManagerBus() {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, "unix:path=/run/systemd/private") >= 0 &&
      sd_bus_start(bus) >= 0)
    return bus;
  sd_bus_unref(bus);
  bus = nullptr;
  return sd_bus_open_system(&bus) >= 0 ? bus : nullptr;
}

}  // namespace

int NotifyServiceManager(const std::string& state) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (!socket || !*socket) return ECONNREFUSED;
  const int result = sd_notify(0, state.c_str());
  return result < 0 ? -result : 0;
}

std::optional<std::chrono::microseconds> WatchdogTimeout() {
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0) return std::nullopt;
  return std::chrono::microseconds(usec);
}

bool SystemdRuns() { return sd_booted() > 0; }

bool SystemStopping() {
  if (!SystemdRuns()) return false;
  sd_bus* bus = OpenManagerBus();
  if (!bus) return false;
  sd_bus_set_method_call_timeout(bus, BusTimeoutUs);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  char* state = nullptr;
  const bool stopping =
      sd_bus_get_property_string(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                 "org.freedesktop.systemd1.Manager", "SystemState", &error, &state) >= 0 &&
      std::strcmp(state, "stopping") == 0;
  std::free(state);
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return stopping;
}

}  // namespace duz
