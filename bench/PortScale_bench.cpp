// The cost of a rack of thermometers. N pseudo-terminal thermometers send 10 lines a second each;
// each has an alarm condition (max) and a TCP data server with one client. The service (in service
// mode) runs beside ser2net (Debian package ser2net: one connection per port, forwarding only) and
// the floor (PortFloor: one epoll loop that cuts, parses and forwards), one after the other, each a
// process of its own, for 16, 64 and 128 thermometers. Printed per program: CPU per 1,000 lines
// (the run time of all its threads over the measured seconds), resident size and threads at the
// end, and the lines its clients did not get. Then the latency from a line's carriage return
// written to the terminal to its arrival at each client, with one thermometer and 1 client
// or 100 clients (ser2net takes one), 100 lines a second. BASELINE, when given, is the service of
// another revision, measured the same way. Every figure is the median of the repeats; the programs
// alternate within each repeat. bench/port_scale.sh builds the baseline and runs this. With --day,
// the services start from a saved state that holds a full day of minute history per thermometer, so
// that their resident size is that of a service that has run for a day.
// Usage: PortScale_bench SERVICE [BASELINE] [--seconds S] [--repeat R] [--thermometers N]... [--latency-only]
//        [--day]
#include <fmt/format.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/DateTime.h"
#include "core/PlatformHost.h"
#include "core/WatchState.h"
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
using TClock = std::chrono::steady_clock;

const std::string Line = "*B1E1+023.5C\r";

enum class TKind { Service, Ser2net, Floor };

struct TProgram {
  std::string Name;
  TKind Kind;
  std::string Binary;
};

// The thermometers, their TCP ports and a directory, for one program's run.
struct TRig {
  explicit TRig(int count) {
    // Held bound together until all are picked, so that no port is picked twice.
    std::vector<int> sockets;
    for (int i = 0; i < count; ++i) {
      Ptys.push_back(std::make_unique<test::TPty>());
      sockets.push_back(test::BoundSocket());
      Ports.push_back(test::PortOf(sockets.back()));
    }
    for (int socket : sockets) close(socket);
  }
  test::TTempDir Dir;
  std::vector<std::unique_ptr<test::TPty>> Ptys;
  std::vector<int> Ports;
  std::unique_ptr<test::TNotifySocket> Manager;
};

bool SeedDay = false;

// The state a service leaves after a day: every thermometer's 1,440 minutes, ending now.
void WriteDayOfHistory(TRig& rig) {
  TWatchState state;
  const int64_t now = MinuteOf(ToLocalDateTime(std::chrono::system_clock::now()));
  for (size_t i = 0; i < rig.Ptys.size(); ++i) {
    TSavedThermometer& thermometer = state.Thermometers.emplace_back();
    thermometer.ComPort = static_cast<int>(i + 1);
    thermometer.Caption = fmt::format("T{}", i + 1);
    for (int64_t minute = now - 1439; minute <= now; ++minute) {
      const float value = 20.0F + static_cast<float>(minute % 50) / 10;
      thermometer.History.push_back({minute, value - 0.3F, value, value + 0.2F});
    }
  }
  rig.Dir.Write(StateFileName, WriteWatchState(state));
}

