#pragma once
// A stand-in for the service manager's notification socket: an AF_UNIX datagram socket bound in a
// test's directory, or an abstract one when the path starts with '@'. Give its Path() to the
// program as NOTIFY_SOCKET.
#include <chrono>
#include <optional>
#include <string>

namespace duz::test {

class TNotifySocket {
 public:
  explicit TNotifySocket(std::string path);
  ~TNotifySocket();
  TNotifySocket(const TNotifySocket&) = delete;
  TNotifySocket& operator=(const TNotifySocket&) = delete;

  const std::string& Path() const { return FPath; }
  // The next notification, or nothing after the time-out.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout);
  // Receives until a notification has the line (such as "READY=1"); false after the time-out.
  bool WaitFor(const std::string& line, std::chrono::milliseconds timeout);

 private:
  bool Abstract() const { return FPath.front() == '@'; }

  std::string FPath;
  int FFd = -1;
};

}  // namespace duz::test
