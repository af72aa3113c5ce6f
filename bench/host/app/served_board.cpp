#include "bench/host/app/served_board.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zelvar_Core::bench {

namespace {

namespace fs = std::filesystem;

// Where the module may be, nearest first: beside the program (a folder of
// its own), in the build's lib folder beside bin, and where the package
// installs it, under the lib folder beside the program's.
std::vector<fs::path> module_places() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {remote::kBoardModuleName};  // the loader's own search, then
  const fs::path folder = program.parent_path();
  return {folder / remote::kBoardModuleName, folder / ".." / "lib" / remote::kBoardModuleName,
          folder / ZELVAR_BOARD_MODULE_DIR / remote::kBoardModuleName};
}

// Loaded once and kept for the life of the process: the boards it makes
// run its code until the very end.
remote::OpenServedBoard module_entry() {
  static remote::OpenServedBoard entry = nullptr;
  if (entry) return entry;
  std::string why = "it is not installed";
  for (const fs::path& place : module_places()) {
    std::error_code error;
    if (place.has_parent_path() && !fs::exists(place, error)) continue;
    void* module = ::dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* said = ::dlerror();
      why = said ? said : "it cannot be loaded";
      continue;
    }
    if (void* found = ::dlsym(module, remote::kOpenServedBoard)) {
      entry = reinterpret_cast<remote::OpenServedBoard>(found);
      return entry;
    }
    why = place.string() + " is not the remote board module";
    ::dlclose(module);
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
