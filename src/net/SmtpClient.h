#pragma once
// TSmtpClient carries one e-mail to an SMTP server: connection and greeting, TLS from the first byte
// or after STARTTLS when configured, optional AUTH LOGIN, the envelope, the message, QUIT. A new
// client is made for every e-mail by the thread that sends it, used only by that thread and freed
// afterwards; clients share nothing. Every wait is bounded by the time-outs of the settings.
// Failures raise ESmtpError (a refused command: the server's text; ESmtpRefusal when the message
// itself is refused) or Exception (the socket layer's or TLS's description); the connection is
// closed then, "QUIT" first while the connection can still carry it. With TLS configured nothing
// after the greeting is sent unless the handshake succeeded.
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "net/HostAddress.h"
#include "net/MailMessage.h"
#include "net/SmtpReply.h"
#include "net/TcpStream.h"

namespace duz {

enum class TSmtpAuthentication { None, Login };

// None: the dialogue in clear. StartTls: TLS after the first EHLO. Implicit: TLS from the first byte.
enum class TSmtpTls { None, StartTls, Implicit };

// The configuration's word for a TLS mode ("none", "starttls", "implicit", any case); nothing for
// any other text.
std::optional<TSmtpTls> ParseSmtpTls(std::string_view word);

struct TSmtpSettings {
  std::string Host;  // host name or IP address
  int Port = 25;
  std::string UserName;
  std::string Password;
  TSmtpAuthentication Authentication = TSmtpAuthentication::None;
  std::string GreetingName = LocalHostName();  // sent with EHLO and HELO
  std::chrono::milliseconds ConnectTimeout{30000};
  std::chrono::milliseconds ReplyTimeout{60000};  // for each reply, each write and the TLS handshake
  TSmtpTls Tls = TSmtpTls::None;
  bool TlsVerify = true;  // check the certificate's chain and its name against Host
  std::string CaFile;     // extra trusted certificates (PEM)
};

class TSmtpClient {
 public:
  using TStatusCallback = std::function<void(const std::string&)>;

  explicit TSmtpClient(TSmtpSettings settings, TStatusCallback onStatus = {});
  // Closes a connection that is still open, "QUIT" first, without status reports.
  ~TSmtpClient();
  TSmtpClient(const TSmtpClient&) = delete;
  TSmtpClient& operator=(const TSmtpClient&) = delete;

  void Connect();
  void Send(const TMailMessage& message);
  void Disconnect();
  // After Connect: whether the server reached is on this computer, where a password in clear
  // never crosses a network.
  bool ConnectedToLoopback() const { return FLoopback; }

 private:
  void Status(const std::string& text) const;
  void OpenConnection();
  void Greet();
  // EHLO (or HELO when EHLO is refused), learning what the server offers.
  void Hello();
  void StartTls();
  void Authenticate();
  TSmtpReply ReadReply();
  TSmtpReply Command(const std::string& line);
  void Expect(const TSmtpReply& reply, std::initializer_list<int> accepted) const;
  // For the steps of the message itself, where a 5xx reply refuses it for good (ESmtpRefusal).
  void ExpectForMessage(const TSmtpReply& reply, std::initializer_list<int> accepted) const;
  static std::string FailureText(const TSmtpReply& reply);
  void WriteLine(const std::string& line);
  // "QUIT" without waiting for the reply, then close; failures are ignored.
  void Abort() noexcept;

  TSmtpSettings FSettings;
  TStatusCallback FOnStatus;
  TTcpStream FStream;
  std::string FInput;                 // received bytes not yet parsed into a reply
  std::set<std::string> FMechanisms;  // authentication mechanisms advertised after EHLO
  bool FStartTlsOffered = false;      // advertised after EHLO
  bool FAuthenticated = false;
  bool FLoopback = false;
};

}  // namespace duz
