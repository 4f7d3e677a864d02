#include "net/MailMessage.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

#include "net/SmtpReply.h"

namespace duz {

namespace {

constexpr std::size_t MaxLine = 998;     // RFC 5322, without the CRLF
constexpr std::size_t MaxAddress = 254;  // RFC 5321: a path of 256 with its angle brackets
// Plain header text up to this length folds at its blanks into lines within MaxLine; longer text
// goes as encoded words, which are short and always fold.
constexpr std::size_t MaxPlainHeaderText = 900;
constexpr std::size_t MaxHeaderLine = 78;
// Below the 75 of RFC 2047, so that "Subject: " and one encoded word fit on one 78-character line.
constexpr std::size_t MaxEncodedWord = MaxHeaderLine - std::string_view("Subject: ").size();
constexpr std::string_view EncodedWordStart = "=?UTF-8?Q?";
constexpr std::string_view EncodedWordEnd = "?=";

bool IsPlain(std::string_view text) {
  for (unsigned char c : text)
    if (c < 32 || c > 126) return false;
  return true;
}

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Only characters that RFC 2047 allows in a display-name phrase stay literal, so the same encoding
// serves the subject and the names.
std::string QEncodeCharacter(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
        c == '+' || c == '-' || c == '/')
      out += static_cast<char>(c);
    else if (c == ' ')
      out += '_';
    else
      out += fmt::format("={:02X}", c);
  }
  return out;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length of the UTF-8 character starting at text[0]: the lead byte and up to three continuation
// bytes. Invalid sequences fall apart into single bytes, which keeps every piece short.
std::size_t CharacterLength(std::string_view text) {
  std::size_t length = 1;
  while (length < text.size() && length < 4 && IsContinuationByte(text[length])) ++length;
  return length;
}

// Q-encoded words labelled UTF-8, each short enough to share a line with its header name,
// separated by blanks.
std::string EncodeWords(std::string_view text) {
  const std::size_t maxData = MaxEncodedWord - EncodedWordStart.size() - EncodedWordEnd.size();
  std::string out, word;
  auto flush = [&] {
    if (!out.empty()) out += ' ';
    out.append(EncodedWordStart).append(word).append(EncodedWordEnd);
    word.clear();
  };
  while (!text.empty()) {
    const std::size_t length = CharacterLength(text);
    const std::string encoded = QEncodeCharacter(text.substr(0, length));
    if (word.size() + encoded.size() > maxData) flush();
    word += encoded;
    text.remove_prefix(length);
  }
  flush();
  return out;
}

std::string FormatName(const std::string& name) {
  if (!IsPlain(name)) return EncodeWords(name);  // a quoted "=?" is never read as an encoded word
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted.size() <= MaxPlainHeaderText ? quoted : EncodeWords(name);
}

std::string UnquoteName(std::string_view name) {
  if (name.size() < 2 || name.front() != '"' || name.back() != '"') return std::string(name);
  std::string plain;
  for (std::size_t i = 1; i + 1 < name.size(); ++i) {
    if (name[i] == '\\' && i + 2 < name.size()) ++i;
    plain += name[i];
  }
  return plain;
}

// One entry of an address list; open is the position of its "<" (npos: a bare address).
TMailAddress ParseAddress(std::string_view entry, std::size_t open) {
  if (open == std::string_view::npos) return {"", std::string(Trim(entry))};
  const std::size_t close = entry.find('>', open);
  const std::string_view address =
      entry.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
  return {UnquoteName(Trim(entry.substr(0, open))), std::string(Trim(address))};
}

// Breaks a header line longer than 78 characters at blanks; a word longer than the limit stays whole.
// Every piece keeps a character besides blanks, as a folded line must: no cut falls before the
// first word of the value or after its last.
std::string FoldHeader(const std::string& line) {
  std::string folded;
  std::string_view rest = line;
  std::size_t textStart = line.find(": ") + 2;
  while (rest.size() > MaxHeaderLine) {
    const std::size_t first = rest.find_first_not_of(' ', textStart), last = rest.find_last_not_of(' ');
    if (first == std::string_view::npos) break;
    std::size_t cut = rest.rfind(' ', MaxHeaderLine);
    if (cut == std::string_view::npos || cut <= first) cut = rest.find(' ', std::max(first, MaxHeaderLine));
    if (cut == std::string_view::npos || cut > last) break;
    folded.append(rest.substr(0, cut)).append("\r\n");
    rest.remove_prefix(cut);
    textStart = 0;
  }
  return folded.append(rest).append("\r\n");
}

void AddHeader(std::string& out, std::string_view name, const std::string& value) {
  if (!value.empty()) out += FoldHeader(fmt::format("{}: {}", name, value));
}

// A line longer than MaxLine goes as several lines, cut between characters.
void AddBodyLine(std::string& out, std::string_view line) {
  do {
    const bool stuffed = !line.empty() && line.front() == '.';
    std::size_t cut = std::min(line.size(), MaxLine - (stuffed ? 1 : 0));
    for (std::size_t back = 0; cut < line.size() && back < 3 && IsContinuationByte(line[cut]); ++back) --cut;
    if (stuffed) out += '.';
    out.append(line.substr(0, cut)).append("\r\n");
    line.remove_prefix(cut);
  } while (!line.empty());
}

}  // namespace

