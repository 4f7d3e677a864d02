#include "net/HostNameResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <optional>
#include <thread>

#include "base/EventLoop.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

TEST(HostNameResolver, NameArrivesOnTheLoopThreadAndNoHandlerRunsOnceCancelledOrGone) {
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto* address = reinterpret_cast<const sockaddr*>(&loopback);
  TEventLoop loop;
  auto resolver = std::make_unique<THostNameResolver>(loop);

  std::optional<std::string> name;
  std::thread::id thread;
  resolver->Resolve(address, sizeof loopback, [&](const std::string& found) {
    name = found;
    thread = std::this_thread::get_id();
  });
  ASSERT_TRUE(loop.RunUntil([&] { return name.has_value(); }, 10s));
  EXPECT_EQ(*name, VerifiedHostName(address, sizeof loopback));
  EXPECT_EQ(thread, std::this_thread::get_id());

  bool late = false;
  resolver->Cancel(resolver->Resolve(address, sizeof loopback, [&](const std::string&) { late = true; }));
  resolver->Resolve(address, sizeof loopback, [&](const std::string&) { late = true; });
  resolver.reset();
  loop.RunUntil([] { return false; }, 500ms);
  EXPECT_FALSE(late);
}

}  // namespace
}  // namespace duz
