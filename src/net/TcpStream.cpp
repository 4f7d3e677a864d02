#include "net/TcpStream.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Exception.h"

namespace duz {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void RaiseErrno(int error) { throw Exception(std::strerror(error)); }

}  // namespace

TTcpStream::~TTcpStream() { Close(); }

void TTcpStream::Connect(const sockaddr* address, socklen_t length, std::chrono::milliseconds timeout) {
  Close();
  FSocket = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FSocket < 0) RaiseErrno(errno);
  try {
    if (connect(FSocket, address, length) != 0) {
      if (errno != EINPROGRESS) RaiseErrno(errno);
      WaitFor(POLLOUT, Clock::now() + timeout, std::strerror(ETIMEDOUT));
      int error = 0;
      socklen_t size = sizeof error;
      if (getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) RaiseErrno(errno);
      if (error != 0) RaiseErrno(error);
    }
  } catch (...) {
    Close();
    throw;
  }
}

std::string TTcpStream::StartTls(const TTlsSettings& settings, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  try {
    if (FSocket < 0) throw Exception("Not connected");
    FTls = std::make_unique<TTlsSession>(FSocket, settings);
    while (const short events = FTls->Handshake())
      WaitFor(events, deadline, "Timed out in the TLS handshake");
    return FTls->Description();
  } catch (...) {
    Close();
    throw;
  }
}

void TTcpStream::Write(std::string_view data, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!data.empty()) {
    std::size_t written = 0;
    const short events = WriteStep(data, written);
    data.remove_prefix(written);
    if (events != 0) WaitFor(events, deadline, "Timed out sending to the server");
  }
}

void TTcpStream::ReadSome(std::string& buffer, Clock::time_point deadline) {
  while (const short events = ReadStep(buffer))
    WaitFor(events, deadline, "Timed out waiting for the server's reply");
}

void TTcpStream::Close() {
  FTls.reset();
  if (FSocket >= 0) close(FSocket);
  FSocket = -1;
}

short TTcpStream::ReadStep(std::string& buffer) {
  if (FSocket < 0) throw Exception("Not connected");
  if (FTls) return FTls->Read(buffer);
  char chunk[4096];
  const ssize_t received = recv(FSocket, chunk, sizeof chunk, 0);
  if (received > 0) {
    buffer.append(chunk, static_cast<std::size_t>(received));
    return 0;
  }
  if (received == 0) throw Exception("Connection closed by the server");
  if (errno != EAGAIN && errno != EINTR) RaiseErrno(errno);
  return POLLIN;
}

short TTcpStream::WriteStep(std::string_view data, std::size_t& written) {
  if (FSocket < 0) throw Exception("Not connected");
  if (FTls) return FTls->Write(data, written);
  const ssize_t sent = send(FSocket, data.data(), data.size(), MSG_NOSIGNAL);
  if (sent >= 0) {
    written = static_cast<std::size_t>(sent);
    return 0;
  }
  if (errno != EAGAIN && errno != EINTR) RaiseErrno(errno);
  return POLLOUT;
}

void TTcpStream::WaitFor(short events, Clock::time_point deadline, const char* timeoutMessage) {
  if (FSocket < 0) throw Exception("Not connected");
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) throw Exception(timeoutMessage);
    pollfd entry{FSocket, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    if (ready > 0) return;  // errors and hang-ups show in the following call
    if (ready < 0 && errno != EINTR) RaiseErrno(errno);
  }
}

}  // namespace duz
