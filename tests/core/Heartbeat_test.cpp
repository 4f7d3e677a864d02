#include "core/Heartbeat.h"

#include <gtest/gtest.h>

#include "base/Clock.h"
#include "base/EventLoop.h"
#include "net/Outbox.h"
#include "support/Env.h"
#include "support/HttpReceiver.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// The ticks of a whole interval on the settable clock: a ping on the first and then every five
// minutes, to the fail URL while a thermometer is lost or the owner loop has not answered for more
// than ten ticks.
TEST(HeartbeatTest, PingsAtTheIntervalAndTheFailUrlWhileTheWatchIsNotHealthy) {
  test::TScopedEnv noProxy("no_proxy", "*");
  test::THttpReceiver checker;
  TestClock::Set(EncodeDate(2026, 12, 7) + EncodeTime(14, 0, 0, 0));
  TEventLoop loop;
  TOutbox outbox("Webhook", TEventLogger("Deredoru"));
  pugi::xml_document document;
  document.load_string(("<HEARTBEAT url=\"" + checker.Url("/ping?k=1") + "\" interval=\"5\"/>").c_str());
  THeartbeat heartbeat(document.document_element(), outbox);
  std::vector<std::string> pinged;
  // One tick; the owner loop answers it unless stuck. Returns the path pinged, "" for none.
  const auto tick = [&](bool connected, bool ownerLoopStuck = false) {
    heartbeat.Tick(connected);
    if (!ownerLoopStuck) loop.RunUntil([] { return false; }, 10ms);
    EXPECT_TRUE(test::WaitUntil([&] { return outbox.Pending() == 0; }, 5s));
    const std::vector<test::TReceivedRequest> requests = checker.Requests();
    return requests.size() > pinged.size() ? pinged.emplace_back(requests.back().Path) : std::string();
  };

  EXPECT_EQ(tick(true), "/ping?k=1") << "the first tick";
  TestClock::Advance(299);
  EXPECT_EQ(tick(true), "");
  TestClock::Advance(1);
  EXPECT_EQ(tick(true), "/ping?k=1");
  TestClock::Advance(300);
  EXPECT_EQ(tick(false), "/ping/fail?k=1") << "a thermometer lost";
  TestClock::Advance(299);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(tick(true, true), "");
  TestClock::Advance(1);
  EXPECT_EQ(tick(true, true), "/ping?k=1") << "ten ticks without an answer";
  TestClock::Advance(300);
  EXPECT_EQ(tick(true, true), "/ping/fail?k=1") << "eleven ticks without an answer";
  ASSERT_FALSE(checker.Requests().empty());
  EXPECT_EQ(checker.Requests()[0].Method, "GET");
  TestClock::Reset();
}

}  // namespace
}  // namespace duz
