// pravel-board's server: the simulated board's services on one address,
// with or without a token.
#pragma once

#include <grpcpp/grpcpp.h>
#include <spdlog/logger.h>

#include <memory>
#include <string>

#include "bench/remote/protocol/board_address.h"
#include "bench/remote/server/board_service.h"

namespace Zelvar_Core::bench::remote {

struct ServerOptions {
  std::string listen = "127.0.0.1:" + std::to_string(kDefaultPort);  // loopback unless told
  std::string token;  // "" when every caller is let in
  // The server's TLS certificate and key (PEM); both "" to serve in clear.
  std::string tls_certificate, tls_key;
  // How long a holder's session lasts after its last call, on this clock.
  std::chrono::milliseconds lease = BoardAccess::kLease;
  BoardAccess::Clock clock = std::chrono::steady_clock::now;
};

// What serving with `options` exposes: throws with one sentence for an
// address beyond the loopback without a token; the warning to log for a
// token that would travel there in clear ("" when none).
std::string exposure_warning(const ServerOptions& options);

// The link's liveness on a board server being built: clients ping every
// second to find a frozen server within seconds, calls or none, and the
// server pings its clients, so that the calls of one that stopped answering
// end and free what they hold. Every server of the board protocol sets it.
void keep_clients_alive(grpc::ServerBuilder& builder);

class BoardServer {
 public:
  // Listening when constructed; throws with the reason when it cannot.
  BoardServer(SimulatedDevice& board, const ServerOptions& options,
              std::shared_ptr<spdlog::logger> logger);
  ~BoardServer();
  int port() const { return port_; }
  // The address as clients reach it: the listening host and the bound port.
  std::string address() const;
  void shutdown();
  const BoardAccess& access() const { return served_.access; }

 private:
  ServedBoard served_;
  BoardService board_service_;
  SimulatorService simulator_service_;
  std::string host_;
  int port_ = 0;
  std::unique_ptr<grpc::Server> server_;
};

}  // namespace Zelvar_Core::bench::remote
