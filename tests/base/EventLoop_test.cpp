#include "base/EventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace duz
