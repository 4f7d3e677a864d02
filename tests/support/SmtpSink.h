#pragma once
// An SMTP server on 127.0.0.1 (ephemeral port) that accepts every mail: it advertises AUTH LOGIN,
// answers each command positively and records every session. A message is recorded before its
// "." is answered, so a client that has finished sending finds it in Sessions(). One connection at
// a time, on a thread of its own; every read is bounded.
#include <atomic>
#include <chrono>
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
  TSmtpSink();
  ~TSmtpSink();
  int Port() const { return FPort; }
  // Sessions that sent a whole message, in order.
  std::vector<TSmtpSession> Mails() const;
  // The body lines of every mail, in order (one line per mail for the alarms).
  std::vector<std::string> Bodies() const;
  bool WaitForMails(size_t count, std::chrono::milliseconds timeout) const;

 private:
  void Serve(int socket);

  int FListener = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  mutable std::mutex FLock;
  std::vector<TSmtpSession> FMails;  // guarded by FLock
  std::thread FThread;
};

}  // namespace duz::test
