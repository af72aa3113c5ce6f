// Recording the board's stream to an EVT 2.0 file. The stream hands its
// events over without waiting: they go into a bounded queue that a writer
// thread empties. If the disk cannot keep up, events are dropped and
// counted, never silently lost; if the disk fails, the recording stops
// with what was written left readable. The writer makes the queue's room
// ahead while it has nothing to write, and keeps it until the recording
// stops: the stream's thread copies into it, taking no fresh memory.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/board/batch_pool.h"
#include "bench/board/board.h"
#include "bench/board/board_settings.h"
#include "bench/board/event.h"

namespace Zelvar_Core::bench {

struct RecordingStats {
  std::string path;
  std::uint64_t bytes = 0;  // written so far, header included
  std::uint64_t events = 0;
  std::uint64_t dropped = 0;        // the disk did not keep up
  std::uint64_t lost_by_board = 0;  // the host fell behind the board: the file has gaps
  std::string lost_unknown;  // why lost_by_board cannot be told (the board's count went back)
  double seconds = 0;
  std::string error;  // why the writing stopped, "" while it goes on
};

class Recorder : public EventListener {
 public:
  // The queue holds at most `queue_events` events (16 bytes each).
  explicit Recorder(std::size_t queue_events = std::size_t{1} << 23);
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Creates the file with the header; throws std::runtime_error naming the
  // file and the reason when it cannot.
  void start(const std::string& path, const std::string& header);
  // Called by the stream; never blocks on the disk.
  void on_events(const Event* events, std::size_t count) override;
  // Writes what is queued, closes the file and returns the totals.
  RecordingStats stop();
  bool active() const { return active_; }
  // True once a write failed; the owner then stops the recording.
  bool failed() const { return failed_; }
  RecordingStats progress() const;
  // Holds the writer before its next batch, or lets it go on; the events
  // wait in the queue meanwhile. For tests, which fill the queue knowing
  // that nothing leaves it; stop() lets the writer go.
  void hold_writer(bool hold);

 private:
  void write_loop();
  bool write_all(const char* data, std::size_t bytes);

  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::vector<Event>> queue_;
  BatchPool pool_;  // the queue's room
  std::size_t queued_ = 0;
  bool closing_ = false;
  bool held_ = false;
  std::thread writer_;
  int fd_ = -1;
  std::string path_;
  std::uint64_t header_bytes_ = 0;
  std::string error_;
  std::chrono::steady_clock::time_point started_;
  std::atomic<bool> active_{false}, failed_{false};
  std::atomic<std::uint64_t> bytes_{0}, events_{0}, dropped_{0};
};

// Starts `recorder` on a new file in `folder` (made when missing), named
// rec_YYYYMMDD_HHMMSS.raw (_2, _3... when taken), whose header notes the
// board's identity, its sensor's geometry and every setting of `board`. Returns the file's path;
// throws std::runtime_error naming the file and the reason.
std::string start_recording(Recorder& recorder, const std::filesystem::path& folder,
                            const Board& board);
// The same for any board: `header` holds "board" (its identity) and its
// settings; the header gives the sensor's geometry.
std::string start_recording(Recorder& recorder, const std::filesystem::path& folder,
                            const Settings& header, const SensorGeometry& geometry = {});

}  // namespace Zelvar_Core::bench
