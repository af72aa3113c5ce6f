#include "bench/remote/board_server.h"

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

BoardServer::BoardServer(SimulatedDevice& board, const ServerOptions& options,
                         std::shared_ptr<spdlog::logger> logger)
    : served_(board, options.token, std::move(logger)),
      board_service_(served_),
      simulator_service_(served_),
      host_(host_of(options.listen)) {
  grpc::ServerBuilder builder;
  builder.AddListeningPort(options.listen, grpc::InsecureServerCredentials(), &port_);
  builder.RegisterService(&board_service_);
  builder.RegisterService(&simulator_service_);
  server_ = builder.BuildAndStart();
  if (!server_ || port_ == 0)
    throw std::runtime_error("Cannot listen on " + options.listen +
                             ": the address is in use or not this machine's");
}

BoardServer::~BoardServer() { shutdown(); }

std::string BoardServer::address() const { return host_ + ":" + std::to_string(port_); }

void BoardServer::shutdown() {
  // Open streams are cut at once rather than waited for.
  if (server_) server_->Shutdown(std::chrono::system_clock::now());
}

}  // namespace Zelvar_Core::bench::remote
