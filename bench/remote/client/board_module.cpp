// The remote board module's one exported function (see board_module.h).
#include "bench/remote/client/board_module.h"

#include "bench/remote/client/remote_board.h"
#include "bench/remote/protocol/remote_call.h"
#include "bench/remote/protocol/token_file.h"

extern "C" __attribute__((visibility("default"))) void zelvar_open_served_board(
    const Zelvar_Core::bench::remote::ServedBoardRequest& request,
    std::unique_ptr<Zelvar_Core::bench::Board>& board) {
  using namespace Zelvar_Core::bench::remote;
  static_assert(std::is_same_v<decltype(&zelvar_open_served_board), OpenServedBoard>);
  auto served = std::make_unique<RemoteBoard>(
      request.address, request.token_file.empty() ? "" : read_token_file(request.token_file),
      request.client + " on " + this_host(),
      request.tls_ca.empty() ? "" : read_tls_file(request.tls_ca, TlsFile::Authority));
  if (request.interactive != std::thread::id()) served->set_interactive_thread(request.interactive);
  board = std::move(served);
}
