#pragma once
// Whom the metrics server serves: the `host` entries of its IP children. A pure function, called
// on the server's own threads.
#include <string>
#include <vector>

namespace duz {

// No entries: everyone. Otherwise a client is served when an entry is a literal IPv4 or IPv6
// address equal to its address. An entry that is a name matches no one for now; names are to be
// checked by reverse and forward look-up, the way the TCP data server will check them.
bool IsAllowedClient(const std::vector<std::string>& hosts, const std::string& clientAddress);

}  // namespace duz
