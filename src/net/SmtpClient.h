#pragma once
// TSmtpClient carries one e-mail to an SMTP server: connection and greeting, optional AUTH LOGIN,
// the envelope, the message, QUIT. A new client is made for every e-mail by the thread that sends
// it, used only by that thread and freed afterwards; clients share nothing. Every wait is bounded by
// the time-outs of the settings. Failures raise ESmtpError (a refused command: the server's text;
// ESmtpRefusal when the message itself is refused) or Exception (the socket layer's description);
// the connection is closed then, "QUIT" first.
#include <chrono>
#include <functional>
#include <set>
#include <string>

#include "net/MailMessage.h"
#include "net/SmtpReply.h"
#include "net/TcpStream.h"

namespace duz {

enum class TSmtpAuthentication { None, Login };

struct TSmtpSettings {
  std::string Host;  // host name or IP address
  int Port = 25;
  std::string UserName;
  std::string Password;
  TSmtpAuthentication Authentication = TSmtpAuthentication::None;
  std::string GreetingName = LocalHostName();  // sent with EHLO and HELO
  std::chrono::milliseconds ConnectTimeout{30000};
  std::chrono::milliseconds ReplyTimeout{60000};  // for each reply, and for each write

  static std::string LocalHostName();
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

 private:
  void Status(const std::string& text) const;
  void OpenConnection();
  void Greet();
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
  bool FAuthenticated = false;
};

}  // namespace duz
