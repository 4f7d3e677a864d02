#pragma once
// A TCP client of a server on 127.0.0.1 for the tests of the servers: Poll takes what has arrived
// without waiting, and tells an orderly end from a reset.
#include <cstdint>
#include <string>

namespace duz::test {

class TTcpClient {
 public:
  // receiveBuffer: SO_RCVBUF before connecting (0: the system's), to make a slow reader.
  explicit TTcpClient(uint16_t port, int receiveBuffer = 0);
  ~TTcpClient() { Close(); }
  TTcpClient(const TTcpClient&) = delete;
  TTcpClient& operator=(const TTcpClient&) = delete;

  void Send(const std::string& bytes);
  void Poll();
  // Resets the connection instead of ending it, as a crashed client does.
  void Abort();
  void Close();

  std::string Data;
  bool Ended = false;
  bool Reset = false;  // the server reset the connection instead of ending it

 private:
  int FFd;
};

}  // namespace duz::test
