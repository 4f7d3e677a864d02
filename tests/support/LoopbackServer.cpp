#include "support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace duz::test {

int BoundSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot bind a loopback socket");
  return fd;
}

int PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

TLoopbackServer::TLoopbackServer(std::function<void(int socket)> handler) : FListener(BoundSocket()) {
  listen(FListener, 8);
  FPort = PortOf(FListener);
  FThread = std::thread([this, handler = std::move(handler)] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!FStop && std::chrono::steady_clock::now() < deadline) {
      pollfd entry{FListener, POLLIN, 0};
      if (poll(&entry, 1, 20) <= 0) continue;
      const int connection = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      handler(connection);
      close(connection);
    }
  });
}

TLoopbackServer::~TLoopbackServer() {
  Stop();
  close(FListener);
}

void TLoopbackServer::Stop() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
}

int UnusedPort() {
  const int fd = BoundSocket();
  const int port = PortOf(fd);
  close(fd);
  return port;
}

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

std::optional<std::string> ReadUntil(int socket, std::string& buffer, std::string_view end,
                                     std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t found = buffer.find(end);
    if (found != std::string::npos) {
      std::string text = buffer.substr(0, found + end.size());
      buffer.erase(0, found + end.size());
      return text;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{socket, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t received = recv(socket, chunk, sizeof chunk, 0);
    if (received <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<std::size_t>(received));
  }
}

std::optional<std::string> ReadLine(int socket, std::string& buffer, std::chrono::milliseconds timeout) {
  std::optional<std::string> line = ReadUntil(socket, buffer, "\n", timeout);
  if (line) {
    line->pop_back();
    if (!line->empty() && line->back() == '\r') line->pop_back();
  }
  return line;
}

void WriteAll(int socket, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = send(socket, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent <= 0) return;  // the client went away; what it received is what the test checks
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
}

}  // namespace duz::test
