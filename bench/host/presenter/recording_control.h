// The Record toggle's recording: the board's events written to a file of
// recordings/ behind the recorder's queue, and told when it ends (its size,
// its events, those the disk dropped and those the board lost).
#pragma once

#include <spdlog/logger.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/board/lost_events.h"
#include "bench/board/simulated_board.h"
#include "bench/events/recorder.h"
#include "bench/host/presenter/status_line.h"

namespace Zelvar_Core::bench {

class RecordingControl {
 public:
  RecordingControl(Board& board, StatusLine& status, std::shared_ptr<spdlog::logger> logger);
  ~RecordingControl();

  // A new file in `folder`, hearing the board's events from now on (the
  // stream may start after). Returns the file's path.
  std::string begin(const std::filesystem::path& folder);
  // The stream it waits for could not start: no file is left.
  void abandon();
  // The stream runs: what the board loses from here on is counted.
  void streaming();
  // Stops hearing, closes the file and tells how it went.
  void end(const std::string& why);
  bool active() const { return recorder_.active(); }
  bool failed() const { return recorder_.failed(); }
  const std::string& last_path() const { return path_; }
  // "REC 0:12 | 3.1 MiB | 812,345 ev | 0 dropped" while recording.
  std::string line() const;

 private:
  Board& board_;
  StatusLine& status_;
  std::shared_ptr<spdlog::logger> logger_;
  Recorder recorder_;
  std::string path_;
  std::uint64_t lost_before_ = 0;  // the board's losses when the recording began
  LinkLosses link_losses_;         // a served board's stream's, since it began
};

}  // namespace Zelvar_Core::bench
