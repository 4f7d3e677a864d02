#pragma once
// An HTTP server on 127.0.0.1 (ephemeral port) that records every request and answers it with the
// status set for its path (200 for the others) and no body: the webhook receiver or heartbeat
// checker of a test. A request is recorded before it is answered, so a client that has its answer
// finds it in Requests(). One connection at a time, on the thread of a TLoopbackServer; every read is
// bounded.
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/LoopbackServer.h"

namespace duz::test {

struct TReceivedRequest {
  std::string Method;
  std::string Path;  // with the query
  std::string Head;  // the request line and the headers, each line ended by CRLF
  std::string Body;
  bool HasHeader(const std::string& line) const {
    return Head.find("\r\n" + line + "\r\n") != std::string::npos;
  }
};

class THttpReceiver {
 public:
  explicit THttpReceiver(std::map<std::string, int> statuses = {});
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FServer.Port()) + path;
  }
  std::vector<TReceivedRequest> Requests() const;
  // The requests for that path so far.
  std::vector<TReceivedRequest> Requests(const std::string& path) const;
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  void Serve(int socket);

  const std::map<std::string, int> FStatuses;
  mutable std::mutex FLock;
  std::vector<TReceivedRequest> FRequests;  // guarded by FLock
  TLoopbackServer FServer;                  // last: its thread serves with the fields above
};

}  // namespace duz::test
