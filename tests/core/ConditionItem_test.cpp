#include "core/ConditionItem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/DebugMode.h"
#include "base/Exception.h"
#include "core/ConditionFixture.h"
#include "support/EventLogFile.h"
#include "support/LoopbackServer.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

class ConditionItemTest : public test::TConditionFixture {
 protected:
  // The lines of the e-mail action, without the thermometer's own debug lines.
  static Texts ActionLines(const Texts& logged) {
    Texts lines;
    std::copy_if(logged.begin(), logged.end(), std::back_inserter(lines),
                 [](const std::string& line) { return line.starts_with("[Room] > "); });
    return lines;
  }
  long Logged(const std::string& line) { return FLog->Count(line); }
  // The lines every e-mail logs in every mode, with a server that takes the message.
  Texts MailLog(const std::string& username, const std::string& passwordShown) {
    return {"[Room] > SMTP: Host:127.0.0.1",
            "[Room] > SMTP: Port:" + std::to_string(FSink.Port()),
            "[Room] > SMTP: Username:" + username,
            "[Room] > SMTP: Password:" + passwordShown,
            "[Room] > SMTP status: Connecting to 127.0.0.1.",
            "[Room] > SMTP status: Connected.",
            "[Room] > SMTP status: Encoding text",
            "[Room] > SMTP status: Disconnecting.",
            "[Room] > SMTP status: Disconnected."};
  }
};

TEST_F(ConditionItemTest, RepeatIntervalMustBeWholeMinutesFromZeroToAYear) {
  const struct {
    const char* Value;
    bool Accepted;
  } rows[] = {{"0", true},   {"59", true},    {"90", true},   {"525600", true},
              {"-1", false}, {"soon", false}, {"1.5", false}, {"525601", false}};
  for (const auto& row : rows) {
    const std::string xml =
        std::string("<CONDITION><email repeatinterval=\"") + row.Value + "\"/></CONDITION>";
    if (row.Accepted) {
      TKelvo* kelvo = nullptr;
      EXPECT_NO_THROW(kelvo = Make(xml)) << row.Value;
      delete kelvo;
    } else {
      EXPECT_THROW(Make(xml), Exception) << row.Value;
    }
  }
}

TEST_F(ConditionItemTest, NetMessageStartsNetWithSeparateArgumentsAndNoShell) {
  std::filesystem::create_directory(FDir.File("bin"));
  FDir.Write("bin/net", "#!/bin/sh\nfor a in \"$@\"; do printf '<%s>' \"$a\"; done >> '" +
                            FDir.File("net.log") + "'\necho >> '" + FDir.File("net.log") + "'\n");
  chmod(FDir.File("bin/net").c_str(), 0755);
  test::TScopedEnv path("PATH", FDir.File("bin") + ":" + std::getenv("PATH"));
  Make(
      "<CONDITION><max>Temperature %value%; touch hacked</max>"
      "<netmessage message=\"max\"/>"
      "<netmessage address=\"PC 1;touch hacked\" message=\"max\"/></CONDITION>");
  Feed("+051.3C");
  ASSERT_TRUE(test::WaitUntil([&] { return !FDir.Read("net.log").empty(); }, 3s));
  std::this_thread::sleep_for(200ms);  // an item without address would have started net by now
  EXPECT_EQ(FDir.Read("net.log"), "<send><PC 1;touch hacked><Temperature  51.3; touch hacked>\n");
  EXPECT_FALSE(std::filesystem::exists(FDir.File("hacked")));
}

