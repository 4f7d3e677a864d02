// Latency from the last byte of a line written to the pseudo-terminal to the end of the
// subservice's handling of that line (its children have seen it), over 10,000 lines.
// Prints p50 and p99. Run: build/bin/SerialLatency_bench
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <thread>
#include <vector>

#include "base/EventLoop.h"
#include "core/Kelvo.h"
#include "core/KelvoChild.h"
#include "core/KelvoPlatform.h"
#include "support/Env.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

using namespace duz;
using Clock = std::chrono::steady_clock;

namespace {

class TStopwatch : public TKelvoChild {
 public:
  using TKelvoChild::TKelvoChild;
  void Publish(const std::string&) override {
    Received.push_back(Clock::now());
    ++Count;
  }
  std::vector<Clock::time_point> Received;
  std::atomic<int> Count{0};
};

}  // namespace

int main() {
  constexpr int Lines = 10000;
  test::TTempDir dir;
  test::TPty pty;
  dir.Write("config.xml", "<config/>");
  test::WriteRegistryFile(dir.File("registry.reg"), dir.File("config.xml"), {{1, pty.SlavePath()}});
  test::TScopedEnv registry("DUZEZEVOVIVO_REGISTRY", dir.File("registry.reg"));
  TEventLoop loop;
  TKelvoPlatform platform(nullptr, CreateKelvo);
  pugi::xml_document doc;
  doc.load_string(R"(<Kelvo comport="1"/>)");
  auto* kelvo = new TKelvo(platform, doc.document_element());
  auto* stopwatch = new TStopwatch(*kelvo);
  stopwatch->Received.reserve(Lines);

  std::vector<Clock::time_point> sent(Lines);
  std::thread thermometer([&] {
    for (int i = 0; i < Lines; ++i) {
      // One line at a time: the next is written only after the previous one has been handled.
      while (stopwatch->Count < i) std::this_thread::sleep_for(std::chrono::microseconds(50));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      sent[i] = Clock::now();
      pty.Write("*B1E1+023.5C\r");
    }
  });
  loop.RunUntil([&] { return stopwatch->Count >= Lines; }, std::chrono::minutes(2));
  thermometer.join();

  std::vector<double> micros;
  for (int i = 0; i < Lines && i < static_cast<int>(stopwatch->Received.size()); ++i)
    micros.push_back(std::chrono::duration<double, std::micro>(stopwatch->Received[i] - sent[i]).count());
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros[static_cast<size_t>(q * static_cast<double>(micros.size() - 1))]; };
  std::printf("lines %zu  p50 %.0f us  p99 %.0f us  max %.0f us\n", micros.size(), at(0.5), at(0.99),
              micros.back());
  return micros.size() == Lines ? 0 : 1;
}
