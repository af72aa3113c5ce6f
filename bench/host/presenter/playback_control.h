// A recording opened for playback in the board's place: opened with what is
// odd about it told, exported to HDF5 behind a progress dialog, and its line
// for the status bar. Playing and pausing are the presenter's, which hands
// the stream between the board and the recording.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <string>

#include "bench/events/playback.h"
#include "bench/host/presenter/status_line.h"

namespace Zelvar_Core::bench {

class PlaybackControl {
 public:
  PlaybackControl(EventHub& hub, StatusLine& status, std::shared_ptr<spdlog::logger> logger);
  // Scans and opens the recording; throws with one sentence when it cannot be played.
  const RecordingInfo& open(const std::string& path);
  // The open recording as HDF5 (the file dialog has asked before replacing
  // `out`); returns what was written, as told in the status bar and the log.
  std::string export_to(const std::string& out, wxWindow* parent);
  // "Playback rec_1.raw at 3.2 / 12.7 s" while a recording is open.
  std::string line() const;
  Playback& playback() { return playback_; }

 private:
  StatusLine& status_;
  std::shared_ptr<spdlog::logger> logger_;
  Playback playback_;
};

}  // namespace Zelvar_Core::bench
