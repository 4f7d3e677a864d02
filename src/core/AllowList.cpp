#include "core/AllowList.h"

#include <algorithm>

#include "base/Text.h"
#include "xml/XmlHelpers.h"

namespace duz {
namespace {

// An IPv4 client seen through an IPv6 socket is the IPv4 address.
asio::ip::address Plain(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  return address;
}

}  // namespace

TAllowList::TAllowList(pugi::xml_node publisher) {
  for (pugi::xml_node entry : publisher.children()) {
    if (entry.type() != pugi::node_element || UpperCase(entry.name()) != "IP") continue;
    FListed = true;
    const std::string host = GetAttrDef(entry, "host", "~").ToString();
    std::error_code notAnAddress;
    const asio::ip::address address = asio::ip::make_address(host, notAnAddress);
    if (!notAnAddress)
      FAddresses.push_back(Plain(address));
    else if (host != "~" && !host.empty())
      FNames.push_back(UpperCase(host));
  }
}

bool TAllowList::AllowsAddress(const asio::ip::address& address) const {
  return std::find(FAddresses.begin(), FAddresses.end(), Plain(address)) != FAddresses.end();
}

bool TAllowList::AllowsName(std::string_view verifiedName) const {
  return !verifiedName.empty() &&
         std::find(FNames.begin(), FNames.end(), UpperCase(verifiedName)) != FNames.end();
}

}  // namespace duz
