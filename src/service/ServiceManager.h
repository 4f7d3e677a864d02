#pragma once
// The systemd side of the service host: status notifications to the service manager that started
// us (NOTIFY_SOCKET), and what systemd says about the machine. Free functions; any thread.
#include <chrono>
#include <optional>
#include <string>

namespace duz {

// Sends one notification such as "READY=1". Returns 0, or a positive errno value: ECONNREFUSED
// when no service manager started us (NOTIFY_SOCKET unset or empty), else the error of the send.
int NotifyServiceManager(const std::string& state);

// The manager's watchdog time-out (WATCHDOG_USEC, when WATCHDOG_PID is unset or names this process);
// nothing when its watchdog is off.
std::optional<std::chrono::microseconds> WatchdogTimeout();

// systemd is the running init system (/run/systemd/system exists).
bool SystemdRuns();

// The machine is shutting down or rebooting (systemd's SystemState is "stopping"). False when
// systemd does not run or cannot be asked within its time-out.
bool SystemStopping();

}  // namespace duz
