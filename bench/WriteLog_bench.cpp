// What WriteLog costs its caller, with one and with two producer threads, beside a baseline that
// does only the unavoidable: one allocation, one clock read, one short critical section (its
// entries freed on another thread, as the writer frees the real ones). Prints the ratio of the
// medians. The log files go to a temporary directory.
// Run: build/bin/WriteLog_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "base/Clock.h"
#include "log/Logger.h"
#include "support/TempDir.h"

namespace {

using namespace duz;

const std::string Line = "[Thermometer 1] rcv data: *B1E1+023.5C";
constexpr int LinesPerRun = 200000;  // bounded, so that the writer keeps up between repetitions
constexpr int Repetitions = 15;

// The baseline's queue: the same work as the log queue minus everything particular to it.
struct TNode {
  TDateTime Time;
  TNode* Next;
};
std::mutex BaselineLock;
TNode* BaselineHead = nullptr;  // guarded by BaselineLock

void FreeList(TNode* node) {
  while (node) ::operator delete(std::exchange(node, node->Next));
}

void BM_Baseline(benchmark::State& state) {
  for (auto _ : state) {
    auto* node = static_cast<TNode*>(::operator new(sizeof(TNode) + Line.size()));
    std::memcpy(node + 1, Line.data(), Line.size());
    node->Time = Now();
    std::lock_guard lock(BaselineLock);
    node->Next = BaselineHead;
    BaselineHead = node;
  }
}

void BM_WriteLog(benchmark::State& state) {
  for (auto _ : state) WriteLog(Line);
}

BENCHMARK(BM_Baseline)->Threads(1)->Threads(2)->Iterations(LinesPerRun)->Repetitions(Repetitions);
BENCHMARK(BM_WriteLog)->Threads(1)->Threads(2)->Iterations(LinesPerRun)->Repetitions(Repetitions);

// Keeps the median CPU time per line of each benchmark and thread count.
class TMedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.aggregate_name == "median")
        FMedians[{run.run_name.function_name, run.threads}] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    for (int threads : {1, 2})
      if (FMedians.contains({"BM_WriteLog", threads}) && FMedians.contains({"BM_Baseline", threads}))
        std::printf("threads %d: WriteLog %.1f ns, baseline %.1f ns, median ratio %.2f (goal <= 1.5)\n",
                    threads, FMedians.at({"BM_WriteLog", threads}), FMedians.at({"BM_Baseline", threads}),
                    FMedians.at({"BM_WriteLog", threads}) / FMedians.at({"BM_Baseline", threads}));
  }

 private:
  std::map<std::pair<std::string, int64_t>, double> FMedians;
};

}  // namespace

int main(int argc, char** argv) {
  test::TTempDir dir;
  std::filesystem::current_path(dir.Path());
  benchmark::Initialize(&argc, argv);

  std::atomic<bool> done{false};
  std::thread freer([&] {  // frees the baseline's entries as the writer frees the log's
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      TNode* batch;
      {
        std::lock_guard lock(BaselineLock);
        batch = std::exchange(BaselineHead, nullptr);
      }
      FreeList(batch);
    }
  });
  StartLogger();
  TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  StopLogger();
  done = true;
  freer.join();
  FreeList(BaselineHead);
  reporter.PrintRatios();
  std::filesystem::current_path("/");
  return 0;
}
