#pragma once
// One plain-text e-mail and its wire form. TMailMessage is a value filled by the sender of an alarm
// and handed to TSmtpClient::Send; the functions here are pure and may be called from any thread.
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"

namespace duz {

struct TMailAddress {
  std::string Name;  // display name, may be empty
  std::string Address;

  bool operator==(const TMailAddress&) const = default;
};

struct TMailMessage {
  std::string From;  // the sender's address, without a display name
  std::vector<TMailAddress> Recipients;
  std::string Subject;
  std::vector<std::string> Body;  // text lines, without line ends
  int Priority = 1;               // X-Priority: 1 (highest) to 5 (lowest)
};

// Addresses separated by commas, each a bare address or a display name with the address in angle
// brackets; a name in double quotes may hold commas. Empty entries are skipped.
std::vector<TMailAddress> ParseAddressList(std::string_view text);
// An address goes into commands and headers as it is: one with a control character, a blank, a
// byte above 126 or an angle bracket could end a command or add a header line, and one over 254
// bytes exceeds a command's path, so the mail client refuses it. The empty address (the null
// sender) passes.
bool IsSendableAddress(std::string_view address);
// The list as the To header shows it: entries joined by ", ", names quoted or encoded.
std::string FormatAddressList(const std::vector<TMailAddress>& list);

// Raises ESmtpRefusal "Invalid e-mail address" for an address that is not IsSendableAddress.
void CheckMailAddress(std::string_view address);
// Header text: unchanged when every byte lies in 32..126, it is at most 900 bytes long (so that
// folding keeps its lines within 998 bytes) and holds no "=?" (which would read as an encoded word);
// otherwise Q-encoded words labelled UTF-8, each short enough to share a line with its header
// name, separated by blanks.
std::string EncodeHeaderText(std::string_view text);
// "Mon, 7 Dec 2026 22:15:02 +0100", in English whatever the locale.
std::string FormatMailDate(TDateTime localTime, int utcOffsetMinutes);

// The message as written after DATA: folded headers, an empty line and the dot-stuffed body, every
// line ended by CRLF and at most 998 bytes long (longer body lines are cut between characters);
// the terminating "." line is not included. Raises ESmtpRefusal when the sender or a recipient fails
// CheckMailAddress.
std::string ComposeMessage(const TMailMessage& message, TDateTime localTime, int utcOffsetMinutes);

}  // namespace duz
