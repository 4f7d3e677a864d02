#include "net/SmtpReply.h"

#include <gtest/gtest.h>

namespace duz {
namespace {

struct TReplyCase {
  const char* Label;
  std::string Input;
  int Code;
  std::vector<std::string> Lines;
  std::size_t Consumed;
};

TEST(ParseSmtpReply, CompleteRepliesGiveCodeLinesAndLength) {
  const TReplyCase rows[] = {
      {"SingleLine", "220 mail.test ready\r\n", 220, {"mail.test ready"}, 21},
      {"MultiLine",
       "250-mail.test\r\n250-SIZE 10\r\n250 AUTH LOGIN\r\n",
       250,
       {"mail.test", "SIZE 10", "AUTH LOGIN"},
       44},
      {"BareLineFeed", "354 go\n", 354, {"go"}, 7},
      {"CodeOnly", "451\r\n", 451, {""}, 5},
      {"OtherSeparatorEndsReply", "250 x\r\n", 250, {"x"}, 7},
      {"OnlyFirstReplyTaken", "250 one\r\n250 two\r\n", 250, {"one"}, 9},
  };
  for (const TReplyCase& row : rows) {
    SCOPED_TRACE(row.Label);
    std::size_t consumed = 0;
    const std::optional<TSmtpReply> reply = ParseSmtpReply(row.Input, consumed);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->Code, row.Code);
    EXPECT_EQ(reply->Lines, row.Lines);
    EXPECT_EQ(consumed, row.Consumed);
  }
}

TEST(ParseSmtpReply, EveryTruncationWaitsForMoreBytes) {
  const std::string full = "250-mail.test\r\n250-PIPELINING\r\n250 AUTH PLAIN LOGIN\r\n";
  for (std::size_t length = 0; length < full.size(); ++length) {
    std::size_t consumed = 0;
    EXPECT_FALSE(ParseSmtpReply(std::string_view(full).substr(0, length), consumed).has_value()) << length;
  }
}

TEST(ParseSmtpReply, MalformedAndOverlongRepliesFail) {
  std::string manyLines;
  for (std::size_t i = 0; i < SmtpMaxReplyLines; ++i) manyLines += "250-x\r\n";
  manyLines += "250 end\r\n";
  const struct {
    const char* Label;
    std::string Input;
  } rows[] = {
      {"NoCode", "hello\r\n"},
      {"ShortCode", "25\r\n"},
      {"LetterInCode", "2x0 ok\r\n"},
      {"OverlongUnfinishedLine", "220 " + std::string(SmtpMaxLineLength, 'x')},
      {"OverlongFinishedLine", "220 " + std::string(SmtpMaxLineLength, 'x') + "\r\n"},
      {"TooManyLines", manyLines},
  };
  for (const auto& row : rows) {
    std::size_t consumed = 0;
    EXPECT_THROW(ParseSmtpReply(row.Input, consumed), ESmtpError) << row.Label;
  }
}

TEST(ParseSmtpReply, LineAtTheBoundIsAccepted) {
  const std::string line = "220 " + std::string(SmtpMaxLineLength - 6, 'x') + "\r\n";
  ASSERT_EQ(line.size(), SmtpMaxLineLength);
  std::size_t consumed = 0;
  EXPECT_TRUE(ParseSmtpReply(line, consumed).has_value());
}

TEST(SmtpReply, TextJoinsLinesOnOneLogLine) {
  const TSmtpReply reply{550, {"5.1.1 Mailbox unknown", "see the manual"}};
  EXPECT_EQ(reply.Text(), "5.1.1 Mailbox unknown see the manual");
}

}  // namespace
}  // namespace duz
