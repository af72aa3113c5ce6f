#include "bench/remote/protocol/board_address.h"

#include <stdexcept>

namespace Zelvar_Core::bench::remote {

std::string host_of(const std::string& listen) {
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == listen.size())
    throw std::invalid_argument(listen + " is not an address with a port (HOST:PORT)");
  for (std::size_t i = colon + 1; i < listen.size(); ++i)
    if (listen[i] < '0' || listen[i] > '9')
      throw std::invalid_argument(listen + " is not an address with a port (HOST:PORT)");
  if (std::stol(listen.substr(colon + 1)) > 65535)
    throw std::invalid_argument(listen + ": a port is at most 65535");
  return listen.substr(0, colon);
}

bool is_loopback(const std::string& host) {
  return host == "localhost" || host == "[::1]" || host == "::1" || host.rfind("127.", 0) == 0;
}

}  // namespace Zelvar_Core::bench::remote
