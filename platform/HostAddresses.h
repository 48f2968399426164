#pragma once

// The computer's name and the IPv4 addresses a name resolves to, through the system's resolver
// (getaddrinfo; Winsock on Windows, started here when needed). Plain C++ without Qt.

#include <string>
#include <vector>

namespace lianbu::net {

// This computer's host name, or "" when the system gives none.
std::string computerName();
// The IPv4 addresses of `host` in dotted form, in the resolver's order; empty when it does not
// resolve (an empty name never does).
std::vector<std::string> ipv4AddressesOf(const std::string &host);

} // namespace lianbu::net
