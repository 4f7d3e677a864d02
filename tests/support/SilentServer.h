#pragma once
// A server on 127.0.0.1 (ephemeral port) that takes connections and never says a word: the kernel
// completes every connection into the listening socket's backlog, and nobody reads or answers. The
// peer an SMTP or HTTP client waits for in vain.
namespace duz::test {

class TSilentServer {
 public:
  TSilentServer();
  ~TSilentServer();
  TSilentServer(const TSilentServer&) = delete;
  TSilentServer& operator=(const TSilentServer&) = delete;
  int Port() const { return FPort; }

 private:
  int FListener = -1;
  int FPort = 0;
};

}  // namespace duz::test
