// The webhook actions of a thermometer on a pseudo-terminal, against a local receiver, while the
// mail relay accepts the e-mail of the same alarm and never answers: the webhooks do not wait for it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "core/ConditionFixture.h"
#include "core/KelvoPlatform.h"
#include "net/Outbox.h"
#include "support/EventLogFile.h"
#include "support/HttpReceiver.h"
#include "support/SilentServer.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

class WebhookTest : public test::TConditionFixture {
 protected:
  test::TScopedZone FZone{"XYZ-1"};  // a rule, no zone file: UTC+1
  test::TScopedEnv FNoProxy{"no_proxy", "*"};
  test::TSilentServer FRelay;
  test::THttpReceiver FReceiver{{{"/busy", 503}, {"/gone", 404}}};
};

TEST_F(WebhookTest, AlarmArrivesInEveryFormatAtOnceAndOnlyFailuresThatMayPassAreRetried) {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  const struct {
    const char* Format;      // also the path
    const char* Attributes;  // more of the element
    std::string Body;
    std::vector<std::string> Headers;
  } rows[] = {
      {"json",
       "",
       R"({"caption":"Room","state":"max","temperature":51.3,"limit":50,"message":"Room at  51.3 C",)"
       R"("time":"2026-12-07T14:00:00.000+01:00","host":")" +
           std::string(host) + "\"}",
       {"Content-Type: application/json"}},
      {"ntfy",
       " token=\"t0k\"",
       "Room at  51.3 C",
       {"Content-Type: text/plain; charset=utf-8", "Title: Room (max)", "Priority: high",
        "Authorization: Bearer t0k"}},
      {"slack", "", R"({"text":"Room (max): Room at  51.3 C"})", {"Content-Type: application/json"}},
      {"gotify", "", R"j({"title":"Room (max)","message":"Room at  51.3 C","priority":8})j", {}},
      {"TEXT", "", "Room (max): Room at  51.3 C", {"Content-Type: text/plain; charset=utf-8"}},
  };
  std::string webhooks;
  for (const auto& row : rows)
    webhooks += "<webhook url=\"" + FReceiver.Url("/") + row.Format + "\" format=\"" + row.Format + "\"" +
                row.Attributes + "/>";
  FSmtpPort = FRelay.Port();
  Make("<CONDITION><max value=\"50\">Room at %value% C</max><email address=\"ops@example.com\"/>" + webhooks +
       "<webhook url=\"" + FReceiver.Url("/busy") + "\"/><webhook url=\"" + FReceiver.Url("/gone") +
       "\"/></CONDITION>");
  Feed("+051.3C");
  ASSERT_TRUE(FReceiver.WaitForRequests(7, 2s));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Format);
    const std::vector<test::TReceivedRequest> received = FReceiver.Requests(std::string("/") + row.Format);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Method, "POST");
    EXPECT_EQ(received[0].Body, row.Body);
    for (const std::string& header : row.Headers)
      EXPECT_TRUE(received[0].HasHeader(header)) << received[0].Head;
  }
  EXPECT_EQ(FPlatform->MailOutbox().Pending(), 1u) << "the e-mail waits for the silent relay";

  TestClock::Advance(59);
  std::this_thread::sleep_for(2 * TOutbox::RecheckPeriod + 100ms);
  EXPECT_EQ(FReceiver.Requests("/busy").size(), 1u) << "a second before the retry";
  TestClock::Advance(1);
  EXPECT_TRUE(test::WaitUntil([&] { return FReceiver.Requests("/busy").size() == 2; }, 5s)) << "503: again";
  EXPECT_EQ(FReceiver.Requests("/gone").size(), 1u) << "404: final";
  EXPECT_EQ(test::EventTexts(test::ReadEventLog(FDir.File("events.log")), "Deredoru"),
            std::vector<std::string>{"Webhook to " + FReceiver.Url("/gone") +
                                     " given up after 1 attempt: HTTP 404"});
}

}  // namespace
}  // namespace duz
