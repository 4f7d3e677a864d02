#include "net/HostNameResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "base/Clock.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// A look-up's answer comes once, is kept a minute, and no handler runs once cancelled or gone.
TEST(HostNameResolver, AnswerComesOnceIsKeptAMinuteAndNoHandlerRunsOnceCancelledOrGone) {
  TestClock::Set(46000.5);
  const TIpAddress loopback = ParseIpAddress("127.0.0.1").value();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string expected = VerifiedHostName(reinterpret_cast<const sockaddr*>(&address), sizeof address);
  auto resolver = std::make_unique<THostNameResolver>(4, 2);

  std::mutex lock;
  std::condition_variable arrived;
  std::optional<std::string> name;
  const THostNameResolver::TOutcome first = resolver->Resolve(loopback, [&](const std::string& found) {
    std::lock_guard guard(lock);
    name = found;
    arrived.notify_all();
  });
  ASSERT_FALSE(first.Cached);
  ASSERT_NE(first.Waiter, 0u);
  {
    std::unique_lock guard(lock);
    ASSERT_TRUE(arrived.wait_for(guard, 10s, [&] { return name.has_value(); }));
  }
  EXPECT_EQ(*name, expected);

  // A handler that runs after Cancel or the destructor returned flags it; one before is fine (the
  // look-ups of 127.0.0.1 are fast).
  std::atomic<bool> cancelled = false, gone = false, late = false;
  EXPECT_EQ(resolver->Resolve(loopback, [&](const std::string&) { late = true; }).Cached, expected);
  TestClock::Advance(61);
  const THostNameResolver::TOutcome again =
      resolver->Resolve(loopback, [&](const std::string&) { late = late || cancelled; });
  EXPECT_FALSE(again.Cached) << "kept no longer than a minute";
  resolver->Cancel(again.Waiter);
  cancelled = true;
  resolver->Resolve(loopback, [&](const std::string&) { late = late || gone; });
  resolver.reset();
  gone = true;
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(late);
  TestClock::Reset();
}

}  // namespace
}  // namespace duz
