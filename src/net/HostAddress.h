#pragma once
// Small questions about host names and socket addresses that the network clients share.
#include <sys/socket.h>

#include <array>
#include <compare>
#include <optional>
#include <string>

namespace duz {

// An IPv4 or IPv6 address, compared by value: "::1" and "0:0::1" are one address. An IPv4 address
// written or seen through an IPv6 socket as ::ffff:a.b.c.d is that IPv4 address.
struct TIpAddress {
  int Family = AF_UNSPEC;  // AF_INET or AF_INET6
  std::array<unsigned char, 16> Bytes{};
  auto operator<=>(const TIpAddress&) const = default;
};

// The address that text writes in numeric form; nothing for a name or anything else.
std::optional<TIpAddress> ParseIpAddress(const std::string& text);
// The address of an AF_INET or AF_INET6 socket address.
TIpAddress IpAddressOf(const sockaddr* address);
// The socket address (port 0) of an address, for the system's look-ups.
sockaddr_storage SocketAddressOf(const TIpAddress& address, socklen_t& size);

// Whether host is a numeric IPv4 or IPv6 address rather than a name.
bool IsIpAddress(const std::string& host);
// Whether text is a numeric IPv4 address, as a server binds to.
bool IsIpv4Address(const std::string& text);
// The numeric text of an IPv4 or IPv6 socket address.
std::string AddressText(const sockaddr* address);
// Whether the address is on 127.0.0.0/8 or is ::1, where nothing leaves the computer.
bool IsLoopback(const sockaddr* address);
// This computer's host name, or "localhost" when the system does not say.
std::string LocalHostName();

}  // namespace duz
