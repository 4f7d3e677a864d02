#pragma once
// TServiceMonitor: what the main thread tells the service manager while the service runs. WATCHDOG=1
// every WATCHDOG_USEC/3 (only when the manager's watchdog is on), and only while the watch is alive,
// so that a hung owner thread or a tick loop that has ended lets the watchdog run out and systemd
// restart the service; and STATUS= with the state of every thermometer whenever it changes. Main
// thread; Poll it more often than either is due.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "status/StatusBoard.h"

namespace duz {

// The longest status line, in characters; a longer one is cut and ends in "…".
inline constexpr size_t MaxStatusChars = 200;

// "3 thermometers: Server room 23.5 °C normal; Rack 2 41.0 °C max; UPS lost": per thermometer its
// caption, its last temperature with the regional decimal separator and the state of each of its
// conditions, or "lost" when it is not connected.
std::string FormatStatusLine(const TPlatformSnapshot& snapshot);

class TServiceMonitor {
 public:
  // alive: the watch has made progress lately. board: the status board whose status lines may be
  // sent now, or nullptr (while the start or the stop has its own status).
  TServiceMonitor(std::function<bool()> alive, std::function<std::shared_ptr<const TStatusBoard>()> board);

  void Poll();

 private:
  std::function<bool()> FAlive;
  std::function<std::shared_ptr<const TStatusBoard>()> FBoard;
  std::optional<std::chrono::steady_clock::duration> FWatchdogPeriod;
  std::chrono::steady_clock::time_point FNextWatchdog;
  std::string FStatus;  // the last one sent
};

}  // namespace duz
