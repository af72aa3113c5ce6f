#include "bench/sequences/bench_actions.h"

#include <fmt/format.h>

#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>

#include "bench/board/adc.h"
#include "bench/board/capture.h"
#include "bench/events/evt2.h"
#include "bench/events/recording_file.h"

namespace Zelvar_Core::bench {

std::string lost_by_board_text(std::uint64_t lost) {
  return count_text(lost) + (lost == 1 ? " event" : " events") +
         " lost by the board during the recording";
}

std::string lost_during_text(const RecordingStats& stats) {
  if (!stats.lost_unknown.empty()) return stats.lost_unknown;
  return stats.lost_by_board > 0 ? lost_by_board_text(stats.lost_by_board) : "";
}

std::string kept_recording_text(const RecordingStats& stats) {
  std::string text = fmt::format("the recording so far is kept: {} ({}, {} events", stats.path,
                                 size_text(stats.bytes), count_text(stats.events));
  if (stats.dropped > 0) text += ", " + count_text(stats.dropped) + " dropped";
  text += ")";
  // Read back whole, as a playback or an export would read it.
  try {
    const RecordingInfo read = RecordingReader::scan(stats.path);
    if (read.events == stats.events && read.partial_bytes == 0) return text + ", readable";
    return text + fmt::format(", read back with {} events", count_text(read.events));
  } catch (const std::exception& e) {
    return text + ", but it cannot be read back: " + e.what();
  }
}

BoardBench::BoardBench(Board& board, BenchFolders folders, const std::atomic<bool>& aborted)
    : board_(board), folders_(std::move(folders)), aborted_(aborted) {
  losses_.restart(board_.lost_by_board());
  link_losses_.restart(board_.dropped_by_server(), board_.batches_lost_in_transit());
}

void BoardBench::look_for_losses() {
  {
    std::lock_guard lock(breaks_->mutex);
    if (!breaks_->why.empty()) {
      const std::string why = std::move(breaks_->why);
      breaks_->why.clear();
      throw std::runtime_error(why);
    }
  }
  if (!on_loss) return;
  if (const std::string news = losses_.look(board_.lost_by_board()); !news.empty()) on_loss(news);
  for (const std::string& news :
       link_losses_.look(board_.dropped_by_server(), board_.batches_lost_in_transit()))
    on_loss(news);
}

std::function<void(const std::string&)> BoardBench::stream_break_listener() {
  return [breaks = breaks_](const std::string& why) {
    std::lock_guard lock(breaks->mutex);
    breaks->why = why;
  };
}

void BoardBench::program(const std::string& path) { board_.program(path, nullptr); }

void BoardBench::set(const std::string& name, std::int64_t value) {
  board_.write_register(name, value);
}

std::int64_t BoardBench::get(const std::string& name) { return board_.read_register(name); }

Register BoardBench::register_named(const std::string& name) {
  return board_.registers().find(name);
}

void BoardBench::wait(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(std::max(0.0, seconds)));
  while (Clock::now() < end) {
    look_for_losses();
    if (aborted_) throw Aborted("aborted");
    if (!board_.connected()) throw std::runtime_error(board_.absence("the run cannot go on"));
    const Clock::duration left = end - Clock::now();
    std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(20), left));
  }
  look_for_losses();
  if (aborted_) throw Aborted("aborted");
}

void BoardBench::stream() {
  if (board_.acquiring()) return;
  board_.start_acquisition();
  started_stream_ = true;
  losses_.restart(board_.lost_by_board());  // a new stream counts from its start
}

Measurement measure_stream(EventHub& hub, double seconds,
                           const std::vector<AdcChannelDeclaration>& channels,
                           const std::function<std::vector<double>()>& adc,
                           const std::function<void(double)>& wait) {
  RateMeter meter(seconds + 1.0);
  Measurement m;
  m.seconds = seconds;
  m.adc_channels = channels;
  std::vector<double> sums(channels.size(), 0.0);
  int readings = 0;
  {
    Subscription hear(hub, meter);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      const auto values = adc();
      for (std::size_t i = 0; i < sums.size() && i < values.size(); ++i) sums[i] += values[i];
      ++readings;
      wait(std::min(0.05,
                    std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count()));
    }
  }
  RateMeter::Trace trace = meter.trace();
  if (trace.on.size() > 1) {  // the first bin began before the measurement
    trace.t.erase(trace.t.begin());
    trace.on.erase(trace.on.begin());
    trace.off.erase(trace.off.begin());
  }
  rate_statistics(trace, m);
  for (double sum : sums) m.adc_means.push_back(readings ? sum / readings : 0.0);
  return m;
}

