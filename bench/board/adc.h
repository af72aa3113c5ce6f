// The board's ADC: what the converter sees (supplies, die temperature, bias
// current), a thread that samples it at the sample time, and the bounded
// history the monitor plots.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Zelvar_Core/Host/values.h"
#include "bench/board/board_declaration.h"
#include "bench/board/registers.h"

namespace Zelvar_Core::bench {

// Channel names, in channel order, as the monitor and the reports show them.
inline const std::vector<std::string>& adc_channel_labels() {
  static const std::vector<std::string> labels = {"VDD (V)", "VDDIO (V)", "Temperature (\u00b0C)",
                                                  "Ibias (\u00b5A)"};
  return labels;
}

class AnalogFrontEnd {
 public:
  // The AER-640's four channels.
  explicit AnalogFrontEnd(const RegisterFile& registers);
  // The channels a board declares, in its order: VDD, VDDIO, Temperature
  // and Ibias read as on the AER-640 (Ibias from the IBIAS register); any
  // other channel reads the middle of its normal range.
  AnalogFrontEnd(const RegisterFile& registers, const std::vector<AdcChannelDeclaration>& channels);
  // One reading of every channel at time `t` (seconds), with a little
  // noise; an unpowered board does not answer (std::runtime_error).
  std::vector<double> read(double t) const;

  std::atomic<double> vdd{1.8}, vddio{3.3};
  std::atomic<double> event_rate{0.0};  // a busy AER bus warms the die
  std::atomic<bool> powered{true};

 private:
  enum class Source { Vdd, Vddio, Temperature, Ibias, Steady };
  struct Channel {
    Source source;
    double steady;  // what a Steady channel reads
  };
  const RegisterFile& registers_;
  std::vector<Channel> channels_;
};

struct AdcReading {
  double time = 0;             // seconds since sampling started
  std::vector<double> values;  // one per channel, in channel order
  std::uint64_t run = 0;       // which start() it belongs to
};

class AdcSampler {
 public:
  // `read` takes one reading at the run's time (seconds); it throws when the board does not answer.
  using Read = std::function<std::vector<double>(double t)>;
  AdcSampler(Read read, std::function<void(AdcReading)> deliver,
             std::function<void(const std::string&, std::uint64_t run)> on_error);
  AdcSampler(const AnalogFrontEnd& front_end, std::function<void(AdcReading)> deliver,
             std::function<void(const std::string&, std::uint64_t run)> on_error)
      : AdcSampler([&front_end](double t) { return front_end.read(t); }, std::move(deliver),
                   std::move(on_error)) {}
  ~AdcSampler();
  AdcSampler(const AdcSampler&) = delete;
  AdcSampler& operator=(const AdcSampler&) = delete;

  void start(double period_s);
  void stop();  // joins the thread
  bool running() const { return thread_.joinable() && !failed_; }
  void set_period(double period_s) { period_ = period_s; }
  // The run of the current (or last) start(); readings of an older run are stale.
  std::uint64_t run() const { return run_; }

 private:
  void loop(std::uint64_t run);

  Read read_;
  std::function<void(AdcReading)> deliver_;
  std::function<void(const std::string&, std::uint64_t)> on_error_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> failed_{false};
  std::atomic<double> period_{0.1};
  std::atomic<std::uint64_t> run_{0};
};

// The samples kept per channel: a fixed capacity, reserved once. When it is
// full the oldest tenth is dropped, so memory stays the same however long
// the bench runs, and at least `capacity * 0.9` samples stay visible.
class AdcHistory {
 public:
  static constexpr std::size_t kDefaultCapacity = 120000;  // 20 min at 10 ms, 3.3 h at 100 ms
  explicit AdcHistory(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}
  // Makes one channel record per label, channel numbers from 0.
  void add_channel(const std::string& key, int number, const std::string& label);
  // Appends one reading (value i to the channel numbered i) at time `t`.
  void append(double t, const std::vector<double>& values);
  AdcValuesMap& channels() { return channels_; }
  const AdcValuesMap& channels() const { return channels_; }
  std::size_t capacity() const { return capacity_; }

 private:
  std::size_t capacity_;
  AdcValuesMap channels_;
};

}  // namespace Zelvar_Core::bench
