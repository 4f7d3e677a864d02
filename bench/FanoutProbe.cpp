#include "FanoutProbe.h"

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <thread>
#include <vector>

#include "base/EventLoop.h"
#include "core/DpTcpServer.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "support/RegistryFile.h"

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace duz {
namespace {

constexpr int LinesPerSecond = 100;
constexpr int MeasuredLines = 500;
constexpr int FillLines = 300;  // 1 KiB lines: more than a stalled client's queue and socket buffers
const std::string Line = "+021.5C\r";
const std::string FillLine = std::string(1000, 'x') + Line;

int Connect(uint16_t port, int receiveBuffer) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    perror("connect");
    exit(1);
  }
  return fd;
}

// The subservice with one TCP server, living on its own owner thread. With an SMTP or a webhook
// port, it also has a condition that e-mails through that server, or posts to it, when a reading is
// above 50. With a state file, a change is noted every 50 ms, so that its tick thread writes the
// state at every pass (once a second), the most it ever does.
class TOwner {
 public:
  TOwner(int maxClients, int smtpPort, int webhookPort, const std::string& stateFile) {
    std::promise<void> ready;
    FThread = std::thread([&] {
      TEventLoop loop;
      TKelvoPlatform platform(nullptr, CreateKelvo, {}, nullptr, stateFile);
      const std::string action =
          smtpPort      ? R"(<email address="ops@example.com"/>)"
          : webhookPort ? R"(<webhook url="http://127.0.0.1:)" + std::to_string(webhookPort) + R"(/hook"/>)"
                        : "";
      const std::string alarm =
          action.empty() ? "" : R"(<CONDITION><max value="50">hot</max>)" + action + "</CONDITION>";
      const std::string smtp = smtpPort ? R"(<SMTP address="127.0.0.1" port=")" + std::to_string(smtpPort) +
                                              R"(" from="a@example.com"/>)"
                                        : "";
      pugi::xml_document doc;
      doc.load_string(("<config>" + smtp + R"(<Kelvo comport="1">)" + alarm +
                       R"(<DataPublisher type="TcpServer" port="0" maxclients=")" +
                       std::to_string(maxClients) + R"("/></Kelvo></config>)")
                          .c_str());
      auto* kelvo = new TKelvo(platform, doc.document_element().child("Kelvo"));
      for (int i = 0; i < kelvo->ComponentCount(); ++i)
        if (auto* server = dynamic_cast<TdpTcpServer*>(kelvo->Component(i))) FServer = server;
      FLoop = &loop;
      FPlatform = &platform;
      ready.set_value();
      loop.Run();
    });
    ready.get_future().wait();
    if (!stateFile.empty())
      FNudger = std::thread([this] {
        while (!FNudgerStop) {
          FPlatform->NoteStateChange();
          std::this_thread::sleep_for(50ms);
        }
      });
  }
  ~TOwner() {
    FNudgerStop = true;
    if (FNudger.joinable()) FNudger.join();
    FLoop->Stop();
    FThread.join();
  }
  uint16_t Port() {
    uint16_t port = 0;
    FLoop->Invoke([&] { port = FServer->Port(); }, 2000ms);
    return port;
  }
  // CPU time the owner thread has used: the fan-out cost without the machine's other load.
  double CpuSeconds() {
    timespec time{};
    FLoop->Invoke([&] { clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time); }, 30s);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
  }
  // Alarms in the outboxes, those being tried included.
  size_t AlarmsPending() { return FPlatform->MailOutbox().Pending() + FPlatform->WebhookOutbox().Pending(); }
  size_t ClientCount() {
    size_t count = 0;
    FLoop->Invoke([&] { count = FServer->ClientCount(); }, 2000ms);
    return count;
  }

 private:
  std::thread FThread;
  TEventLoop* FLoop = nullptr;
  TdpTcpServer* FServer = nullptr;
  TKelvoPlatform* FPlatform = nullptr;
  std::thread FNudger;
  std::atomic<bool> FNudgerStop{false};
};

}  // namespace

TFanoutProbe::TFanoutProbe() {
  FDir.Write("config.xml", "<config/>");
  test::WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"), {{1, FPty.SlavePath()}});
}

