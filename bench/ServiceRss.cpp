// Resident memory of the service: each binary given runs in service mode (under a stand-in for the
// service manager's notification socket) watching one pseudo-terminal thermometer with a TCP data
// server; one TCP client connects and 1,000 thermometer lines pass through to it. Then the binary's
// VmRSS (now) and VmHWM (peak) are printed in KiB. Every binary runs the same way, one after the other.
// Usage: ServiceRss BINARY...
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/Env.h"
#include "support/LoopbackServer.h"
#include "support/NotifySocket.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using namespace duz;

constexpr int Lines = 1000;
const std::string Line = "*B1E1+023.5C\r";

// A field of /proc/<pid>/status in KiB, or -1.
long StatusKiB(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

// Returns false when the scenario could not be run (then nothing is printed for the binary).
bool Measure(const std::string& binary) {
  test::TTempDir dir;
  test::TPty thermometer;
  test::TNotifySocket manager(dir.File("notify"));
  const int port = test::UnusedPort();
  dir.Write("config.xml",
            "<config><Kelvo comport=\"1\" caption=\"Server room\">"
            "<DATAPUBLISHER type=\"TCPSERVER\" port=\"" +
                std::to_string(port) + "\"/></Kelvo></config>");
  test::WriteRegistryFile(dir.File("registry.reg"), dir.File("config.xml"), {{1, thermometer.SlavePath()}});
  test::TChildProcess service({binary},
                              {{"NOTIFY_SOCKET", manager.Path()},
                               {"DUZEZEVOVIVO_REGISTRY", dir.File("registry.reg")},
                               {"DUZEZEVOVIVO_EVENTLOG", dir.File("events.log")},
                               {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"},
                               {"WATCHDOG_USEC", ""},
                               {"DISPLAY", ""},
                               {"WAYLAND_DISPLAY", ""}},
                              dir.Path().string());
  if (!manager.WaitFor("READY=1", 10s)) {
    std::fprintf(stderr, "%s: not ready\n%s", binary.c_str(), service.Stderr().c_str());
    return false;
  }
  int client = -1;
  test::WaitUntil([&] { return (client = test::ConnectLoopback(port)) >= 0; }, 10s);
  if (client < 0) {
    std::fprintf(stderr, "%s: the TCP data server does not accept\n", binary.c_str());
    return false;
  }
  // The kernel accepts before the service's loop has taken the client in.
  std::this_thread::sleep_for(200ms);
  std::string received;
  int count = 0;
  for (int i = 0; i < Lines; ++i) {
    thermometer.Write(Line);
    std::this_thread::sleep_for(1ms);  // a pseudo-terminal holds only a few kilobytes
  }
  while (count < Lines && test::ReadUntil(client, received, "\r", 5s)) ++count;
  close(client);
  std::this_thread::sleep_for(500ms);
  const long rss = StatusKiB(service.Pid(), "VmRSS"), peak = StatusKiB(service.Pid(), "VmHWM");
  service.Signal(SIGTERM);
  service.Wait(10s);
  std::printf("%s: %d of %d lines forwarded, VmRSS %ld KiB (%.1f MiB), VmHWM %ld KiB (%.1f MiB)\n",
              binary.c_str(), count, Lines, rss, static_cast<double>(rss) / 1024.0, peak,
              static_cast<double>(peak) / 1024.0);
  return count == Lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Usage: %s BINARY...\n", argv[0]);
    return 2;
  }
  bool all = true;
  for (int i = 1; i < argc; ++i) all = Measure(std::filesystem::absolute(argv[i]).string()) && all;
  return all ? 0 : 1;
}
