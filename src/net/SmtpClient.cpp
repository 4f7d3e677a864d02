#include "net/SmtpClient.h"

#include <netdb.h>

#include <cctype>
#include <memory>
#include <sstream>

#include "base/Clock.h"
#include "base/Text.h"
#include "net/HostAddress.h"

namespace duz {

namespace {

std::string Base64(std::string_view data) {
  static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) value |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) value |= static_cast<unsigned char>(data[i + 2]);
    out += Alphabet[(value >> 18) & 63];
    out += Alphabet[(value >> 12) & 63];
    out += i + 1 < data.size() ? Alphabet[(value >> 6) & 63] : '=';
    out += i + 2 < data.size() ? Alphabet[value & 63] : '=';
  }
  return out;
}

}  // namespace

std::optional<TSmtpTls> ParseSmtpTls(std::string_view word) {
  const std::string upper = UpperCase(word);
  if (upper == "NONE") return TSmtpTls::None;
  if (upper == "STARTTLS") return TSmtpTls::StartTls;
  if (upper == "IMPLICIT") return TSmtpTls::Implicit;
  return std::nullopt;
}

TSmtpClient::TSmtpClient(TSmtpSettings settings, TStatusCallback onStatus)
    : FSettings(std::move(settings)), FOnStatus(std::move(onStatus)) {}

TSmtpClient::~TSmtpClient() { Abort(); }

void TSmtpClient::Connect() {
  OpenConnection();
  try {
    if (FSettings.Tls == TSmtpTls::Implicit) StartTls();
    Greet();
  } catch (...) {
    Abort();
    throw;
  }
}

void TSmtpClient::Send(const TMailMessage& message) {
  try {
    // Addresses go into commands as they are: one that could end a command is refused first.
    CheckMailAddress(message.From);
    for (const TMailAddress& recipient : message.Recipients) CheckMailAddress(recipient.Address);
    Command("RSET");
    Authenticate();
    ExpectForMessage(Command("MAIL FROM:<" + message.From + ">"), {250});
    for (const TMailAddress& recipient : message.Recipients)
      ExpectForMessage(Command("RCPT TO:<" + recipient.Address + ">"), {250, 251});
    ExpectForMessage(Command("DATA"), {354});
    Status("Encoding text");
    const TDateTime now = Now();
    FStream.Write(ComposeMessage(message, now, UtcOffsetMinutes(now)) + ".\r\n", FSettings.ReplyTimeout);
    ExpectForMessage(ReadReply(), {250});
  } catch (...) {
    Abort();
    throw;
  }
}

void TSmtpClient::Disconnect() {
  Status("Disconnecting.");
  Abort();
  Status("Disconnected.");
}

void TSmtpClient::Status(const std::string& text) const {
  if (FOnStatus) FOnStatus(text);
}

void TSmtpClient::OpenConnection() {
  FInput.clear();
  FAuthenticated = false;
  FLoopback = false;
  const bool numeric = IsIpAddress(FSettings.Host);
  if (!numeric) Status("Resolving hostname " + FSettings.Host + ".");

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric ? AI_NUMERICHOST : 0;
  addrinfo* found = nullptr;
  const int error =
      getaddrinfo(FSettings.Host.c_str(), std::to_string(FSettings.Port).c_str(), &hints, &found);
  if (error != 0) throw Exception(gai_strerror(error));
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);

  // Each address of the host is tried in turn; the last failure is the one reported.
  for (const addrinfo* entry = found;; entry = entry->ai_next) {
    Status("Connecting to " + AddressText(entry->ai_addr) + ".");
    try {
      FStream.Connect(entry->ai_addr, entry->ai_addrlen, FSettings.ConnectTimeout);
      FLoopback = IsLoopback(entry->ai_addr);
      break;
    } catch (const Exception&) {
      if (entry->ai_next == nullptr) throw;
    }
  }
  Status("Connected.");
}

