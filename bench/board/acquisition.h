// The board's event stream: a thread that reads the pixel array slice by
// slice at the rate the settings give, stamps the events with the board's
// clock and publishes them to the hub.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/board/event_hub.h"
#include "bench/board/sensor.h"

namespace Zelvar_Core::bench {

// The board's microsecond clock: zero when the stream first starts, running
// on across stops and starts until the device is reset.
class BoardClock {
 public:
  std::int64_t now_us();  // starts the clock on first use
  void reset();
  // From now on the clock moves only by advance(), from where it stands: a
  // test decides how much board time passes (a reset puts it back to zero).
  void hold();
  void advance(std::int64_t microseconds);

 private:
  std::mutex mutex_;
  bool running_ = false;
  std::chrono::steady_clock::time_point epoch_;
  bool held_ = false;
  std::int64_t held_us_ = 0;
};

// Turns board time into events: everything the sensor produced between the
// last call and `now_us`, published in slices of kSliceMicroseconds. What
// lies further back than the board's FIFO holds is lost, and counted. A
// clock that went back (a device reset restarts it) starts the stream again
// from its new time. Driven by the acquisition thread, or by a test with
// times of its choosing.
class StreamPump {
 public:
  // How far behind the board's clock the host may fall before the board's
  // FIFO overflows and drops the oldest events.
  static constexpr std::int64_t kMaxLagMicroseconds = 250000;
  // The stream is read in slices of this much board time.
  static constexpr std::int64_t kSliceMicroseconds = 2000;

  StreamPump(EventHub& hub, std::int64_t start_us, SensorGeometry geometry = {})
      : hub_(hub), sensor_(geometry), slice_begin_(start_us) {}
  // Publishes what is owed up to `now_us`; stops between slices once `stop` is set.
  void pump(std::int64_t now_us, const SensorSettings& settings,
            const std::atomic<bool>* stop = nullptr);
  std::uint64_t events() const { return events_; }
  // The board time up to which the stream is published.
  std::int64_t published_until() const { return slice_begin_; }
  // What the sensor made at its rate over the time the host fell further
  // behind than kMaxLagMicroseconds: an estimate, not a count of the FIFO.
  std::uint64_t estimated_lost() const { return lost_; }

 private:
  EventHub& hub_;
  EventSensor sensor_;
  std::vector<Event> batch_;
  std::int64_t slice_begin_;
  double owed_ = 0;  // fraction of an event carried to the next slice
  std::uint64_t events_ = 0, lost_ = 0;
};

class Acquisition {
 public:
  // `settings` is asked every slice; `on_error` runs on the stream's thread
  // when it stops on an error. The events lie on a sensor of `geometry`.
  Acquisition(EventHub& hub, BoardClock& clock, std::function<SensorSettings()> settings,
              std::function<void(const std::string&)> on_error, SensorGeometry geometry = {});
  ~Acquisition();
  Acquisition(const Acquisition&) = delete;
  Acquisition& operator=(const Acquisition&) = delete;

  void start();
  void stop();  // joins the thread
  // Safe from any thread.
  bool running() const { return started_ && !finished_; }
  // Makes the stream break once, as a board whose link drops would.
  void fail_next_read() { fail_next_ = true; }
  // Events produced since the last start.
  std::uint64_t events() const { return events_; }
  // Events estimated lost since the last start because the host fell more
  // than kMaxLagMicroseconds behind (StreamPump::estimated_lost).
  std::uint64_t estimated_lost() const { return lost_; }
  // The board time up to which this run's events are published (-1 before the first).
  std::int64_t published_until() const { return until_; }
  static constexpr std::int64_t kMaxLagMicroseconds = StreamPump::kMaxLagMicroseconds;
  static constexpr std::int64_t kSliceMicroseconds = StreamPump::kSliceMicroseconds;

 private:
  void run();

  EventHub& hub_;
  BoardClock& clock_;
  std::function<SensorSettings()> settings_;
  std::function<void(const std::string&)> on_error_;
  SensorGeometry geometry_;
  std::thread thread_;
  std::atomic<bool> stop_{false}, finished_{false}, fail_next_{false}, started_{false};
  std::atomic<std::uint64_t> events_{0}, lost_{0};
  std::atomic<std::int64_t> until_{-1};
};

}  // namespace Zelvar_Core::bench
