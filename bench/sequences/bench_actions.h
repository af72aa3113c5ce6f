// What sweeps and sequences do to the bench, and that done on the simulated
// board itself. Every call may come from a worker thread; every wait ends
// early when the run is aborted (Aborted is thrown then).
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/board/board_settings.h"
#include "bench/board/folders.h"
#include "bench/board/lost_events.h"
#include "bench/board/simulated_board.h"
#include "bench/events/recorder.h"
#include "bench/sequences/rates.h"

namespace Zelvar_Core::bench {

// A run stopped by its user (or by closing the bench).
class Aborted : public Cancelled {
 public:
  using Cancelled::Cancelled;
};

// A record step that ended early: what it left (whole, and read back), and
// why it ended, to be rethrown as it was (an abort stays an abort).
class RecordingCut : public std::runtime_error {
 public:
  RecordingCut(RecordingStats left, std::string kept, std::exception_ptr cause)
      : std::runtime_error(kept), left(std::move(left)), cause(std::move(cause)) {}
  RecordingStats left;
  std::exception_ptr cause;
};

class BenchActions {
 public:
  virtual ~BenchActions() = default;
  virtual void program(const std::string& path) = 0;
  // Writes a register, DAC or chip signal through the board's range check.
  virtual void set(const std::string& name, std::int64_t value) = 0;
  virtual std::int64_t get(const std::string& name) = 0;
  virtual Register register_named(const std::string& name) = 0;  // std::out_of_range when none
  virtual void wait(double seconds) = 0;
  // Rates from the board's own stream and the ADC's channel means.
  virtual Measurement measure(double seconds) = 0;
  // Throws RecordingCut when the recording ends early, its file kept.
  virtual RecordingStats record(double seconds) = 0;
  virtual std::string capture() = 0;  // the file written
  virtual bool connected() = 0;
  // "date", identity ("board"), then in_force(): for report headers.
  virtual Settings settings() = 0;
  // The design, the chip mode and every register as they stand now.
  virtual Settings in_force() = 0;
  // What the board declares itself to be: its ADC channels and its
  // registers' units name a report's columns. A bench that says nothing
  // has the AER-640.
  virtual BoardDeclaration declaration() { return declaration_of(SimulatedSensor::Aer640); }
  // The board's serial number, "" when it tells none.
  virtual std::string serial() { return ""; }
  // Stops the stream if this run started it.
  virtual void finish() = 0;
  virtual void abort() = 0;
};

class BoardBench : public BenchActions {
 public:
  BoardBench(Board& board, BenchFolders folders, const std::atomic<bool>& aborted);
  void program(const std::string& path) override;
  void set(const std::string& name, std::int64_t value) override;
  std::int64_t get(const std::string& name) override;
  Register register_named(const std::string& name) override;
  void wait(double seconds) override;
  Measurement measure(double seconds) override;
  RecordingStats record(double seconds) override;
  std::string capture() override;
  bool connected() override { return board_.connected(); }
  Settings settings() override;
  Settings in_force() override { return settings_of(board_); }
  BoardDeclaration declaration() override { return board_.declaration(); }
  std::string serial() override { return board_.read_identity().serial_number; }
  void finish() override;
  void abort() override {}

  // The histogram range captures are drawn through.
  double capture_min = -16, capture_max = 16;
  // Hears each loss of the board's in one sentence as soon as a wait sees it,
  // and what a served board's stream lost on its way here.
  std::function<void(const std::string&)> on_loss;
  // A listener for the board's stream_failure (heard on any thread, and
  // safe to call after this bench is gone): the step waiting on the stream
  // then fails with the break's sentence, so that a run never passes on a
  // stream that did not flow.
  std::function<void(const std::string&)> stream_break_listener();

 protected:
  // Makes sure the stream runs (starting it, and remembering that).
  void stream();
  // The same, and a stream started here is waited for until its first
  // events arrive (kFirstEventsWait at most).
  void stream_flowing();
  static constexpr double kFirstEventsWait = 2.0;  // seconds
  // Tells on_loss what the board lost since the last look.
  void look_for_losses();
  LossWatch losses_;
  LinkLosses link_losses_;
  struct Breaks {
    std::mutex mutex;
    std::string why;  // a break not yet told by a step
  };
  std::shared_ptr<Breaks> breaks_ = std::make_shared<Breaks>();
  Board& board_;
  BenchFolders folders_;
  const std::atomic<bool>& aborted_;
  bool started_stream_ = false;
  std::chrono::steady_clock::time_point adc_epoch_ = std::chrono::steady_clock::now();
};

// "7,800,000 events lost by the board during the recording": the host fell
// behind the board while recording, and the file has gaps there.
std::string lost_by_board_text(std::uint64_t lost);
// What the recording `stats` lost by the board, "" for nothing: the text
// above, or why it cannot be told.
std::string lost_during_text(const RecordingStats& stats);
// A recording that ended early, as it was left: "the recording so far is
// kept: PATH (1.2 MiB, 301,234 events), readable", read back to say so.
std::string kept_recording_text(const RecordingStats& stats);

// The steps every bench takes from a board's stream, whatever the board:
// `wait` waits on the run's terms (ending early when it is aborted or the
// board goes), `adc` reads the board's `channels` in their order.
Measurement measure_stream(EventHub& hub, double seconds,
                           const std::vector<AdcChannelDeclaration>& channels,
                           const std::function<std::vector<double>()>& adc,
                           const std::function<void(double)>& wait);
// Records `recorder` (started) from `hub` while `wait` waits, after `stream`
// made sure the board streams; `lost` counts what the board lost so far.
// What arrived is kept whole if anything fails.
RecordingStats record_stream(EventHub& hub, Recorder& recorder, const std::function<void()>& stream,
                             const std::function<std::uint64_t()>& lost,
                             const std::function<void()>& wait);
// One frame's worth of the stream as a PGM capture in `folder`; the file written.
std::string capture_stream(EventHub& hub, double min, double max, const std::string& folder,
                           const std::function<void(double)>& wait);

}  // namespace Zelvar_Core::bench
