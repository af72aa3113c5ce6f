// The remote board module's one exported function (see board_module.h).
#include "bench/remote/client/board_module.h"

#include <grpc/support/log.h>

#include <cstdlib>
#include <mutex>

#include "bench/remote/client/remote_board.h"
#include "bench/remote/protocol/remote_call.h"
#include "bench/remote/protocol/token_file.h"

namespace {

// What the protocol's library says on its own (a failed TLS handshake, ...)
// is not written on the bench's console: the bench tells what happened in
// its own sentence. GRPC_VERBOSITY set in the environment still has it said.
void library_log(gpr_log_func_args*) {}

}  // namespace

extern "C" __attribute__((visibility("default"))) void zelvar_open_served_board(
    const Zelvar_Core::bench::remote::ServedBoardRequest& request,
    std::unique_ptr<Zelvar_Core::bench::Board>& board) {
  using namespace Zelvar_Core::bench::remote;
  static_assert(std::is_same_v<decltype(&zelvar_open_served_board), OpenServedBoard>);
  static std::once_flag routed;
  std::call_once(routed, [] {
    if (std::getenv("GRPC_VERBOSITY") == nullptr) gpr_set_log_function(library_log);
  });
  auto served = std::make_unique<RemoteBoard>(
      request.address, request.token_file.empty() ? "" : read_token_file(request.token_file),
      request.client + " on " + this_host(),
      request.tls_ca.empty() ? "" : read_tls_file(request.tls_ca, TlsFile::Authority));
  if (request.interactive != std::thread::id()) served->set_interactive_thread(request.interactive);
  board = std::move(served);
}
