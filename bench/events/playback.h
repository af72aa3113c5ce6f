// A recording played back as the source of events: it publishes to the
// same hub as the live board, paced by the recorded times (or as fast as
// the machine goes), with pause, seek and loop. Play after the end starts
// again from the beginning. A loop pass takes at least kShortestLoopPass of
// wall time, so that a recording of no duration (one event, or none) is
// replayed every 10 ms rather than as often as the processor allows.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/board/event_hub.h"
#include "bench/events/recording_file.h"

namespace Zelvar_Core::bench {

// The wall clock that paces a playback: the steady clock, or a test's own.
class PlaybackClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~PlaybackClock() = default;
  virtual TimePoint now() = 0;
  // Waits on `wake`, with `lock` held, until `until` or a notification.
  virtual void wait_until(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                          TimePoint until) = 0;
  static PlaybackClock& steady();
};

class Playback {
 public:
  static constexpr double kAsFastAsPossible = 0;
  static constexpr std::chrono::milliseconds kShortestLoopPass{10};

  explicit Playback(EventHub& hub, PlaybackClock& clock = PlaybackClock::steady());
  ~Playback();
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  // Scans the recording (counts, times, oddities); throws std::runtime_error
  // with one sentence when it cannot be played at all, and then nothing is
  // open (the recording open before is closed either way).
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
  // Why the playback stopped when the file could not be read ("" if it
  // did not fail); Play does nothing after it.
  std::string failure() const;
  // Runs on the playback thread when the end is reached without loop.
  std::function<void()> on_end;

 private:
  // What the playback thread holds of the file: a decoded batch and the
  // next of its events to publish.
  struct Batch {
    std::vector<Event> events, kept;
    std::size_t at = 0;
    bool used_up() const { return at >= events.size(); }
  };
  // The pace as it stood when the thread last looked, copied out of the lock.
  struct Pace {
    double speed;
    std::int64_t anchor_t;
    PlaybackClock::TimePoint anchor_wall;
    std::uint64_t count;
  };
  void run();
  void play_through();
  // With `mutex_` held: goes to the time asked for.
  void seek_locked(Batch& batch);
  // The file's end reached: loops (at most one pass per kShortestLoopPass) or stops.
  void at_end_of_file();
  // How many events of the batch are due now, waiting a little when none is.
  std::size_t due(Batch& batch, const Pace& pace);
  void publish(Batch& batch, std::size_t end);
  void start_thread();
  void stop_thread();
  void reanchor(std::int64_t t);

  EventHub& hub_;
  PlaybackClock& clock_;
  RecordingInfo info_;
  std::unique_ptr<RecordingReader> reader_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  std::string failure_;
  std::atomic<bool> playing_{false}, loop_{false}, at_end_{false};
  double speed_ = 1.0;
  double seek_to_ = -1;  // seconds, or -1
  // The pace: event time `anchor_t_` was due at wall time `anchor_wall_`;
  // `pace_` counts the changes of anchor or speed. All under `mutex_`.
  std::int64_t anchor_t_ = 0;
  PlaybackClock::TimePoint anchor_wall_;
  std::uint64_t pace_ = 0;
  PlaybackClock::TimePoint pass_started_;  // when the play or loop pass began
  std::atomic<std::int64_t> position_us_{0};
  std::atomic<std::uint64_t> published_{0}, outside_{0};
};

}  // namespace Zelvar_Core::bench
