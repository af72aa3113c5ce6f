// pravel-board: the simulated sensor board as a board server, in a process
// of its own, speaking the board protocol exactly as a real board's server
// would. Listens on 127.0.0.1 unless another address is given.
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "Zelvar_Core/version.h"
#include "bench/remote/server/board_server.h"

namespace {

using Zelvar_Core::bench::remote::BoardServer;
using Zelvar_Core::bench::remote::ServerOptions;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("pravel-board: a simulated sensor board served over the board protocol",
               "pravel-board");
  ServerOptions options;
  std::string token_file, tls_cert, tls_key;
  std::string sensor = "640x480";
  app.set_version_flag("--version", std::string("pravel-board ") + Zelvar_Core::kVersion);
  app.add_option("--listen", options.listen,
                 "Listen on HOST:PORT (default 127.0.0.1:50551; port 0 picks a free one). Any "
                 "address other than the loopback only when given here")
      ->type_name("HOST:PORT");
  app.add_option("--token-file", token_file,
                 "Refuse every call that does not carry the token in file F")
      ->type_name("F");
  app.add_option("--tls-cert", tls_cert,
                 "Serve over TLS with the certificate in PEM file F (with --tls-key)")
      ->type_name("F");
  app.add_option("--tls-key", tls_key,
                 "The TLS certificate's private key, in PEM file F that only its owner reads")
      ->type_name("F");
  double lease_seconds = std::chrono::duration<double>(options.lease).count();
  app.add_option("--lease", lease_seconds,
                 "How long the holder keeps the board after its last call, in seconds (default "
                 "10)")
      ->type_name("S")
      ->check(CLI::Range(0.1, 3600.0));
  app.add_option("--sensor", sensor,
                 "The sensor simulated: 640x480 (the AER-640, the default) or 320x240 (the "
                 "AER-320: its own registers, two ADC channels, no test pattern, no serial port)")
      ->type_name("640x480|320x240")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            try {
              Zelvar_Core::bench::parse_simulated_sensor(text);
              return "";
            } catch (const std::invalid_argument& e) {
              const std::string what = e.what();
              return what.substr(what.find(' ') + 1);  // the option is named by the parser
            }
          },
          ""));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "pravel-board: %s. See pravel-board --help.\n", e.what());
    return 2;
  }
  options.lease = std::chrono::milliseconds(std::lround(lease_seconds * 1000));
  auto logger = spdlog::stderr_color_mt("pravel-board");
  // SIGINT and SIGTERM are waited for here, not delivered to a thread.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  try {
    using Zelvar_Core::bench::remote::read_tls_file;
    using Zelvar_Core::bench::remote::TlsFile;
    if (tls_cert.empty() != tls_key.empty())
      throw std::runtime_error(
          "TLS needs both the certificate and its key: give --tls-cert and "
          "--tls-key");
    if (!token_file.empty())
      options.token = Zelvar_Core::bench::remote::read_token_file(token_file);
    if (!tls_cert.empty()) {
      options.tls_certificate = read_tls_file(tls_cert, TlsFile::Certificate);
      options.tls_key = read_tls_file(tls_key, TlsFile::Key);
    }
    Zelvar_Core::bench::SimulatedDevice board(Zelvar_Core::bench::parse_simulated_sensor(sensor));
    BoardServer server(board, options, logger);
    // The address as bound, on stdout, for whoever started the server.
    std::printf("pravel-board: serving the simulated board on %s%s%s\n", server.address().c_str(),
                options.tls_certificate.empty() ? "" : " over TLS",
                options.token.empty() ? "" : " (a token is required)");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    logger->info("Stopping on signal {}", signal);
    server.shutdown();
    board.stop_acquisition();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pravel-board: %s\n", e.what());
    return 1;
  }
  return 0;
}
