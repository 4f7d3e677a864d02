// Time from SIGHUP to READY=1: the real service (under a stand-in for the service manager's
// notification socket) watches 16 pseudo-terminal thermometers, each with a condition and a TCP
// data server, and is reloaded 20 times with the same configuration, then 20 times with one
// thermometer changed each time, then 20 times with all of them changed. Prints p50 and the maximum
// of each. Run with DUZ_BIN_DIR set to the absolute path of build/bin.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/EventLogFile.h"
#include "support/NotifySocket.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using namespace duz;

constexpr int Thermometers = 16;
constexpr int Reloads = 20;

// changed: the thermometers whose max limit differs from the first configuration's.
std::string Config(int changed, int round) {
  std::string xml = "<config>";
  for (int i = 1; i <= Thermometers; ++i)
    xml += "<KELVO comport=\"" + std::to_string(i) + "\" caption=\"T" + std::to_string(i) +
           "\"><CONDITION><max value=\"" + std::to_string(i <= changed ? 60 + round % 2 : 50) +
           "\">hot</max></CONDITION><DATAPUBLISHER type=\"TCPSERVER\" port=\"0\"/></KELVO>";
  return xml + "</config>";
}

}  // namespace

int main() {
  test::TTempDir dir;
  std::filesystem::create_directory(dir.File("work"));
  std::vector<std::unique_ptr<test::TPty>> ports;
  std::map<int, std::string> devices;
  for (int i = 1; i <= Thermometers; ++i) {
    ports.push_back(std::make_unique<test::TPty>());
    devices[i] = ports.back()->SlavePath();
  }
  test::WriteRegistryFile(dir.File("registry.reg"), dir.File("config.xml"), devices);
  dir.Write("config.xml", Config(0, 0));
  test::TNotifySocket manager(dir.File("notify"));
  test::TChildProcess service({test::BinPath("duzezevovivo")},
                              {{"NOTIFY_SOCKET", manager.Path()},
                               {"DUZEZEVOVIVO_EVENTLOG", dir.File("events.log")},
                               {"DUZEZEVOVIVO_REGISTRY", dir.File("registry.reg")},
                               {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"}},
                              dir.File("work"));
  if (!manager.WaitFor("READY=1", 20s)) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  for (const int changed : {0, 1, Thermometers}) {
    std::vector<double> times;
    for (int round = 1; round <= Reloads; ++round) {
      dir.Write("config.xml", Config(changed, round));
      const auto sent = std::chrono::steady_clock::now();
      service.Signal(SIGHUP);
      if (!manager.WaitFor("READY=1", 10s)) {
        std::fprintf(stderr, "no READY=1 after SIGHUP\n");
        return 1;
      }
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%2d thermometers, %2d changed: SIGHUP to READY=1 p50 %.1f ms, max %.1f ms\n", Thermometers,
                changed, times[times.size() / 2], times.back());
  }
  service.Signal(SIGTERM);
  if (service.Wait(10s) != 0) return 1;
  // A reload refused would be quick too.
  const auto texts = test::EventTexts(test::ReadEventLog(dir.File("events.log")), "Deredoru");
  const auto applied = std::count(texts.begin(), texts.end(), "Configuration reloaded");
  std::printf("reloads applied: %ld of %d\n", static_cast<long>(applied), 3 * Reloads);
  return applied == 3 * Reloads ? 0 : 1;
}