RecordingStats record_stream(EventHub& hub, Recorder& recorder, const std::function<void()>& stream,
                             const std::function<std::uint64_t()>& lost,
                             const std::function<void()>& wait) {
  LostBetween lost_during;
  {
    Subscription hear(hub, recorder);
    try {
      stream();
      const std::uint64_t lost_before = lost();
      wait();
      lost_during = lost_between(lost_before, lost());
    } catch (...) {
      // What arrived stays, whole; the step says where, and why it ended.
      hub.unsubscribe(&recorder);
      const RecordingStats left = recorder.stop();
      throw RecordingCut(left, kept_recording_text(left), std::current_exception());
    }
  }
  RecordingStats stats = recorder.stop();
  stats.lost_by_board = lost_during.lost;
  stats.lost_unknown = lost_during.went_back;
  if (!stats.error.empty())
    throw std::runtime_error("cannot write " + stats.path + ": " + stats.error);
  return stats;
}

std::string capture_stream(EventHub& hub, double min, double max, const std::string& folder,
                           const std::function<void(double)>& wait) {
  // One frame's worth of the stream, as the image shows it.
  struct Frame : EventListener {
    void on_events(const Event* e, std::size_t n) override {
      std::lock_guard lock(mutex);
      frame.accumulate(e, n);
    }
    std::mutex mutex;
    EventFrame frame;
  } frame;
  {
    Subscription hear(hub, frame);
    wait(0.03);
  }
  return write_capture(frame.frame, min, max, folder);
}

void BoardBench::stream_flowing() {
  if (board_.acquiring()) return;
  // A served board's first events come a moment after its start is
  // answered: a window opened before them would count short.
  struct FirstEvents : EventListener {
    void on_events(const Event*, std::size_t n) override {
      if (n > 0) heard = true;
    }
    std::atomic<bool> heard{false};
  } first;
  Subscription hear(board_.events(), first);
  stream();
  // A quiet sensor may send nothing: then it is measured as it is.
  for (double waited = 0; !first.heard && waited < kFirstEventsWait; waited += 0.01) wait(0.01);
}

Measurement BoardBench::measure(double seconds) {
  if (!board_.connected()) throw NoBoard("nothing measured");
  stream_flowing();
  Settings in_force_then = in_force();
  Measurement m = measure_stream(
      board_.events(), seconds, board_.declaration().adc_channels,
      [this] {
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - adc_epoch_).count();
        return board_.read_adc(t);  // the board's own ADC
      },
      [this](double s) { wait(s); });
  if (!board_.acquiring())
    throw std::runtime_error("the acquisition stopped during the measurement");
  m.in_force = std::move(in_force_then);
  return m;
}

RecordingStats BoardBench::record(double seconds) {
  if (!board_.connected()) throw NoBoard("nothing recorded");
  Recorder recorder;
  start_recording(recorder, folders_.recordings, board_);
  return record_stream(
      board_.events(), recorder, [this] { stream(); }, [this] { return board_.lost_by_board(); },
      [this, seconds] { wait(seconds); });
}

std::string BoardBench::capture() {
  if (!board_.connected()) throw NoBoard("nothing captured");
  stream_flowing();
  return capture_stream(board_.events(), capture_min, capture_max, folders_.captures.string(),
                        [this](double s) { wait(s); });
}

Settings BoardBench::settings() {
  Settings settings = {{"date", local_time("%Y-%m-%d %H:%M:%S")}, {"board", identity_of(board_)}};
  for (auto& setting : settings_of(board_)) settings.push_back(std::move(setting));
  return settings;
}

void BoardBench::finish() {
  if (started_stream_) board_.stop_acquisition();
  started_stream_ = false;
}

}  // namespace Zelvar_Core::bench