// A message that does not get through is one error per address until one does; the variable's
// program gets the address and the message instead of "net send".
TEST_F(ConditionItemTest, NetMessageThatFailsIsOneEventLogErrorUntilOneGetsThrough) {
  test::TScopedEnv path("PATH", FDir.File("nowhere"));
  Make("<CONDITION><max>hot %value%</max><netmessage address=\"PC1\" message=\"max\"/></CONDITION>");
  const auto events = [&] {
    return test::EventTexts(test::ReadEventLog(FDir.File("events.log")), "Deredoru");
  };
  const auto alarm = [&] {
    Feed("+020.0C");
    Feed("+051.3C");
  };
  alarm();
  alarm();
  EXPECT_EQ(events(), Texts{"Net message to PC1 failed: \"net\" cannot be started"});

  test::TScopedEnv command("DUZEZEVOVIVO_NETMESSAGE_COMMAND", FDir.File("send"));
  for (const char* status : {"0", "3", "3"}) {
    FDir.Write("send",
               "#!/bin/sh\nprintf '<%s>' \"$@\" >> '" + FDir.File("sent.log") + "'\nexit " + status + "\n");
    chmod(FDir.File("send").c_str(), 0755);
    const size_t sent = FDir.Read("sent.log").size();
    alarm();
    ASSERT_TRUE(test::WaitUntil([&] { return FDir.Read("sent.log").size() > sent; }, 3s));
  }
  EXPECT_EQ(FDir.Read("sent.log"), "<PC1><hot  51.3><PC1><hot  51.3><PC1><hot  51.3>");
  EXPECT_TRUE(test::WaitUntil([&] { return events().size() == 2; }, 3s));
  std::this_thread::sleep_for(200ms);  // a third error would have come by now
  EXPECT_EQ(events(),
            (Texts{"Net message to PC1 failed: \"net\" cannot be started",
                   "Net message to PC1 failed: \"" + FDir.File("send") + "\" ended with status 3"}));
}

TEST_F(ConditionItemTest, EmailLogOutsideDebugModeShowsTheServerAndMasksThePassword) {
  StartLog();
  Make("<CONDITION><max>Temperature %value%</max><email address=\"ops@example.com\"/></CONDITION>", "",
       "username=\"op\" password=\"secret\"");
  Feed("+051.3C");
  DrainMail();
  EXPECT_EQ(ActionLines(StopLog()), MailLog("op", " *****"));
  ASSERT_EQ(FSink.Mails().size(), 1u);
  const Texts commands = FSink.Mails()[0].Commands;
  EXPECT_NE(std::find(commands.begin(), commands.end(), "AUTH LOGIN"), commands.end());
}

TEST_F(ConditionItemTest, EmailLogInDebugModeShowsTheMessageAndMasksThePasswordToo) {
  DebugMode = true;
  StartLog();
  Make(
      "<CONDITION><max>Temperature %value%</max><email address=\"ops@example.com, Bob "
      "&lt;bob@example.com&gt;\"/></CONDITION>",
      "", "username=\"op\"");
  Feed("+051.3C");
  DrainMail();
  const Texts logged = ActionLines(StopLog());
  DebugMode = false;
  Texts expected = {"[Room] > EMAIL <begin>", "[Room] > EMAIL: From:alarm@example.com",
                    "[Room] > EMAIL: To  :ops@example.com, \"Bob\" <bob@example.com>",
                    "[Room] > EMAIL: Subj:Room", "[Room] > EMAIL: Body:Temperature  51.3\n"};
  for (const std::string& line : MailLog("op", " *****")) expected.push_back(line);
  expected.insert(expected.end(), {"[Room] > EMAIL <sended>", "[Room] > EMAIL <end>"});
  EXPECT_EQ(logged, expected);

  ASSERT_EQ(FSink.Mails().size(), 1u);
  const Texts commands = FSink.Mails()[0].Commands;
  EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& c) { return c.starts_with("AUTH"); }), 0)
      << "a user name without password does not authenticate";
  EXPECT_NE(std::find(commands.begin(), commands.end(), "RCPT TO:<ops@example.com>"), commands.end());
  EXPECT_NE(std::find(commands.begin(), commands.end(), "RCPT TO:<bob@example.com>"), commands.end());
  EXPECT_EQ(FSink.Mails()[0].Body(), Texts{"Temperature  51.3"});
}

