#pragma once
// An SMTP server on 127.0.0.1 (ephemeral port) that accepts every mail but the recipients it is told
// to refuse: it advertises AUTH LOGIN, answers each command positively (unless told otherwise) and
// records every session.
// With TLS it speaks it from the first byte (implicit) or offers STARTTLS and advertises AUTH only
// inside TLS, as careful servers do. A message is recorded before its "." is answered, so a client
// that has finished sending finds it in Mails(). One connection at a time, on a thread of its own;
// every read is bounded.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/TestCa.h"

struct ssl_ctx_st;

namespace duz::test {

struct TSmtpSession {
  std::vector<std::string> Commands;  // every command line, "." included
  std::vector<std::string> Data;      // the message lines between DATA and "."
  std::size_t CommandsInClear = 0;    // how many of Commands came before TLS began
  // The body: the lines after the first empty line of Data.
  std::vector<std::string> Body() const;
};

struct TSmtpSinkOptions {
  enum class TTls { None, StartTls, Implicit } Tls = TTls::None;
  TCertificateFiles Certificate;            // the server's, for TLS
  std::set<std::string> RefusedRecipients;  // answered 550 at RCPT TO
  std::string HangUpAfter;                  // the command ("." for the message) answered last
  // The reply that replaces the usual one, by command verb ("MAIL", "RCPT", "DATA" ...; "" for the
  // greeting). A session ends after a replaced greeting.
  std::map<std::string, std::string> Replies;
};

class TSmtpSink {
 public:
  explicit TSmtpSink(TSmtpSinkOptions options = {});
  // Speaking TLS in that mode with the server certificate, otherwise as usual.
  TSmtpSink(TSmtpSinkOptions::TTls tls, TCertificateFiles certificate);
  ~TSmtpSink();
  int Port() const { return FPort; }
  // Sessions that sent a whole message, in order.
  std::vector<TSmtpSession> Mails() const;
  // Every connection that has ended, in order.
  std::vector<TSmtpSession> Sessions() const;
  // The body lines of every mail, in order (one line per mail for the alarms).
  std::vector<std::string> Bodies() const;
  bool WaitForMails(size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForSessions(size_t count, std::chrono::milliseconds timeout) const;

 private:
  class TConnection;
  void Serve(TConnection& connection, TSmtpSession& session);

  TSmtpSinkOptions FOptions;
  ssl_ctx_st* FTlsContext = nullptr;
  int FListener = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  mutable std::mutex FLock;
  std::vector<TSmtpSession> FMails;     // guarded by FLock
  std::vector<TSmtpSession> FSessions;  // guarded by FLock
  std::thread FThread;
};

}  // namespace duz::test
