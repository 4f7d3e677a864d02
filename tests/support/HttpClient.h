#pragma once
// A plain HTTP/1.1 client on 127.0.0.1 for the tests of the metrics server and the queries to a
// Prometheus server: one request per connection, the answer read until the server closes.
#include <chrono>
#include <string>

namespace duz::test {

struct THttpResponse {
  int Status = 0;  // 0: no answer within the time-out
  std::string Headers;
  std::string Body;
};

// headers: more header lines, each ended by CR LF.
THttpResponse HttpRequest(int port, const std::string& target, const std::string& method = "GET",
                          std::chrono::milliseconds timeout = std::chrono::seconds(5),
                          const std::string& headers = "");
// The text with every byte but letters, digits and -._~ percent-encoded, for a query string.
std::string UrlEncoded(const std::string& text);

}  // namespace duz::test
