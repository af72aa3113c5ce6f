// The bench's folders, resolved once at start-up against the folder it was
// started in. Nothing later (the bitstream dialog changes the working
// folder) moves them.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace Zelvar_Core::bench {

struct BenchFolders {
  std::filesystem::path root;        // where the bench was started
  std::filesystem::path tmp;         // the recent-bitstream list
  std::filesystem::path logs;        // pravel.log and its rotations
  std::filesystem::path captures;    // capture_NNN.pgm
  std::filesystem::path presets;     // *.json
  std::filesystem::path recordings;  // rec_*.raw
  std::filesystem::path reports;     // sweep and sequence results
  std::filesystem::path results;     // results.db: every run's test record

  // Every folder as an absolute path under `start`.
  static BenchFolders under(const std::filesystem::path& start);
};

// A start-up problem told in one sentence that names the folder and what to do.
class StartupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Checks that no file stands where one of the folders belongs, making
// nothing; throws StartupError naming it otherwise.
void check_folders(const BenchFolders& folders);
// The same, then makes tmp and logs and checks that they take files.
void prepare_folders(const BenchFolders& folders);

// Makes `folder` when missing; throws std::runtime_error naming it when it
// cannot be made or is not a folder.
void ensure_folder(const std::filesystem::path& folder);

// Where the bench works when started from the desktop menu: "pravel" in the
// user's data folder, $XDG_DATA_HOME or else ~/.local/share (values of the
// environment, null when unset). Throws StartupError when neither is known.
std::filesystem::path desktop_data_folder(const char* xdg_data_home, const char* home);

}  // namespace Zelvar_Core::bench
