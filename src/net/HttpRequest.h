#pragma once
// One HTTP request, synchronous on the calling thread: the GETs of the posters and the heartbeat,
// the POSTs of the webhooks. Any thread may call it; calls share nothing. Connecting may take 15 s,
// the whole request 30 s; redirects are followed (a POST is sent again to the new place), but never
// from https to http.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace duz {

// The longest reply body kept; the transfer ends there.
constexpr std::size_t MaxHttpBody = 1 << 20;

struct THttpRequest {
  // Without "http://" or "https://" at its start it gets "http://" in front. Blanks, control and
  // non-ASCII bytes travel as %XX.
  std::string Url;
  std::vector<std::string> Headers;  // "Name: value"
  std::optional<std::string> Body;   // with one, the request is a POST
  // Check the server's certificate chain against the system's trust store plus CaFile, and its
  // name against the URL's host.
  bool TlsVerify = true;
  std::string CaFile;  // a PEM file of further trusted certificates; empty for none
};

struct THttpReply {
  long Status = 0;    // of the last response; 0 when none came
  std::string Body;   // of that response, at most MaxHttpBody bytes
  std::string Error;  // why the transfer did not complete (no connection, a time-out ...)
};

THttpReply SendHttpRequest(const THttpRequest& request);

// Why the reply is no success (2xx): "HTTP 503", or why no response came; "" for a success.
std::string HttpFailure(const THttpReply& reply);
// Whether a failure may pass: no response at all, a 5xx reply, or 429 (too many requests).
bool MayPass(const THttpReply& reply);

// Whether url starts with "http://" or "https://" (any case) and names a host.
bool IsHttpUrl(std::string_view url);
// The URL as logs may show it: without the user name and password before its host.
std::string UrlWithoutCredentials(std::string_view url);

}  // namespace duz
