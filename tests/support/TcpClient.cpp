#include "support/TcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace duz::test {
namespace {

int Check(int result, const char* what) {
  if (result < 0) throw std::runtime_error(std::string(what) + " failed");
  return result;
}

}  // namespace

TTcpClient::TTcpClient(uint16_t port, int receiveBuffer)
    : FFd(Check(socket(AF_INET, SOCK_STREAM, 0), "socket")) {
  if (receiveBuffer) setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Check(connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address), "connect");
}

void TTcpClient::Send(const std::string& bytes) {
  Check(static_cast<int>(send(FFd, bytes.data(), bytes.size(), 0)), "send");
}

void TTcpClient::Poll() {
  char buffer[65536];
  ssize_t n;
  while ((n = recv(FFd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
    Data.append(buffer, static_cast<size_t>(n));
  if (n < 0 && errno == ECONNRESET) Ended = Reset = true;
  if (n == 0) {
    // A reset that came after the server's end shows as a pending error.
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(FFd, SOL_SOCKET, SO_ERROR, &error, &size);
    Ended = true;
    Reset = Reset || error != 0;
  }
}

void TTcpClient::Abort() {
  linger hard{1, 0};
  setsockopt(FFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Close();
}

void TTcpClient::Close() {
  if (FFd >= 0) close(FFd);
  FFd = -1;
}

}  // namespace duz::test
