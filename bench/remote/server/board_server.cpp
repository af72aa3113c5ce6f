#include "bench/remote/server/board_server.h"

#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/health_check_service_interface.h>

#include <stdexcept>

namespace Zelvar_Core::bench::remote {

std::string exposure_warning(const ServerOptions& options) {
  const std::string host = host_of(options.listen);
  if (is_loopback(host)) return "";
  if (options.token.empty())
    throw std::runtime_error("A server on " + options.listen +
                             " is reached from beyond this machine: give it a token with "
                             "--token-file F");
  if (options.tls_certificate.empty())
    return "The token travels in clear to " + options.listen +
           ": anyone on the network can read it (give --tls-cert and --tls-key)";
  return "";
}

BoardServer::BoardServer(SimulatedDevice& board, const ServerOptions& options,
                         std::shared_ptr<spdlog::logger> logger)
    : served_(board, options.token, std::move(logger), options.clock, options.lease),
      board_service_(served_),
      simulator_service_(served_),
      host_(host_of(options.listen)) {
  if (const std::string warning = exposure_warning(options); !warning.empty())
    served_.logger->warn("{}", warning);
  if (options.tls_certificate.empty() != options.tls_key.empty())
    throw std::runtime_error(
        "TLS needs both the certificate and its key: give --tls-cert and --tls-key");
  std::shared_ptr<grpc::ServerCredentials> credentials = grpc::InsecureServerCredentials();
  if (!options.tls_certificate.empty()) {
    grpc::SslServerCredentialsOptions tls;
    tls.pem_key_cert_pairs.push_back({options.tls_key, options.tls_certificate});
    credentials = grpc::SslServerCredentials(tls);
  }
  // The field's usual tools can probe the server (grpc.health.v1) and list
  // its services and messages (server reflection) without the .proto.
  grpc::EnableDefaultHealthCheckService(true);
  grpc::reflection::InitProtoReflectionServerBuilderPlugin();
  grpc::ServerBuilder builder;
  keep_clients_alive(builder);
  builder.AddListeningPort(options.listen, credentials, &port_);
  builder.RegisterService(&board_service_);
  builder.RegisterService(&simulator_service_);
  server_ = builder.BuildAndStart();
  if (!server_ || port_ == 0)
    throw std::runtime_error(
        "Cannot listen on " + options.listen +
        (options.tls_certificate.empty()
             ? ": the address is in use or not this machine's"
             : ": the address is in use or not this machine's, or the TLS key is not the "
               "certificate's"));
}

void keep_clients_alive(grpc::ServerBuilder& builder) {
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 500);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, 5000);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 5000);
}

BoardServer::~BoardServer() { shutdown(); }

std::string BoardServer::address() const { return host_ + ":" + std::to_string(port_); }

void BoardServer::shutdown() {
  // Open streams are cut at once rather than waited for.
  if (server_) server_->Shutdown(std::chrono::system_clock::now());
}

}  // namespace Zelvar_Core::bench::remote
