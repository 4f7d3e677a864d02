#pragma once
// TAllowList: the IP children of a DATAPUBLISHER element (names compared upper-cased), read when a
// client connects. An entry whose host is a literal IPv4 or IPv6 address matches that address
// only, and "~" (the default) or an empty host matches nothing: the reverse name of a client, which
// whoever owns its address controls, counts for neither. Any other host is a name, which matches
// only the verified host name of the client (THostNameResolver), in any case. Without entries
// every client is allowed. A pure value; any thread.
#include <asio/ip/address.hpp>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace duz {

class TAllowList {
 public:
  explicit TAllowList(pugi::xml_node publisher);

  bool AllowsEveryone() const { return !FListed; }
  bool AllowsAddress(const asio::ip::address& address) const;
  // Whether an entry is a name, so that a client not allowed by address may still be by name.
  bool HasNames() const { return !FNames.empty(); }
  bool AllowsName(std::string_view verifiedName) const;

 private:
  bool FListed = false;
  std::vector<asio::ip::address> FAddresses;
  std::vector<std::string> FNames;  // upper-cased
};

}  // namespace duz
