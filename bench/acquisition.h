// The acquisition thread: reads events from the sensor at its rate and
// accumulates them into a frame that the GUI thread takes when it draws.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "bench/sensor.h"

namespace Zelvar_Core::bench {

class Acquisition {
 public:
  // `on_error` runs on the acquisition thread when it stops on an error; the
  // host hands it on to the GUI thread.
  explicit Acquisition(std::function<void(const std::string&)> on_error);
  ~Acquisition();
  Acquisition(const Acquisition&) = delete;
  Acquisition& operator=(const Acquisition&) = delete;

  void start();
  void stop();  // joins the thread
  bool running() const { return thread_.joinable() && !finished_; }

  // Settings may change while running; the thread reads them every slice.
  void set_settings(const SensorSettings& settings);
  // Makes the stream break once, as a board whose link drops would.
  void fail_next_read() { fail_next_ = true; }

  // Swaps the accumulated frame into `frame` and starts a new one.
  void take_frame(EventFrame& frame);
  // Events accumulated since start.
  std::uint64_t events() const { return events_; }

 private:
  void run();

  std::function<void(const std::string&)> on_error_;
  std::thread thread_;
  std::atomic<bool> stop_{false}, finished_{false}, fail_next_{false};
  std::atomic<std::uint64_t> events_{0};
  std::mutex mutex_;  // guards pending_ and settings_
  EventFrame pending_;
  SensorSettings settings_;
};

}  // namespace Zelvar_Core::bench
