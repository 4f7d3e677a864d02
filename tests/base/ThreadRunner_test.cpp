#include "base/ThreadRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace duz {
namespace {

TEST(ThreadRunnerTest, ProcedureRunsUntilTheStopRequestAndIsWaitedFor) {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  TThreadRunner* seen = nullptr;
  auto runner = std::make_unique<TThreadRunner>([&](TThreadRunner& thread) {
    seen = &thread;
    started = true;
    while (!thread.Terminated()) std::this_thread::yield();
    finished = true;
  });
  while (!started) std::this_thread::yield();
  EXPECT_FALSE(finished);
  TThreadRunner* const expected = runner.get();
  runner.reset();
  EXPECT_TRUE(finished);
  EXPECT_EQ(seen, expected);
}

TEST(ThreadRunnerTest, EscapingExceptionEndsTheThreadQuietly) {
  std::atomic<bool> threw{false};
  TThreadRunner runner([&](TThreadRunner&) {
    threw = true;
    throw std::runtime_error("tick failed");
  });
  runner.WaitFor();
  EXPECT_TRUE(threw);
}

}  // namespace
}  // namespace duz
