#include "support/NotifySocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace duz::test {

TNotifySocket::TNotifySocket(std::string path) : FPath(std::move(path)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (FPath.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + FPath);
  std::memcpy(address.sun_path, FPath.c_str(), FPath.size() + 1);
  if (Abstract()) address.sun_path[0] = '\0';
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + FPath.size());
  FFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (FFd < 0 || bind(FFd, reinterpret_cast<sockaddr*>(&address), length) != 0)
    throw std::runtime_error("cannot bind " + FPath);
}

TNotifySocket::~TNotifySocket() {
  if (FFd >= 0) close(FFd);
  if (!Abstract()) unlink(FPath.c_str());
}

std::optional<std::string> TNotifySocket::Receive(std::chrono::milliseconds timeout) {
  pollfd ready{FFd, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  char buffer[4096];
  const ssize_t count = recv(FFd, buffer, sizeof buffer, 0);
  if (count < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(count));
}

bool TNotifySocket::WaitFor(const std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const std::optional<std::string> message = Receive(left);
    if (!message) return false;
    if (("\n" + *message + "\n").find("\n" + line + "\n") != std::string::npos) return true;
  }
}

}  // namespace duz::test
