// The cost of the metrics server with 16 thermometers (two conditions each, a full 24-hour
// history): requests per second of /metrics, / and /api/status asked one after another with every
// thread on one core, and the CPU time per request (server and client). Then the TCP data
// server's fan-out to 100 clients, in turns not scraped and scraped 10 times a second, to show
// whether the scrapes reach the watch. Run: build/bin/MetricsScrape_bench
#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "FanoutProbe.h"
#include "base/Clock.h"
#include "status/StatusBoard.h"
#include "support/HttpClient.h"
#include "web/MetricsServer.h"

using namespace duz;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

constexpr int Thermometers = 16;
constexpr auto MeasuredTime = 3s;

std::vector<std::shared_ptr<TKelvoStatus>> MakeThermometers(TStatusBoard& board) {
  std::vector<std::shared_ptr<TKelvoStatus>> list;
  const TDateTime now = Now();
  for (int i = 1; i <= Thermometers; ++i) {
    auto& status = list.emplace_back(board.Add("Server room " + std::to_string(i), i));
    for (int condition = 0; condition < 2; ++condition) {
      const int index = status->AddCondition();
      status->SetConditionState(index, stNormal);
      status->SetConditionLimits(index, 15, 30, 60);
    }
    for (int minute = 1440; minute > 0; --minute)
      status->AddToHistory(now - minute / MinutesPerDay, 21.5f + static_cast<float>(i % 3));
    status->LineReceived(21.5f, now);
    status->CountEmail(true);
    status->CountSave("XML", true);
  }
  return list;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TMetricsSettings Loopback() {
  TMetricsSettings settings;
  settings.Address = "127.0.0.1";
  settings.Port = 0;
  return settings;
}

// Every thread that this starts runs on the first core this process may use.
void RequestRates(const TStatusBoard& board) {
  cpu_set_t all, one;
  sched_getaffinity(0, sizeof all, &all);
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &one);
      break;
    }
  sched_setaffinity(0, sizeof one, &one);
  {
    TMetricsServer server(Loopback(), board);
    for (const char* path : {"/metrics", "/", "/api/status"}) {
      size_t bytes = 0;
      int requests = 0;
      const double cpuBefore = CpuSeconds();
      const auto start = TClock::now();
      while (TClock::now() - start < MeasuredTime) {
        const test::THttpResponse response = test::HttpRequest(server.Port(), path);
        if (response.Status != 200) {
          fprintf(stderr, "%s: status %d\n", path, response.Status);
          return;
        }
        bytes = response.Body.size();
        ++requests;
      }
      const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
      printf("%-12s %7zu bytes  %7.0f requests/s on one core  CPU %7.1f us per request\n", path, bytes,
             requests / seconds, (CpuSeconds() - cpuBefore) / requests * 1e6);
    }
  }
  sched_setaffinity(0, sizeof all, &all);
}

void FanoutWhileScraped(const TStatusBoard& board) {
  TFanoutProbe probe;
  for (int round = 0; round < 2; ++round) {
    printf("not scraped    ");
    fflush(stdout);
    probe.Measure(100, false);

    TMetricsServer server(Loopback(), board);
    std::atomic<bool> stop{false};
    std::atomic<int> scrapes{0};
    std::thread scraper([&] {
      for (auto next = TClock::now(); !stop; next += 100ms) {
        std::this_thread::sleep_until(next);
        if (test::HttpRequest(server.Port(), "/metrics").Status == 200) ++scrapes;
      }
    });
    printf("scraped 10/s   ");
    fflush(stdout);
    probe.Measure(100, false);
    stop = true;
    scraper.join();
    printf("               (%d scrapes)\n", scrapes.load());
  }
}

}  // namespace

int main() {
  const auto board = std::make_shared<TStatusBoard>();
  const auto thermometers = MakeThermometers(*board);
  RequestRates(*board);
  FanoutWhileScraped(*board);
  return 0;
}
