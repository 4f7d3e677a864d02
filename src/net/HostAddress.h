#pragma once
// Small questions about host names and socket addresses that the network clients share.
#include <sys/socket.h>

#include <string>

namespace duz {

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