void TFanoutProbe::Measure(int clients, bool stalled, int smtpPort, int webhookPort, bool stateWrites) {
  test::TPty& pty = FPty;
  // Without room for every client, those beyond the server's default of 64 would be refused.
  TOwner owner(clients + (stalled ? 1 : 0), smtpPort, webhookPort, stateWrites ? FDir.File("state") : "");
  const bool alarm = smtpPort || webhookPort;
  std::vector<int> fds;
  for (int i = 0; i < clients; ++i) fds.push_back(Connect(owner.Port(), 0));
  int stalledFd = stalled ? Connect(owner.Port(), 4096) : -1;
  size_t expected = clients + (stalled ? 1 : 0);
  auto deadline = TClock::now() + 10s;
  while (owner.ClientCount() < expected && TClock::now() < deadline) std::this_thread::sleep_for(10ms);

  // The alarm: the first line after the creation is never evaluated, the second fires the e-mail.
  const std::vector<std::string> alarmLines = {Line, "+099.0C\r"};
  int warmUp = stalled ? FillLines : alarm ? static_cast<int>(alarmLines.size()) : 0;
  std::vector<std::atomic<int64_t>> sent(warmUp + MeasuredLines);
  std::vector<int> received(clients, 0);
  std::vector<int64_t> latencies;
  latencies.reserve(static_cast<size_t>(clients) * MeasuredLines);
  std::atomic<bool> stop{false};
  std::atomic<int> done{0};  // clients that have every line

  std::thread reader([&] {
    int epoll = epoll_create1(0);
    for (int i = 0; i < clients; ++i) {
      epoll_event event{EPOLLIN, {.u32 = static_cast<uint32_t>(i)}};
      epoll_ctl(epoll, EPOLL_CTL_ADD, fds[i], &event);
    }
    std::vector<epoll_event> events(256);
    char buffer[65536];
    while (!stop) {
      int n = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 100);
      for (int e = 0; e < n; ++e) {
        int c = static_cast<int>(events[e].data.u32);
        ssize_t size;
        while ((size = recv(fds[c], buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
          int64_t now = TClock::now().time_since_epoch().count();
          for (ssize_t b = 0; b < size; ++b) {
            if (buffer[b] != '\r') continue;
            int index = received[c]++;
            if (index >= warmUp) latencies.push_back(now - sent[index].load(std::memory_order_acquire));
            if (received[c] == warmUp + MeasuredLines) ++done;
          }
        }
      }
    }
    close(epoll);
  });

  for (int i = 0; i < warmUp; ++i) {
    sent[i] = TClock::now().time_since_epoch().count();
    pty.Write(stalled ? FillLine : alarmLines[i]);
    std::this_thread::sleep_for(2ms);
  }
  auto next = TClock::now() + 500ms;  // the readers catch up with the fill first
  std::this_thread::sleep_until(next);
  double cpuBefore = owner.CpuSeconds();
  for (int i = warmUp; i < warmUp + MeasuredLines; ++i) {
    std::this_thread::sleep_until(next);
    next += std::chrono::microseconds(1000000 / LinesPerSecond);
    sent[i].store(TClock::now().time_since_epoch().count(), std::memory_order_release);
    pty.Write(Line);
  }
  deadline = TClock::now() + 10s;
  while (done < clients && TClock::now() < deadline) std::this_thread::sleep_for(10ms);
  stop = true;
  reader.join();
  double cpuPerLine = (owner.CpuSeconds() - cpuBefore) / MeasuredLines * 1e6;

  std::sort(latencies.begin(), latencies.end());
  auto percentile = [&](double p) {
    if (latencies.empty()) return 0.0;
    return std::chrono::duration<double, std::micro>(
               TClock::duration(
                   latencies[static_cast<size_t>(p * static_cast<double>(latencies.size() - 1))]))
        .count();
  };
  printf("%5d clients%-17s  samples %7zu of %7d  p50 %8.1f us  p99 %8.1f us  max %9.1f us", clients,
         stalled       ? " + 1 stalled"
         : smtpPort    ? " + stuck e-mail"
         : webhookPort ? " + stuck webhook"
         : stateWrites ? " + state writes"
                       : "",
         latencies.size(), clients * MeasuredLines, percentile(0.5), percentile(0.99), percentile(1.0));
  printf("  owner CPU per line %7.1f us", cpuPerLine);
  if (alarm) printf("  alarms still unsent %zu", owner.AlarmsPending());
  if (stalled) {
    // What the stalled client got: fewer lines than were sent means it was losing lines.
    std::string data;
    char buffer[65536];
    ssize_t size;
    while ((size = recv(stalledFd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) data.append(buffer, size);
    printf("  stalled client holds %zu of %d lines", std::count(data.begin(), data.end(), '\r'),
           warmUp + MeasuredLines);
    close(stalledFd);
  }
  printf("\n");
  for (int fd : fds) close(fd);
}

}  // namespace duz