std::vector<TMailAddress> ParseAddressList(std::string_view text) {
  std::vector<TMailAddress> list;
  bool quoted = false, bracketed = false;
  std::size_t start = 0, open = std::string_view::npos;  // the entry's first "<" outside quotes
  auto add = [&](std::size_t end) {
    const std::string_view entry = text.substr(start, end - start);
    if (!Trim(entry).empty())
      list.push_back(ParseAddress(entry, open == std::string_view::npos ? open : open - start));
  };
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ',';
    if (quoted) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      bracketed = true;
      if (open == std::string_view::npos) open = i;
    } else if (c == '>') {
      bracketed = false;
    } else if (c == ',' && !bracketed) {
      add(i);
      start = i + 1;
      open = std::string_view::npos;
    }
  }
  // An unclosed quote swallowed the rest: keep it as one entry rather than losing it, with the
  // address in the first "<" of that rest.
  if (start < text.size()) {
    if (quoted) open = text.find('<', start);
    add(text.size());
  }
  return list;
}

bool IsSendableAddress(std::string_view address) {
  if (address.size() > MaxAddress) return false;
  for (unsigned char c : address)
    if (c <= ' ' || c > '~' || c == '<' || c == '>') return false;
  return true;
}

std::string FormatAddressList(const std::vector<TMailAddress>& list) {
  std::string text;
  for (const TMailAddress& entry : list) {
    if (!text.empty()) text += ", ";
    text += entry.Name.empty() ? entry.Address : FormatName(entry.Name) + " <" + entry.Address + ">";
  }
  return text;
}

void CheckMailAddress(std::string_view address) {
  if (!IsSendableAddress(address)) throw ESmtpRefusal("Invalid e-mail address");
}

std::string EncodeHeaderText(std::string_view text) {
  // Plain text holding "=?" could read as an encoded word in the recipient's program.
  if (IsPlain(text) && text.size() <= MaxPlainHeaderText && text.find("=?") == std::string_view::npos)
    return std::string(text);
  return EncodeWords(text);
}

std::string FormatMailDate(TDateTime localTime, int utcOffsetMinutes) {
  static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const TDateParts date = DecodeDate(localTime);
  const TTimeParts time = DecodeTime(localTime);
  const int offset = std::abs(utcOffsetMinutes);
  return fmt::format("{}, {} {} {} {:02}:{:02}:{:02} {}{:02}{:02}", Days[date.DayOfWeek - 1], date.Day,
                     Months[date.Month - 1], date.Year, time.Hour, time.Minute, time.Second,
                     utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
}

std::string ComposeMessage(const TMailMessage& message, TDateTime localTime, int utcOffsetMinutes) {
  CheckMailAddress(message.From);
  for (const TMailAddress& recipient : message.Recipients) CheckMailAddress(recipient.Address);
  std::string out;
  AddHeader(out, "From", message.From);
  AddHeader(out, "Subject", EncodeHeaderText(message.Subject));
  AddHeader(out, "To", FormatAddressList(message.Recipients));
  AddHeader(out, "Date", FormatMailDate(localTime, utcOffsetMinutes));
  AddHeader(out, "X-Priority", std::to_string(message.Priority));
  AddHeader(out, "X-Library", "Duzezevovivo mail 1.0");
  out += "\r\n";
  // A body text may hold line breaks of its own; each part becomes a line of its own, so no bare CR
  // or LF reaches the server and a smuggled "." line cannot end the message early.
  for (std::string_view text : message.Body) {
    for (;;) {
      const std::size_t end = text.find_first_of("\r\n");
      if (end == std::string_view::npos) break;
      AddBodyLine(out, text.substr(0, end));
      text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
    }
    AddBodyLine(out, text);
  }
  return out;
}

}  // namespace duz