// Settings that no attempt could ever use fail the e-mail where they are read, and a TLS mode that
// is not understood is one of them: sending in clear instead would give the password away.
TEST_F(ConditionItemTest, UnusableSmtpSettingsFailTheEmailBeforeAnyConnection) {
  const struct {
    const char* Label;
    const char* Smtp;  // added to the SMTP element
    const char* Error;
  } rows[] = {
      {"UnknownTls", "tls=\"tls1.2\" username=\"op\" password=\"secret\"",
       "tls \"tls1.2\" is not one of NONE, STARTTLS, IMPLICIT"},
      {"EmptyTls", "tls=\"\"", "tls \"\" is not one of NONE, STARTTLS, IMPLICIT"},
      {"VerifyNotBoolean", "tls=\"implicit\" tlsverify=\"perhaps\"",
       "tlsverify \"perhaps\" is not true or false"},
  };
  DebugMode = true;
  StartLog();
  for (const auto& row : rows) {
    TKelvo* kelvo =
        Make("<CONDITION><max>hot</max><email address=\"ops@example.com\"/></CONDITION>", "", row.Smtp);
    Feed("+060.0C");
    delete kelvo;
  }
  DrainMail();
  const Texts lines = ActionLines(StopLog());
  DebugMode = false;
  Texts logged, events;
  for (const auto& row : rows) {
    logged.push_back(std::string("[Room] > EMAIL exception: ") + row.Error);
    events.push_back(std::string("E-mail to ops@example.com not sent: ") + row.Error);
  }
  EXPECT_EQ(lines, logged);
  EXPECT_EQ(test::EventTexts(test::ReadEventLog(FDir.File("events.log")), "Deredoru"), events);
  EXPECT_TRUE(FSink.Sessions().empty());
}

// The item counts an e-mail as fired when it hands it on, whatever becomes of it: the outbox
// retries a failure on its own schedule, and the repeat keeps its own.
TEST_F(ConditionItemTest, FailedEmailStillCountsAsFiredForTheRepeat) {
  StartLog();
  FSmtpPort = test::UnusedPort();
  TKelvo* kelvo =
      Make("<CONDITION><max>hot</max><email address=\"ops@example.com\" repeatinterval=\"1\"/></CONDITION>");
  kelvo->Tick();
  Feed("+060.0C");
  const auto attempts = [&] { return Logged("[Room] > SMTP status: Connecting to 127.0.0.1."); };
  ASSERT_TRUE(test::WaitUntil([&] { return attempts() == 1; }, 5s));
  TestClock::Advance(30);
  kelvo->Tick();
  std::this_thread::sleep_for(500ms);  // a repeat would have been tried by now
  EXPECT_EQ(attempts(), 1);
  EXPECT_TRUE(FSink.Mails().empty());
}

// One worker sends every e-mail, one after another, in the order posted: the lines of one never
// fall between those of another, even when two conditions send at the same reading.
TEST_F(ConditionItemTest, EmailsOfTwoConditionsKeepTheirOrderAndWholeLogBlocks) {
  DebugMode = true;
  StartLog();
  Make(
      "<CONDITION><max value=\"50\">first</max><email address=\"a@example.com\"/></CONDITION>"
      "<CONDITION><max value=\"40\">second</max><email address=\"b@example.com\"/></CONDITION>");
  Feed("+060.0C");
  EXPECT_EQ(Sent(), (Texts{"first", "second"}));
  const Texts lines = ActionLines(StopLog());
  DebugMode = false;
  const auto at = [&](const std::string& line, size_t from = 0) {
    return std::find(lines.begin() + static_cast<ptrdiff_t>(from), lines.end(), line) - lines.begin();
  };
  const auto begin1 = at("[Room] > EMAIL <begin>"), end1 = at("[Room] > EMAIL <end>");
  const auto begin2 = at("[Room] > EMAIL <begin>", end1), end2 = at("[Room] > EMAIL <end>", end1 + 1);
  ASSERT_LT(end2, static_cast<ptrdiff_t>(lines.size())) << "two whole blocks";
  const auto body1 = at("[Room] > EMAIL: Body:first\n"), body2 = at("[Room] > EMAIL: Body:second\n");
  EXPECT_TRUE(begin1 < body1 && body1 < end1 && end1 < begin2 && begin2 < body2 && body2 < end2);
  EXPECT_EQ(static_cast<size_t>(end2 - begin1 + 1), lines.size()) << "nothing else between the blocks";
}

}  // namespace
}  // namespace duz
