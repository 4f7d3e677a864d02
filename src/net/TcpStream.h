#pragma once
// A connected TCP socket with a time-out on every wait, for the blocking line protocols of the
// network clients. Owned by one client object and used only by the thread that calls that client.
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <string_view>

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
  void Write(std::string_view data, std::chrono::milliseconds timeout);
  // Appends at least one received byte to buffer; raises at the deadline, on an error and when the
  // peer has closed the connection.
  void ReadSome(std::string& buffer, std::chrono::steady_clock::time_point deadline);
  void Close();

 private:
  // Waits until the socket is ready for events; raises when the deadline passes first.
  void WaitFor(short events, std::chrono::steady_clock::time_point deadline, const char* timeoutMessage);

  int FSocket = -1;
};

}  // namespace duz
