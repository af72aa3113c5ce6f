#include "bench/remote/server/board_server.h"

#include <stdexcept>

namespace Zelvar_Core::bench::remote {

BoardServer::BoardServer(SimulatedDevice& board, const ServerOptions& options,
                         std::shared_ptr<spdlog::logger> logger)
    : served_(board, options.token, std::move(logger), options.clock, options.lease),
      board_service_(served_),
      simulator_service_(served_),
      host_(host_of(options.listen)) {
  grpc::ServerBuilder builder;
  // Clients ping every second to find a frozen server within seconds: let
  // them, calls or none. The server pings its clients too, so that the
  // calls of one that stopped answering end and free what they hold.
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 500);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, 5000);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 5000);
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
