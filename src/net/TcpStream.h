#pragma once
// A connected TCP socket with a time-out on every wait, for the blocking line protocols of the
// network clients; after StartTls the same calls run inside TLS, so a protocol does not need to know.
// Owned by one client object and used only by the thread that calls that client.
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "net/TlsSession.h"

namespace duz {

class TTcpStream {
 public:
  TTcpStream() = default;
  ~TTcpStream();
  TTcpStream(const TTcpStream&) = delete;
  TTcpStream& operator=(const TTcpStream&) = delete;

  // Raises Exception with the system's description when the connection fails or the time runs out.
  void Connect(const sockaddr* address, socklen_t length, std::chrono::milliseconds timeout);
  bool IsOpen() const { return FSocket >= 0; }
  // Runs the TLS handshake on the open connection and returns the protocol and cipher agreed.
  // Raises when it fails or the time runs out; the connection is closed then, since nothing more
  // can be said on it.
  std::string StartTls(const TTlsSettings& settings, std::chrono::milliseconds timeout);
  void Write(std::string_view data, std::chrono::milliseconds timeout);
  // Appends at least one received byte to buffer; raises at the deadline, on an error and when the
  // peer has closed the connection.
  void ReadSome(std::string& buffer, std::chrono::steady_clock::time_point deadline);
  void Close();

 private:
  // One non-blocking step of each; 0 when done, otherwise the poll events to wait for.
  short ReadStep(std::string& buffer);
  short WriteStep(std::string_view data, std::size_t& written);
  // Waits until the socket is ready for events; raises when the deadline passes first.
  void WaitFor(short events, std::chrono::steady_clock::time_point deadline, const char* timeoutMessage);

  int FSocket = -1;
  std::unique_ptr<TTlsSession> FTls;  // present while the connection runs TLS
};

}  // namespace duz
