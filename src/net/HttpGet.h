#pragma once
// One HTTP GET, synchronous on the calling thread; any thread may call it, calls share nothing.
#include <string>

namespace duz {

// The body of the reply for the final status 200 or 302 (at most 1 MiB of it, each 4095-byte piece
// cut at its first zero byte); "Status:" and the code for any other status; "Status:" alone when no
// status arrived (unreachable server, time-out, no request made). The URL as SendHttpRequest takes
// it (HttpRequest.h).
std::string HttpGet(const std::string& url);

}  // namespace duz