void TSmtpClient::Greet() {
  Expect(ReadReply(), {220});
  Hello();
  if (FSettings.Tls != TSmtpTls::StartTls) return;
  // Going on in clear would send the password where the configuration promised TLS.
  if (!FStartTlsOffered) throw ESmtpError("STARTTLS not offered by the server");
  Expect(Command("STARTTLS"), {220});
  // Bytes that came before the handshake would later pass for replies sent inside TLS.
  if (!FInput.empty()) throw ESmtpError("Unexpected data from the server after STARTTLS");
  StartTls();
  // What the server offered in clear may have been forged on the way, so it is asked again.
  Hello();
}

void TSmtpClient::Hello() {
  FMechanisms.clear();
  FStartTlsOffered = false;
  const TSmtpReply reply = Command("EHLO " + FSettings.GreetingName);
  if (reply.Code != 250) {
    Expect(Command("HELO " + FSettings.GreetingName), {250});
    return;
  }
  for (const std::string& line : reply.Lines) {
    std::string upper = UpperCase(line);
    if (upper == "STARTTLS" || upper.starts_with("STARTTLS ")) FStartTlsOffered = true;
    if (upper.rfind("AUTH ", 0) != 0 && upper.rfind("AUTH=", 0) != 0) continue;
    for (char& c : upper)
      if (c == '=') c = ' ';
    std::istringstream words(upper.substr(5));
    for (std::string word; words >> word;) FMechanisms.insert(word);
  }
}

void TSmtpClient::StartTls() {
  Status("Starting TLS.");
  const std::string agreed =
      FStream.StartTls({FSettings.TlsVerify, FSettings.CaFile, FSettings.Host}, FSettings.ReplyTimeout);
  Status("TLS established (" + agreed + ").");
}

void TSmtpClient::Authenticate() {
  if (FSettings.Authentication != TSmtpAuthentication::Login || FAuthenticated ||
      !FMechanisms.contains("LOGIN"))
    return;
  Expect(Command("AUTH LOGIN"), {334});
  Expect(Command(Base64(FSettings.UserName)), {334});
  Expect(Command(Base64(FSettings.Password)), {235});
  FAuthenticated = true;
}

TSmtpReply TSmtpClient::ReadReply() {
  const auto deadline = std::chrono::steady_clock::now() + FSettings.ReplyTimeout;
  for (;;) {
    std::size_t consumed = 0;
    if (std::optional<TSmtpReply> reply = ParseSmtpReply(FInput, consumed)) {
      FInput.erase(0, consumed);
      return *reply;
    }
    FStream.ReadSome(FInput, deadline);
  }
}

TSmtpReply TSmtpClient::Command(const std::string& line) {
  WriteLine(line);
  return ReadReply();
}

void TSmtpClient::Expect(const TSmtpReply& reply, std::initializer_list<int> accepted) const {
  for (int code : accepted)
    if (reply.Code == code) return;
  throw ESmtpError(FailureText(reply));
}

void TSmtpClient::ExpectForMessage(const TSmtpReply& reply, std::initializer_list<int> accepted) const {
  if (reply.Code >= 500 && reply.Code <= 599) throw ESmtpRefusal(FailureText(reply));
  Expect(reply, accepted);
}

// The server's words reach the log, the event log and the terminal of -testmail: escaped, so that
// they can neither break a line nor steer a terminal.
std::string TSmtpClient::FailureText(const TSmtpReply& reply) {
  const std::string text = reply.Text();
  return text.empty() ? std::to_string(reply.Code) : EscapeText(text);
}

void TSmtpClient::WriteLine(const std::string& line) { FStream.Write(line + "\r\n", FSettings.ReplyTimeout); }

void TSmtpClient::Abort() noexcept {
  if (!FStream.IsOpen()) return;
  try {
    WriteLine("QUIT");
  } catch (const Exception&) {
    // The connection is going anyway; a server that cannot take QUIT changes nothing.
  }
  FStream.Close();
}

}  // namespace duz
