// A board server's address as the command line gives it, checked without
// the protocol's libraries, so that pravel can refuse a bad --board before
// it loads them.
#pragma once

#include <string>

namespace Zelvar_Core::bench::remote {

// The protocol's port when none is given.
inline constexpr int kDefaultPort = 50551;

// The host part of "HOST:PORT" (brackets kept for IPv6); refuses what is
// not an address with a port.
std::string host_of(const std::string& listen);

// Whether `host` (as host_of gives it) is this machine's loopback, which no
// other machine reaches: 127.x.x.x, [::1] or localhost.
bool is_loopback(const std::string& host);

}  // namespace Zelvar_Core::bench::remote
