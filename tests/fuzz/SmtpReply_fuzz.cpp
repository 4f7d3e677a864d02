// The SMTP reply parser on any bytes a server may send: replies stay within their bounds, and
// reading the same bytes in pieces (as the client does after every read) gives the same replies.
#include <cstdint>
#include <optional>
#include <string_view>

#include "fuzz/FuzzTarget.h"
#include "net/SmtpReply.h"

namespace duz {
namespace {

// Parses reply after reply; nothing when the input ends inside one or a reply is malformed.
void Run(std::string_view input) {
  while (!input.empty()) {
    std::size_t consumed = 0;
    std::optional<TSmtpReply> reply;
    try {
      reply = ParseSmtpReply(input, consumed);
    } catch (const ESmtpError&) {
      return;
    }
    if (!reply) return;
    FUZZ_CHECK(consumed > 0 && consumed <= input.size());
    FUZZ_CHECK(reply->Code >= 0 && reply->Code <= 999);
    FUZZ_CHECK(!reply->Lines.empty() && reply->Lines.size() <= SmtpMaxReplyLines);
    FUZZ_CHECK(input[consumed - 1] == '\n');
    for (const auto& line : reply->Lines) FUZZ_CHECK(line.size() < SmtpMaxLineLength);
    // Every shorter piece of the same reply is incomplete, never a different reply or an error.
    for (std::size_t length : {std::size_t{0}, consumed / 2, consumed - 1}) {
      std::size_t partConsumed = 0;
      FUZZ_CHECK(!ParseSmtpReply(input.substr(0, length), partConsumed));
    }
    std::size_t againConsumed = 0;
    const std::optional<TSmtpReply> again = ParseSmtpReply(input.substr(0, consumed), againConsumed);
    FUZZ_CHECK(again && againConsumed == consumed && again->Code == reply->Code &&
               again->Lines == reply->Lines);
    input.remove_prefix(consumed);
  }
}

}  // namespace
}  // namespace duz

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) { duz::Run(input.ConsumeRemainingBytesAsString()); }
