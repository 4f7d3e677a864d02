#pragma once
// An SMTP server on 127.0.0.1 (ephemeral port) that accepts every mail: it advertises AUTH LOGIN,
// answers each command positively (unless told otherwise) and records every session. A message is recorded
// before its
// "." is answered, so a client that has finished sending finds it in Sessions(). One connection at
// a time, on a thread of its own; every read is bounded.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace duz::test {

struct TSmtpSession {
  std::vector<std::string> Commands;  // every command line, "." included
  std::vector<std::string> Data;      // the message lines between DATA and "."
  // The body: the lines after the first empty line of Data.
  std::vector<std::string> Body() const;
};

class TSmtpSink {
 public:
  // replies: the reply that replaces the usual one, by command verb ("MAIL", "RCPT", "DATA" ...;
  // "" for the greeting). A session ends after a refused greeting.
  explicit TSmtpSink(std::map<std::string, std::string> replies = {});
  ~TSmtpSink();
  int Port() const { return FPort; }
  // Connections served so far, whatever became of them.
  int Sessions() const { return FSessions; }
  // Sessions that sent a whole message, in order.
  std::vector<TSmtpSession> Mails() const;
  // The body lines of every mail, in order (one line per mail for the alarms).
  std::vector<std::string> Bodies() const;
  bool WaitForMails(size_t count, std::chrono::milliseconds timeout) const;

 private:
  void Serve(int socket);

  const std::map<std::string, std::string> FReplies;
  int FListener = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FSessions{0};
  mutable std::mutex FLock;
  std::vector<TSmtpSession> FMails;  // guarded by FLock
  std::thread FThread;
};

}  // namespace duz::test
