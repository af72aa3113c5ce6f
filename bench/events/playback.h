// A recording played back as the source of events: it publishes to the
// same hub as the live board, paced by the recorded times (or as fast as
// the machine goes), with pause, seek and loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "bench/board/event_hub.h"
#include "bench/events/recording_file.h"

namespace Zelvar_Core::bench {

class Playback {
 public:
  static constexpr double kAsFastAsPossible = 0;

  explicit Playback(EventHub& hub);
  ~Playback();
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  // Scans the recording (counts, times, oddities); throws std::runtime_error
  // with one sentence when it cannot be played at all.
  const RecordingInfo& open(const std::string& path);
  void close();
  bool is_open() const { return reader_ != nullptr; }
  const RecordingInfo& info() const { return info_; }

  void play();
  void pause();
  bool playing() const { return playing_; }
  // Recorded seconds per second of wall time; kAsFastAsPossible for no pacing.
  void set_speed(double speed);
  void set_loop(bool loop) { loop_ = loop; }
  // Goes to `seconds` after the recording's first event.
  void seek(double seconds);
  // Seconds after the first event of what was published last.
  double position() const { return position_us_ * 1e-6; }
  // Events published and events left out as beyond the sensor, since open.
  std::uint64_t published() const { return published_; }
  std::uint64_t outside() const { return outside_; }
  // Runs on the playback thread when the end is reached without loop.
  std::function<void()> on_end;

 private:
  void run();
  void start_thread();
  void stop_thread();
  void reanchor(std::int64_t t);

  EventHub& hub_;
  RecordingInfo info_;
  std::unique_ptr<RecordingReader> reader_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  std::atomic<bool> playing_{false}, loop_{false}, at_end_{false};
  double speed_ = 1.0;
  double seek_to_ = -1;  // seconds, or -1
  // The pace: event time `anchor_t_` was due at wall time `anchor_wall_`.
  std::int64_t anchor_t_ = 0;
  std::chrono::steady_clock::time_point anchor_wall_;
  std::atomic<std::int64_t> position_us_{0};
  std::atomic<std::uint64_t> published_{0}, outside_{0};
};

}  // namespace Zelvar_Core::bench
