// pravel-board-check: runs the board protocol's contract against a board
// server and prints one line per check, pass or fail and why. Exits 0 only
// when every check passed.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "Zelvar_Core/version.h"
#include "bench/remote/check/board_check.h"
#include "bench/remote/protocol/board_address.h"
#include "bench/remote/protocol/remote_call.h"
#include "bench/remote/protocol/token_file.h"

namespace remote = Zelvar_Core::bench::remote;

int main(int argc, char** argv) {
  CLI::App app(
      "pravel-board-check: checks a board server against the board protocol, one line per check",
      "pravel-board-check");
  remote::CheckOptions options;
  std::string token_file, tls_ca;
  bool quick = false;
  app.set_version_flag("--version", std::string("pravel-board-check ") + Zelvar_Core::kVersion);
  app.add_option("address", options.address, "The board server's HOST:PORT")
      ->required()
      ->type_name("HOST:PORT");
  app.add_option("--token-file", token_file, "Send the token in file F with every call")
      ->type_name("F");
  app.add_option("--tls-ca", tls_ca,
                 "Reach the server over TLS, its certificate signed by the CA certificate in F")
      ->type_name("F");
  app.add_option("--bitstream", options.bitstream,
                 "Program this design (a real board's own); by default a small design of the "
                 "checker's, which a simulated board accepts")
      ->type_name("F");
  app.add_flag("--quick", quick, "Do not wait out a holder's 10 s lease");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "pravel-board-check: %s. See pravel-board-check --help.\n", e.what());
    return 2;
  }
  try {
    remote::host_of(options.address);  // a port, and one that exists
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "pravel-board-check: %s\n", e.what());
    return 2;
  }
  options.lease = !quick;
  try {
    if (!token_file.empty()) options.token = remote::read_token_file(token_file);
    if (!tls_ca.empty()) options.tls_ca = remote::read_tls_file(tls_ca, remote::TlsFile::Authority);
    if (!options.bitstream.empty()) remote::read_bitstream_file(options.bitstream);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pravel-board-check: %s\n", e.what());
    return 2;
  }
  std::printf("pravel-board-check: checking the board server at %s\n", options.address.c_str());
  std::fflush(stdout);
  const auto results = remote::check_board(options, [](const remote::CheckResult& result) {
    std::printf("%s\n", remote::result_line(result).c_str());
    std::fflush(stdout);
  });
  std::size_t passed = 0, failed = 0, skipped = 0;
  std::string failed_names;
  for (const auto& result : results) {
    switch (result.outcome) {
      case remote::CheckResult::Outcome::Pass:
        ++passed;
        break;
      case remote::CheckResult::Outcome::Fail:
        ++failed;
        failed_names += (failed_names.empty() ? "" : ", ") + result.name;
        break;
      case remote::CheckResult::Outcome::Skip:
        ++skipped;
        break;
    }
  }
  if (failed == 0) {
    std::printf("pravel-board-check: %zu checks passed, %zu not applicable to this board\n", passed,
                skipped);
    return 0;
  }
  std::printf("pravel-board-check: %zu of %zu checks failed: %s\n", failed, results.size(),
              failed_names.c_str());
  return 1;
}
