#pragma once
// A test server on 127.0.0.1 with an ephemeral port: a thread accepts connections until stopped and
// hands each, in turn, to the test's handler. Results recorded by the handler are read after Stop().
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace duz::test {

class TLoopbackServer {
 public:
  explicit TLoopbackServer(std::function<void(int socket)> handler);
  ~TLoopbackServer();
  int Port() const { return FPort; }
  // Ends accepting and waits for the handler of the current connection.
  void Stop();

 private:
  int FListener = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// A loopback port on which nothing listens.
int UnusedPort();
// A blocking TCP connection to 127.0.0.1:port; -1 when none can be made.
int ConnectLoopback(int port);
// A TCP socket bound to 127.0.0.1 with an ephemeral port, not yet listening; raises when none can be had.
int BoundSocket();
int PortOf(int socket);

// One line without its line end (LF, with an optional CR before it); nothing at the end of the
// stream or after the time-out. buffer keeps bytes that arrived after the line.
std::optional<std::string> ReadLine(int socket, std::string& buffer,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Bytes up to and including the first occurrence of end; nothing at the end of the stream or after the
// time-out.
std::optional<std::string> ReadUntil(int socket, std::string& buffer, std::string_view end,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(5));
void WriteAll(int socket, std::string_view data);

}  // namespace duz::test
