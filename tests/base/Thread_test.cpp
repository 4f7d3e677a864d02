#include "base/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace duz {
namespace {

using namespace std::chrono_literals;

class TCountingThread : public TThread {
 public:
  explicit TCountingThread(std::atomic<bool>& ended) : FEnded(ended) {}
  ~TCountingThread() override {
    Terminate();
    WaitFor();
  }
  std::atomic<int> Rounds{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++Rounds;
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    FEnded = true;
  }

 private:
  std::atomic<bool>& FEnded;
};

TEST(ThreadTest, WaitForReturnsOnlyAfterTheBodyHasEnded) {
  std::atomic<bool> ended{false};
  auto thread = std::make_unique<TCountingThread>(ended);
  thread->Start();
  while (thread->Rounds == 0) std::this_thread::sleep_for(1ms);
  thread.reset();
  EXPECT_TRUE(ended) << "the destructor returned before the body ended";
}

}  // namespace
}  // namespace duz
