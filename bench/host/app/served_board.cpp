#include "bench/host/app/served_board.h"

#include <stdexcept>
#include <string>

#include "bench/modules/module_loader.h"

namespace Zelvar_Core::bench {

namespace {

// Loaded once and kept for the life of the process: the boards it makes
// run its code until the very end.
remote::OpenServedBoard module_entry() {
  static remote::OpenServedBoard entry = nullptr;
  if (entry) return entry;
  std::string why;
  if (void* found = load_module_entry(remote::kBoardModuleName, remote::kOpenServedBoard, why)) {
    entry = reinterpret_cast<remote::OpenServedBoard>(found);
    return entry;
  }
  throw std::runtime_error("Cannot reach a board server: the remote board module " +
                           std::string(remote::kBoardModuleName) + " cannot be loaded (" + why +
                           ")");
}

}  // namespace

std::unique_ptr<Board> open_served_board(const remote::ServedBoardRequest& request) {
  std::unique_ptr<Board> board;
  module_entry()(request, board);
  return board;
}

}  // namespace Zelvar_Core::bench
