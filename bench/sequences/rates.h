// ON and OFF event rates from the stream's own timestamps: a meter of the
// last seconds for the Rates tool, and a measurement over a set time for
// sweeps and sequences. Live board and playback alike.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bench/board/board_settings.h"
#include "bench/board/event.h"

namespace Zelvar_Core::bench {

inline constexpr std::int64_t kRateBinUs = 100000;  // rates are counted per 100 ms of event time

// Events counted per bin of event time, for as long as it is subscribed
// and follows the stream. Told that the stream stopped, it keeps what it
// measured and counts nothing until told that the stream runs again: the
// bins a stop cuts short (the one the stream was filling when it stopped,
// the one it starts again in) held the stream for part of their 100 ms
// only, and are left out rather than shown as a rate that never was.
class RateMeter : public EventListener {
 public:
  explicit RateMeter(double keep_seconds = 15.0)
      : keep_bins_(static_cast<std::size_t>(keep_seconds * 1e6 / kRateBinUs)) {}
  void on_events(const Event* events, std::size_t count) override;
  // The display skipped these events: the bins they fall in held only part
  // of the stream, and are left out as a stop's are.
  void on_skipped(std::int64_t t_first, std::int64_t t_last, std::uint64_t count) override;
  void clear();
  // The stream runs (true) or stopped (false). A meter follows from the
  // start, counting from the first event it is given.
  void follow(bool streaming);
  bool following() const;

  struct Trace {
    std::vector<double> t;    // seconds of event time, the end of each complete bin
    std::vector<double> on;   // events/s
    std::vector<double> off;  // events/s
    // Where a run of the stream begins after a stop: the index in t of its
    // first bin. Bins of different runs are not neighbours in time.
    std::vector<std::size_t> run_starts;
    // The index in t of the first bin of the stream's latest run: t.size()
    // while that run has no complete bin yet.
    std::size_t last_run = 0;
    bool stopped = false;  // the stream stopped after the last bin
    // Where bins the display skipped into were left out: the index in t of
    // the first bin after them.
    std::vector<std::size_t> skips;
    std::uint64_t skipped = 0;  // events the display skipped while the meter followed
  };
  // The complete bins kept, oldest first.
  Trace trace() const;

 private:
  struct Bin {
    std::int64_t index;
    std::uint64_t on, off;
    bool first_of_run;  // the stream started again in it
    bool cut = false;   // the display skipped some of its events
  };
  const std::size_t keep_bins_;
  mutable std::mutex mutex_;
  std::deque<Bin> bins_;  // the last one is still filling, while the stream runs
  bool following_ = true;
  bool restarted_ = false;  // the next bin begins a run of the stream
  std::uint64_t skipped_ = 0;
};

// One measurement: the rates' mean and spread over 100 ms intervals, and
// each ADC channel's mean. A spread needs two intervals: with fewer it is
// NaN, "unavailable", never a made-up 0.
struct Measurement {
  double seconds = 0;
  int intervals = 0;                                          // complete 100 ms intervals measured
  double on_mean = 0, on_std = 0, off_mean = 0, off_std = 0;  // events/s
  std::vector<double> adc_means;                              // in the ADC's channel order
  // The channels adc_means are of, as the board declares them; none said
  // means the AER-640's four.
  std::vector<AdcChannelDeclaration> adc_channels;
  Settings in_force;  // the design, mode and registers while it was measured
  // By name: on_rate_mean, on_rate_std, off_rate_mean, off_rate_std,
  // on_off_ratio, then each ADC channel's mean by its name in lower case
  // ("vdd_mean", "temperature_mean"); 0 for a channel not measured.
  double value(const std::string& name) const;
  // The names of a measurement on a board with `channels` (the AER-640's
  // when none is given): the rates, then each channel's mean.
  static std::vector<std::string> names(const std::vector<AdcChannelDeclaration>& channels = {});
  // "vdd_mean" for the channel VDD.
  static std::string mean_name(const AdcChannelDeclaration& channel);
  // The unit of a measurement by name: "events/s", "ON/OFF" (the ratio),
  // or the channel's own ("V", "\u00b0C"); std::invalid_argument for a
  // name the board's channels do not have.
  static std::string unit(const std::string& name,
                          const std::vector<AdcChannelDeclaration>& channels = {});
};

// `channels`, or the AER-640's four when it is empty.
const std::vector<AdcChannelDeclaration>& channels_or_default(
    const std::vector<AdcChannelDeclaration>& channels);

// Mean and standard deviation of the per-bin rates of a meter's trace.
void rate_statistics(const RateMeter::Trace& trace, Measurement& into);

}  // namespace Zelvar_Core::bench
