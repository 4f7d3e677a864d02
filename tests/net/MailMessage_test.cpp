#include "net/MailMessage.h"

#include <gtest/gtest.h>

#include <sstream>

#include "net/SmtpReply.h"

namespace duz {
namespace {

using Lines = std::vector<std::string>;

Lines SplitCrLf(const std::string& text) {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "text does not end with CRLF";
  return lines;
}

// Decodes one encoded word of our own form; fails the test on anything else.
std::string DecodeWord(const std::string& word) {
  EXPECT_TRUE(word.starts_with("=?UTF-8?Q?") && word.ends_with("?=")) << word;
  std::string out;
  for (std::size_t i = 10; i + 2 < word.size(); ++i) {
    if (word[i] == '_')
      out += ' ';
    else if (word[i] == '=')
      out += static_cast<char>(std::stoi(word.substr(i + 1, 2), nullptr, 16)), i += 2;
    else
      out += word[i];
  }
  return out;
}

bool IsCompleteUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char lead = bytes[i];
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

TEST(EncodeHeaderText, PrintableAsciiStaysAndOtherBytesBecomeUtf8QWords) {
  const struct {
    const char* Label;
    std::string Text;
    std::string Expected;
  } rows[] = {
      {"PlainAscii", "Kelvo_on_COM3 = 20?", "Kelvo_on_COM3 = 20?"},
      {"Empty", "", ""},
      {"CzechLetters", "Kotel \xC4\x8D. 1", "=?UTF-8?Q?Kotel_=C4=8D=2E_1?="},
      {"SpecialsEncodedInsideWord", "\xC3\xA9=?_\"", "=?UTF-8?Q?=C3=A9=3D=3F=5F=22?="},
      {"ControlCharacterCannotBreakTheHeader", "a\r\nBcc: x", "=?UTF-8?Q?a=0D=0ABcc=3A_x?="},
  };
  for (const auto& row : rows) EXPECT_EQ(EncodeHeaderText(row.Text), row.Expected) << row.Label;
}

TEST(EncodeHeaderText, LongTextSplitsIntoShortWordsWithoutBreakingCharacters) {
  std::string text;
  for (int i = 0; i < 40; ++i)
    text += "\xC5\xBE\xE2\x82\xAC\xF0\x9F\x94\xA5 x";  // 2-, 3- and 4-byte characters
  std::istringstream words(EncodeHeaderText(text));
  std::string decoded;
  int count = 0;
  for (std::string word; words >> word; ++count) {
    EXPECT_LE(word.size(), 75u) << word;
    const std::string part = DecodeWord(word);
    EXPECT_TRUE(IsCompleteUtf8(part)) << word;
    decoded += part;
  }
  EXPECT_GT(count, 1);
  EXPECT_EQ(decoded, text);
}

TEST(ParseAddressList, SplitsAtCommasOutsideQuotesAndBrackets) {
  const struct {
    const char* Label;
    std::string Text;
    std::vector<TMailAddress> Expected;
  } rows[] = {
      {"Bare", "ops@example.com", {{"", "ops@example.com"}}},
      {"TwoBare", "a@x.cz,  b@y.cz ", {{"", "a@x.cz"}, {"", "b@y.cz"}}},
      {"NameInBrackets", "Night Shift <night@x.cz>", {{"Night Shift", "night@x.cz"}}},
      {"QuotedNameWithComma", "\"Doe, John\" <j@x.cz>, a@x.cz", {{"Doe, John", "j@x.cz"}, {"", "a@x.cz"}}},
      {"EscapesInQuotedName", R"("say \"hi\" \\" <h@x.cz>)", {{R"(say "hi" \)", "h@x.cz"}}},
      {"EmptyEntriesSkipped", " , a@x.cz,, ", {{"", "a@x.cz"}}},
      {"Empty", "", {}},
      {"AngleBracketInsideQuotedName", "\"a <b>, c\" <d@x.cz>", {{"a <b>, c", "d@x.cz"}}},
      {"UnclosedQuoteKeepsTheRest",
       "a@x.cz, \"Doe, John <j@x.cz>",
       {{"", "a@x.cz"}, {"\"Doe, John", "j@x.cz"}}},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseAddressList(row.Text), row.Expected) << row.Label;
}

TEST(FormatAddressList, QuotesPlainNamesEncodesOthersAndParsesBack) {
  const std::vector<TMailAddress> list = {
      {"", "ops@example.com"}, {R"(Doe, "J" \ co)", "j@x.cz"}, {"Jan Nov\xC3\xA1k", "jan@x.cz"}};
  const std::string text = FormatAddressList(list);
  EXPECT_EQ(text, R"(ops@example.com, "Doe, \"J\" \\ co" <j@x.cz>, =?UTF-8?Q?Jan_Nov=C3=A1k?= <jan@x.cz>)");
  const std::vector<TMailAddress> back = ParseAddressList(text);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[1], list[1]);
}

TEST(FormatMailDate, EnglishNamesAndSignedOffset) {
  const TDateTime time = EncodeDate(2026, 12, 7) + EncodeTime(22, 15, 2, 0);
  EXPECT_EQ(FormatMailDate(time, 60), "Mon, 7 Dec 2026 22:15:02 +0100");
  EXPECT_EQ(FormatMailDate(time, -330), "Mon, 7 Dec 2026 22:15:02 -0530");
  EXPECT_EQ(FormatMailDate(EncodeDate(2027, 1, 31) + EncodeTime(0, 0, 9, 0), 0),
            "Sun, 31 Jan 2027 00:00:09 +0000");
}

const TDateTime Time = EncodeDate(2026, 12, 7) + EncodeTime(22, 15, 2, 0);

TEST(ComposeMessage, HeadersInOrderEmptyOnesLeftOutBodyStuffed) {
  TMailMessage message;
  message.From = "alarm@example.com";
  message.Body = {"Temperature 51.3", ".hidden", "."};
  EXPECT_EQ(ComposeMessage(message, Time, 60),
            "From: alarm@example.com\r\n"
            "Date: Mon, 7 Dec 2026 22:15:02 +0100\r\n"
            "X-Priority: 1\r\n"
            "X-Library: Duzezevovivo mail 1.0\r\n"
            "\r\n"
            "Temperature 51.3\r\n"
            "..hidden\r\n"
            "..\r\n");
}

TEST(ComposeMessage, LineBreaksInsideBodyTextCannotEndTheMessage) {
  TMailMessage message;
  message.Body = {"one\r\n.\r\ntwo\nthree\rfour"};
  const Lines lines = SplitCrLf(ComposeMessage(message, Time, 0));
  const Lines body(lines.end() - 5, lines.end());
  EXPECT_EQ(body, (Lines{"one", "..", "two", "three", "four"}));
}

TEST(ComposeMessage, LongHeadersFoldAtBlanksIntoShortLines) {
  const struct {
    const char* Label;
    std::string Subject;
  } rows[] = {
      {"Words", "Teplota na kotli prekrocila povolenou mez a zarizeni bude za chvili vypnuto, zkontrolujte"},
      {"EncodedWords", std::string(30, 'a') + "\xC5\xBE" + std::string(100, 'b')},
      {"LeadingBlanks", "   " + std::string(20, 'c') + " " + std::string(70, 'd')},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    TMailMessage message;
    message.Subject = row.Subject;
    const Lines lines = SplitCrLf(ComposeMessage(message, Time, 0));
    std::string unfolded = lines[0];
    std::size_t index = 1;
    for (; lines[index].starts_with(" "); ++index) {
      EXPECT_NE(lines[index].find_first_not_of(' '), std::string::npos) << "blank continuation line";
      unfolded += lines[index];
    }
    EXPECT_GT(index, 1u) << "not folded";
    for (std::size_t i = 0; i < index; ++i) EXPECT_LE(lines[i].size(), 78u) << lines[i];
    EXPECT_EQ(unfolded, "Subject: " + EncodeHeaderText(row.Subject));
  }
}

TEST(ComposeMessage, WordLongerThanTheLimitStaysWhole) {
  TMailMessage message;
  message.Subject = std::string(100, 'x') + " tail";
  const Lines lines = SplitCrLf(ComposeMessage(message, Time, 0));
  EXPECT_EQ(lines[0], "Subject: " + std::string(100, 'x'));
  EXPECT_EQ(lines[1], " tail");
}

// Found by fuzzing: the composer relied on its caller to keep line breaks out of the headers.
TEST(ComposeMessage, AddressThatCouldBreakALineIsRefused) {
  const struct {
    const char* Label;
    std::string From, To;
  } rows[] = {
      {"LineBreakInSender", "a@x.cz\r\nBcc: evil@x.cz", "b@x.cz"},
      {"LineFeedInRecipient", "a@x.cz", "b@x.cz\nBcc: evil@x.cz"},
      {"ZeroInRecipient", "a@x.cz", std::string("b@x.cz\0", 7)},
      {"BlankInRecipient", "a@x.cz", "b @x.cz"},
      {"OverlongRecipient", "a@x.cz", std::string(250, 'b') + "@x.cz"},
  };
  for (const auto& row : rows) {
    TMailMessage message;
    message.From = row.From;
    message.Recipients = {{"", row.To}};
    EXPECT_THROW(ComposeMessage(message, Time, 0), ESmtpRefusal) << row.Label;
  }
}

// Found by fuzzing: lines over the 998 bytes that RFC 5322 allows, and a folded line of blanks.
TEST(ComposeMessage, NoLineIsLongerThan998BytesOrBlank) {
  const std::string czech = "\xC4\x8D";  // two bytes, never cut apart
  const struct {
    const char* Label;
    std::string Subject, Name, Body;
  } rows[] = {
      {"LongSubjectWord", std::string(1200, 's'), "", "b"},
      {"LongQuotedName", "s", std::string(950, 'n'), "b"},
      {"LongBodyLine", "s", "", "." + std::string(997, 'x') + "." + std::string(1500, 'y')},
      {"LongBodyLineOfTwoByteCharacters", "s", "",
       [&] {
         std::string text;
         for (int i = 0; i < 1500; ++i) text += czech;
         return text;
       }()},
      {"SubjectEndingInBlanks", std::string(70, 'a') + " " + std::string(20, 'b') + std::string(10, ' '), "",
       "b"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    TMailMessage message;
    message.Subject = row.Subject;
    message.Recipients = {{row.Name, "r@x.cz"}};
    message.Body = {row.Body};
    const Lines lines = SplitCrLf(ComposeMessage(message, Time, 0));
    std::string body;
    bool inBody = false;
    for (const std::string& line : lines) {
      EXPECT_LE(line.size(), 998u);
      if (inBody) {
        EXPECT_NE(line, ".");
        EXPECT_TRUE(IsCompleteUtf8(line)) << "a character cut apart";
        body += line.starts_with('.') ? line.substr(1) : line;
      } else if (line.empty()) {
        inBody = true;
      } else {
        EXPECT_NE(line.find_first_not_of(' '), std::string::npos) << "a folded line of blanks only";
      }
    }
    EXPECT_EQ(body, row.Body);
  }
}

TEST(EncodeHeaderText, TextThatReadsAsAnEncodedWordIsEncoded) {
  EXPECT_EQ(EncodeHeaderText("=?UTF-8?Q?x?="), "=?UTF-8?Q?=3D=3FUTF-8=3FQ=3Fx=3F=3D?=");
  EXPECT_EQ(EncodeHeaderText("a = b ? c"), "a = b ? c");
}

}  // namespace
}  // namespace duz
