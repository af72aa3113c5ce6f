// The board served at --board, through the remote board module, which is
// loaded here the first time it is needed (see bench/remote/client/board_module.h).
#pragma once

#include <memory>

#include "bench/remote/client/board_module.h"

namespace Zelvar_Core::bench {

// Throws std::runtime_error with one sentence when the module cannot be
// found or loaded, or when the board cannot be reached or read.
std::unique_ptr<Board> open_served_board(const remote::ServedBoardRequest& request);

}  // namespace Zelvar_Core::bench
