#include "net/SmtpReply.h"

namespace duz {

std::string TSmtpReply::Text() const {
  std::string text;
  for (const std::string& line : Lines) {
    if (!text.empty()) text += ' ';
    text += line;
  }
  return text;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<TSmtpReply> ParseSmtpReply(std::string_view input, std::size_t& consumed) {
  TSmtpReply reply;
  std::size_t position = 0;
  for (;;) {
    const std::size_t lineEnd = input.find('\n', position);
    const std::size_t available = (lineEnd == std::string_view::npos ? input.size() : lineEnd + 1) - position;
    if (available > SmtpMaxLineLength) throw ESmtpError("SMTP reply line too long");
    if (lineEnd == std::string_view::npos) return std::nullopt;

    std::string_view line = input.substr(position, lineEnd - position);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
      throw ESmtpError("Invalid SMTP reply: " + std::string(line));
    if (reply.Lines.size() == SmtpMaxReplyLines) throw ESmtpError("SMTP reply too long");

    if (reply.Lines.empty()) reply.Code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    reply.Lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
    position = lineEnd + 1;
    if (line.size() == 3 || line[3] != '-') {
      consumed = position;
      return reply;
    }
  }
}

}  // namespace duz
