#include "base/EventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/Thread.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

TEST(EventLoopTest, InvokeRunsOnTheLoopThreadInPostingOrder) {
  TEventLoop loop;
  EXPECT_EQ(TEventLoop::Current(), &loop);
  std::vector<int> order;
  std::thread::id ranOn;
  std::thread other([&] {
    EXPECT_EQ(TEventLoop::Current(), nullptr);
    loop.Post([&] { order.push_back(1); });
    EXPECT_TRUE(loop.Invoke(
        [&] {
          order.push_back(2);
          ranOn = std::this_thread::get_id();
        },
        2000ms));
    loop.Stop();
  });
  loop.Run();
  other.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(EventLoopTest, InvokeGivesUpWhenTheLoopThreadIsBusy) {
  TEventLoop loop;
  std::atomic<bool> ran{false};
  bool inTime = true;
  std::thread other([&] { inTime = loop.Invoke([&] { ran = true; }, 50ms); });
  other.join();  // nobody runs the loop meanwhile
  EXPECT_FALSE(inTime);
  EXPECT_TRUE(loop.RunUntil([&] { return ran.load(); }, 1000ms)) << "the late handler still runs";
}

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
