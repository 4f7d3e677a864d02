#pragma once
// The SMTP reply parser: a pure function from the bytes received so far to one complete reply.
// The client keeps its own receive buffer and calls ParseSmtpReply after every read.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"

namespace duz {

// A failed SMTP exchange: a refused command (the message is the server's text), a malformed or
// overlong reply, or a failure of the connection.
class ESmtpError : public Exception {
  using Exception::Exception;
};

// The message itself cannot go: the server refused it with a 5xx reply to MAIL, RCPT or DATA or to
// its end, or it holds an address that cannot be sent. Another attempt would fail the same way.
class ESmtpRefusal : public ESmtpError {
  using ESmtpError::ESmtpError;
};

struct TSmtpReply {
  int Code = 0;
  std::vector<std::string> Lines;  // each line without its code, separator and line end

  // The lines joined by blanks: a failure message must stay one log line.
  std::string Text() const;
};

// Bounds of one reply; past them the reply is malformed, so a hostile server cannot fill memory.
constexpr std::size_t SmtpMaxLineLength = 4096;  // including the line end
constexpr std::size_t SmtpMaxReplyLines = 100;

// Parses the first reply in input. Returns nothing while the reply is incomplete; otherwise the
// reply, with consumed set to the number of bytes it took. Lines end with CRLF or a bare LF.
// Raises ESmtpError for a line without a three-digit code and for a reply past the bounds.
std::optional<TSmtpReply> ParseSmtpReply(std::string_view input, std::size_t& consumed);

}  // namespace duz
