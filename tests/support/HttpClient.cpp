#include "support/HttpClient.h"

#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>

#include "support/LoopbackServer.h"

namespace duz::test {

THttpResponse HttpRequest(int port, const std::string& target, const std::string& method,
                          std::chrono::milliseconds timeout, const std::string& headers) {
  THttpResponse response;
  const int fd = ConnectLoopback(port);
  if (fd < 0) return response;
  WriteAll(
      fd, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers + "\r\n");
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
      close(fd);
      return response;  // no whole answer in time
    }
    char chunk[65536];
    const ssize_t size = recv(fd, chunk, sizeof chunk, 0);
    if (size <= 0) break;
    received.append(chunk, static_cast<size_t>(size));
  }
  close(fd);
  const size_t end = received.find("\r\n\r\n");
  if (end == std::string::npos || received.compare(0, 9, "HTTP/1.1 ") != 0) return response;
  response.Status = std::stoi(received.substr(9, 3));
  response.Headers = received.substr(0, end + 2);
  response.Body = received.substr(end + 4);
  return response;
}

std::string UrlEncoded(const std::string& text) {
  std::string result;
  for (const unsigned char c : text)
    result += std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'
                  ? std::string(1, static_cast<char>(c))
                  : fmt::format("%{:02X}", c);
  return result;
}

}  // namespace duz::test