std::unique_ptr<test::TChildProcess> StartService(const std::string& binary, TRig& rig) {
  if (SeedDay) WriteDayOfHistory(rig);
  std::string config = "<config>";
  std::map<int, std::string> devices;
  for (size_t i = 0; i < rig.Ptys.size(); ++i) {
    devices[static_cast<int>(i + 1)] = rig.Ptys[i]->SlavePath();
    config +=
        fmt::format(R"(<Kelvo comport="{}" caption="T{}"><CONDITION><max value="80">hot</max></CONDITION>)"
                    R"(<DATAPUBLISHER type="TCPSERVER" port="{}" maxclients="200"/></Kelvo>)",
                    i + 1, i + 1, rig.Ports[i]);
  }
  rig.Dir.Write("config.xml", config + "</config>");
  test::WriteRegistryFile(rig.Dir.File("registry.reg"), rig.Dir.File("config.xml"), devices);
  rig.Manager = std::make_unique<test::TNotifySocket>(rig.Dir.File("notify"));
  auto service = std::make_unique<test::TChildProcess>(
      std::vector<std::string>{binary},
      std::map<std::string, std::string>{{"NOTIFY_SOCKET", rig.Manager->Path()},
                                         {"DUZEZEVOVIVO_REGISTRY", rig.Dir.File("registry.reg")},
                                         {"DUZEZEVOVIVO_EVENTLOG", rig.Dir.File("events.log")},
                                         {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"},
                                         {"WATCHDOG_USEC", ""},
                                         {"DISPLAY", ""},
                                         {"WAYLAND_DISPLAY", ""}},
      rig.Dir.Path().string());
  if (!rig.Manager->WaitFor("READY=1", 30s)) fprintf(stderr, "%s: not ready\n", binary.c_str());
  return service;
}

std::unique_ptr<test::TChildProcess> StartSer2net(TRig& rig) {
  std::string config;
  for (size_t i = 0; i < rig.Ptys.size(); ++i)
    config += fmt::format(
        "connection: &t{}\n  accepter: tcp,127.0.0.1,{}\n  connector: serialdev,{},9600n81,local\n", i,
        rig.Ports[i], rig.Ptys[i]->SlavePath());
  rig.Dir.Write("ser2net.yaml", config);
  return std::make_unique<test::TChildProcess>(std::vector<std::string>{
      "ser2net", "-n", "-u", "-c", rig.Dir.File("ser2net.yaml"), "-P", rig.Dir.File("ser2net.pid")});
}

std::unique_ptr<test::TChildProcess> StartFloor(const std::string& binary, TRig& rig) {
  std::vector<std::string> argv{binary};
  for (size_t i = 0; i < rig.Ptys.size(); ++i) {
    argv.push_back(rig.Ptys[i]->SlavePath());
    argv.push_back(std::to_string(rig.Ports[i]));
  }
  auto floor = std::make_unique<test::TChildProcess>(argv);
  floor->WaitForOutput("ready", 10s);
  return floor;
}

std::unique_ptr<test::TChildProcess> Start(const TProgram& program, TRig& rig) {
  switch (program.Kind) {
    case TKind::Service:
      return StartService(program.Binary, rig);
    case TKind::Ser2net:
      return StartSer2net(rig);
    case TKind::Floor:
      return StartFloor(program.Binary, rig);
  }
  return nullptr;
}

// Connects clients to every port. A port that does not accept ends the benchmark: a figure
// without it would be no figure.
std::vector<int> Connect(const TProgram& program, test::TChildProcess& process, const TRig& rig,
                         int clientsPerPort) {
  std::vector<int> clients;
  for (int port : rig.Ports)
    for (int c = 0; c < clientsPerPort; ++c) {
      int fd = -1;
      if (!test::WaitUntil([&] { return (fd = test::ConnectLoopback(port)) >= 0; }, 10s)) {
        fprintf(stderr, "%s does not accept on port %d\n%s", program.Name.c_str(), port,
                process.Stderr().c_str());
        exit(1);
      }
      clients.push_back(fd);
    }
  return clients;
}

// Reads every client on a thread of its own and counts the lines each got; with sent times, also
// the latency of each line after the first warmUp.
class TReader {
 public:
  TReader(const std::vector<int>& clients, const std::vector<std::atomic<int64_t>>* sent = nullptr,
          int warmUp = 0)
      : FClients(clients), FCounts(clients.size()), FSent(sent), FWarmUp(warmUp) {
    FThread = std::thread([this] { Run(); });
  }
  ~TReader() {
    Stop();
    for (int fd : FClients) close(fd);
  }
  int64_t Lines() const { return FLines; }
  void Stop() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
  }
  // Nanoseconds, sorted; after Stop.
  std::vector<int64_t> Latencies() {
    std::sort(FLatencies.begin(), FLatencies.end());
    return FLatencies;
  }

 private:
  void Run() {
    int epoll = epoll_create1(EPOLL_CLOEXEC);
    for (size_t i = 0; i < FClients.size(); ++i) {
      epoll_event event{EPOLLIN, {.u64 = i}};
      epoll_ctl(epoll, EPOLL_CTL_ADD, FClients[i], &event);
    }
    std::vector<epoll_event> events(256);
    char buffer[65536];
    while (!FStop) {
      int n = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 100);
      for (int e = 0; e < n; ++e) {
        const size_t c = events[e].data.u64;
        ssize_t size;
        while ((size = recv(FClients[c], buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
          const int64_t now = TClock::now().time_since_epoch().count();
          for (ssize_t b = 0; b < size; ++b) {
            if (buffer[b] != '\r') continue;
            const int64_t index = FCounts[c]++;
            ++FLines;
            if (FSent && index >= FWarmUp && index < static_cast<int64_t>(FSent->size()))
              FLatencies.push_back(now -
                                   (*FSent)[static_cast<size_t>(index)].load(std::memory_order_acquire));
          }
        }
      }
    }
    close(epoll);
  }

  std::vector<int> FClients;
  std::vector<int64_t> FCounts;
  const std::vector<std::atomic<int64_t>>* FSent;
  const int FWarmUp;
  std::vector<int64_t> FLatencies;
  std::atomic<int64_t> FLines{0};
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// Run time of every thread of the process, in nanoseconds.
int64_t RunTime(int pid) {
  int64_t total = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream stat(task.path() / "schedstat");
    int64_t nanoseconds = 0;
    if (stat >> nanoseconds) total += nanoseconds;
  }
  return total;
}

// A field of /proc/<pid>/status (kB for sizes), or -1.
long Status(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

void Stop(test::TChildProcess& process) {
  process.Signal(SIGTERM);
  if (process.Wait(10s) == -1) process.Signal(SIGKILL);
}

struct TCost {
  double CpuPerThousand = 0;  // ms of CPU per 1,000 lines
  double ResidentMiB = 0;
  double Threads = 0;
  double Lost = 0;  // lines written that no client got
};

TCost MeasureCost(const TProgram& program, int thermometers, int seconds) {
  TRig rig(thermometers);
  auto process = Start(program, rig);
  TReader reader(Connect(program, *process, rig, 1));
  std::atomic<bool> stop{false};
  std::atomic<int64_t> written{0};
  std::thread thermometer([&] {
    // 10 lines a second from each, spread evenly over the 100 ms.
    const auto step = std::chrono::nanoseconds(100ms) / thermometers;
    auto next = TClock::now();
    for (size_t k = 0; !stop; ++k) {
      std::this_thread::sleep_until(next);
      next += step;
      rig.Ptys[k % rig.Ptys.size()]->Write(Line);
      ++written;
    }
  });
  std::this_thread::sleep_for(3s);  // every client taken in, the program warm
  const int64_t startTime = RunTime(process->Pid()), startLines = written;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const int64_t runTime = RunTime(process->Pid()) - startTime, lines = written - startLines;
  TCost cost;
  cost.CpuPerThousand = static_cast<double>(runTime) / 1e6 / static_cast<double>(lines) * 1000;
  cost.ResidentMiB = static_cast<double>(Status(process->Pid(), "VmRSS")) / 1024;
  cost.Threads = static_cast<double>(Status(process->Pid(), "Threads"));
  stop = true;
  thermometer.join();
  test::WaitUntil([&] { return reader.Lines() >= written; }, 3s);
  cost.Lost = static_cast<double>(written - reader.Lines());
  Stop(*process);
  return cost;
}

struct TLatency {
  double P50 = 0, P99 = 0;  // microseconds
};

TLatency MeasureLatency(const TProgram& program, int clientCount) {
  constexpr int WarmUp = 50, Lines = 1000;
  TRig rig(1);
  auto process = Start(program, rig);
  std::vector<int> clients = Connect(program, *process, rig, clientCount);
  std::this_thread::sleep_for(500ms);  // every client taken in
  std::vector<std::atomic<int64_t>> sent(WarmUp + Lines);
  TReader reader(clients, &sent, WarmUp);
  auto next = TClock::now();
  for (auto& time : sent) {
    std::this_thread::sleep_until(next);
    next += 10ms;
    time.store(TClock::now().time_since_epoch().count(), std::memory_order_release);
    rig.Ptys[0]->Write(Line);
  }
  test::WaitUntil([&] { return reader.Lines() >= static_cast<int64_t>(sent.size()) * clientCount; }, 5s);
  reader.Stop();
  std::vector<int64_t> latencies = reader.Latencies();
  Stop(*process);
  if (latencies.empty()) return {};
  const auto at = [&](double q) {
    return static_cast<double>(
               latencies[static_cast<size_t>(q * static_cast<double>(latencies.size() - 1))]) /
           1000;
  };
  return {at(0.5), at(0.99)};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five;
  file >> one >> five;
  return one + " (1 min), " + five + " (5 min)";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> binaries;
  int seconds = 20, repeat = 3;
  std::vector<int> counts{16, 64, 128};
  bool countsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc)
      seconds = std::stoi(argv[++i]);
    else if (arg == "--repeat" && i + 1 < argc)
      repeat = std::stoi(argv[++i]);
    else if (arg == "--thermometers" && i + 1 < argc) {
      if (!std::exchange(countsGiven, true)) counts.clear();
      counts.push_back(std::stoi(argv[++i]));
    } else if (arg == "--day") {
      SeedDay = true;
    } else if (arg == "--latency-only") {
      counts.clear();
      countsGiven = true;
    } else {
      binaries.push_back(std::filesystem::absolute(arg).string());
    }
  }
  if (binaries.empty() || binaries.size() > 2) {
    fprintf(stderr,
            "Usage: %s SERVICE [BASELINE] [--seconds S] [--repeat R] [--thermometers N]... [--latency-only]"
            " [--day]\n",
            argv[0]);
    return 2;
  }
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  const std::string floorBinary = (std::filesystem::absolute(argv[0]).parent_path() / "PortFloor").string();
  std::vector<TProgram> programs{{"service", TKind::Service, binaries[0]}};
  if (binaries.size() > 1) programs.push_back({"baseline", TKind::Service, binaries[1]});
  programs.push_back({"ser2net", TKind::Ser2net, "ser2net"});
  programs.push_back({"floor", TKind::Floor, floorBinary});
  printf("load average at the start: %s; median of %d runs\n", LoadAverage().c_str(), repeat);

  for (int thermometers : counts) {
    std::map<std::string, std::vector<TCost>> costs;
    for (int r = 0; r < repeat; ++r)
      for (const TProgram& program : programs)
        costs[program.Name].push_back(MeasureCost(program, thermometers, seconds));
    printf(
        "\n%d thermometers at 10 lines/s, %d s: CPU ms per 1,000 lines, resident MiB, threads, lines lost"
        " (CPU of each run)\n",
        thermometers, seconds);
    for (const TProgram& program : programs) {
      const auto median = [&](double TCost::*field) {
        std::vector<double> values;
        for (const TCost& cost : costs[program.Name]) values.push_back(cost.*field);
        return Median(values);
      };
      printf("  %-9s %8.1f %8.1f %6.0f %6.0f  (", program.Name.c_str(), median(&TCost::CpuPerThousand),
             median(&TCost::ResidentMiB), median(&TCost::Threads), median(&TCost::Lost));
      for (const TCost& cost : costs[program.Name]) printf(" %.1f", cost.CpuPerThousand);
      printf(" )\n");
    }
  }

  for (int clients : {1, 100}) {
    std::map<std::string, std::vector<TLatency>> latencies;
    // ser2net takes one client per port.
    const auto measured = [&](const TProgram& program) {
      return clients == 1 || program.Kind != TKind::Ser2net;
    };
    for (int r = 0; r < repeat; ++r)
      for (const TProgram& program : programs)
        if (measured(program)) latencies[program.Name].push_back(MeasureLatency(program, clients));
    printf(
        "\nlatency, 1 thermometer, %d client%s, 100 lines/s: p50 and p99 in microseconds (p50 of each run)\n",
        clients, clients == 1 ? "" : "s");
    for (const TProgram& program : programs) {
      if (!measured(program)) continue;
      std::vector<double> p50, p99;
      for (const TLatency& latency : latencies[program.Name]) {
        p50.push_back(latency.P50);
        p99.push_back(latency.P99);
      }
      printf("  %-9s %8.0f %8.0f  (", program.Name.c_str(), Median(p50), Median(p99));
      for (double value : p50) printf(" %.0f", value);
      printf(" )\n");
    }
  }
  printf("\nload average at the end: %s\n", LoadAverage().c_str());
  return 0;
}
