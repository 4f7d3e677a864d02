// The mail composer on any sender, recipients, subject and body: the message is refused when an
// address could break a line, and otherwise has CRLF line ends only, no line over 998 bytes, no
// line that is a single ".", only the headers we write, and the subject and body unchanged.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "fuzz/FuzzTarget.h"
#include "net/MailMessage.h"

namespace duz {
namespace {

constexpr std::size_t MaxLine = 998;  // RFC 5322, without the CRLF

bool BreaksALine(std::string_view address) {
  return address.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// What an address of a command and a header may not hold: controls, blanks, brackets, non-ASCII,
// more than the 254 bytes of a path.
bool IsInvalid(std::string_view address) {
  for (unsigned char c : address)
    if (c <= ' ' || c > '~' || c == '<' || c == '>') return true;
  return address.size() > 254;
}

int HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// The header value back as the sender wrote it: plain, or our own Q-encoded words.
std::string DecodeHeaderText(const std::string& value) {
  if (!value.starts_with("=?UTF-8?Q?")) return value;
  std::string out;
  for (std::size_t start = 0; start < value.size();) {
    std::size_t end = value.find(' ', start);
    if (end == std::string::npos) end = value.size();
    const std::string_view word = std::string_view(value).substr(start, end - start);
    FUZZ_CHECK(word.starts_with("=?UTF-8?Q?") && word.ends_with("?=") && word.size() <= 75);
    for (std::size_t i = 10; i + 2 < word.size(); ++i) {
      if (word[i] == '_') {
        out += ' ';
      } else if (word[i] == '=') {
        FUZZ_CHECK(i + 4 < word.size());
        out += static_cast<char>(HexValue(word[i + 1]) * 16 + HexValue(word[i + 2]));
        i += 2;
      } else {
        out += word[i];
      }
    }
    start = end + 1;
  }
  return out;
}

void CheckMessage(const TMailMessage& message, const std::string& text) {
  FUZZ_CHECK(text.ends_with("\r\n"));
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    const std::string line = text.substr(start, end - start);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(line.size() <= MaxLine);
    FUZZ_CHECK(line != ".");
    lines.push_back(line);
    start = end + 2;
  }

  // Headers: each of ours once, in our order, continuation lines folded back in.
  static const std::vector<std::string> Order = {"From", "Subject", "To", "Date", "X-Priority", "X-Library"};
  std::vector<std::pair<std::string, std::string>> headers;
  std::size_t i = 0;
  for (; i < lines.size() && !lines[i].empty(); ++i) {
    if (lines[i][0] == ' ' || lines[i][0] == '\t') {
      FUZZ_CHECK(!headers.empty() && lines[i].find_first_not_of(" \t") != std::string::npos);
      headers.back().second += lines[i];
      continue;
    }
    const std::size_t colon = lines[i].find(": ");
    FUZZ_CHECK(colon != std::string::npos);
    headers.emplace_back(lines[i].substr(0, colon), lines[i].substr(colon + 2));
  }
  FUZZ_CHECK(i < lines.size());  // the empty line that ends the headers
  std::size_t next = 0;
  for (const auto& [name, value] : headers) {
    while (next < Order.size() && Order[next] != name) ++next;
    FUZZ_CHECK(next < Order.size());
    ++next;
    if (name == "From") FUZZ_CHECK(value == message.From);
    if (name == "Subject") FUZZ_CHECK(DecodeHeaderText(value) == message.Subject);
  }
  FUZZ_CHECK(message.From.empty() != (headers.front().first == "From"));

  // Body: the text of every line, in order, with nothing lost but the line breaks.
  std::string sent, given;
  for (++i; i < lines.size(); ++i) sent += lines[i].starts_with('.') ? lines[i].substr(1) : lines[i];
  for (const std::string& line : message.Body)
    for (char c : line)
      if (c != '\r' && c != '\n') given += c;
  FUZZ_CHECK(sent == given);
}

void Run(FuzzedDataProvider& input) {
  TMailMessage message;
  message.From = input.ConsumeRandomLengthString(80);
  message.Recipients = ParseAddressList(input.ConsumeRandomLengthString(400));
  if (input.ConsumeBool()) message.Recipients.push_back({input.ConsumeRandomLengthString(1200), "a@b.cz"});
  message.Subject = input.ConsumeRandomLengthString(1500);
  message.Priority = input.ConsumeIntegralInRange(1, 5);
  while (input.remaining_bytes() > 0) message.Body.push_back(input.ConsumeRandomLengthString(3000));

  bool mustRefuse = BreaksALine(message.From), mayRefuse = IsInvalid(message.From);
  for (const TMailAddress& recipient : message.Recipients) {
    mustRefuse |= BreaksALine(recipient.Address);
    mayRefuse |= IsInvalid(recipient.Address);
  }
  std::string text;
  try {
    text = ComposeMessage(message, 46000.5, 60);
  } catch (const Exception&) {
    FUZZ_CHECK(mayRefuse);
    return;
  }
  FUZZ_CHECK(!mustRefuse);
  CheckMessage(message, text);
  // A recipient with a plain name and an address of mailbox characters reads back from the To
  // header as it was given.
  auto isMailbox = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-/=?^_`{|}~.@").find(c) != std::string_view::npos;
  };
  for (const TMailAddress& recipient : message.Recipients) {
    if (recipient.Address.empty() || recipient.Name.size() > 400 ||
        !std::all_of(recipient.Name.begin(), recipient.Name.end(),
                     [](char c) { return c >= ' ' && c <= '~'; }) ||
        !std::all_of(recipient.Address.begin(), recipient.Address.end(), isMailbox))
      continue;
    FUZZ_CHECK(ParseAddressList(FormatAddressList({recipient})) == std::vector<TMailAddress>{recipient});
  }
}

}  // namespace
}  // namespace duz

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) { duz::Run(input); }
