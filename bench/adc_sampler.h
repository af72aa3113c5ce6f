// The board's ADC: channels read in a host thread at the sample time, each
// reading handed to a callback (the host forwards it to the GUI thread).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Zelvar_Core::bench {

struct AdcReading {
  double time = 0;             // seconds since sampling started
  std::vector<double> values;  // one per channel, in channel order
  std::uint64_t run = 0;       // which start() it belongs to
};

// What the converter sees: supplies, the die temperature and bias currents.
// Written by the GUI thread, read by the sampler.
struct AnalogFrontEnd {
  std::atomic<double> vdd{1.8}, vddio{3.3}, ibias_ua{12.0}, event_rate{0.0};
  std::atomic<bool> powered{true};  // an unplugged board does not answer
  // One reading of the four channels at time `t`, with a little noise.
  std::vector<double> read(double t) const;
};

class AdcSampler {
 public:
  AdcSampler(const AnalogFrontEnd& front_end, std::function<void(AdcReading)> deliver,
             std::function<void(const std::string&)> on_error);
  ~AdcSampler();
  AdcSampler(const AdcSampler&) = delete;
  AdcSampler& operator=(const AdcSampler&) = delete;

  void start(double period_s);
  void stop();  // joins the thread
  bool running() const { return thread_.joinable(); }
  void set_period(double period_s) { period_ = period_s; }
  // The run of the current (or last) start(); readings of an older run are stale.
  std::uint64_t run() const { return run_; }

 private:
  void loop(std::uint64_t run);

  const AnalogFrontEnd& front_end_;
  std::function<void(AdcReading)> deliver_;
  std::function<void(const std::string&)> on_error_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<double> period_{0.1};
  std::atomic<std::uint64_t> run_{0};
};

}  // namespace Zelvar_Core::bench
