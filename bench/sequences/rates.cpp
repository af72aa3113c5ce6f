#include "bench/sequences/rates.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace Zelvar_Core::bench {

namespace {

// The times whose bin is `index`, t / kRateBinUs as C++ divides (towards
// zero: bin 0 reaches from -kRateBinUs to kRateBinUs, both excluded).
struct BinSpan {
  std::int64_t first, last;
};
BinSpan times_of(std::int64_t index) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if (index == 0) return {-(kRateBinUs - 1), kRateBinUs - 1};
  if (index > 0) {
    const std::int64_t first = index * kRateBinUs;  // no overflow: at most the time itself
    return {first, first > kMax - (kRateBinUs - 1) ? kMax : first + (kRateBinUs - 1)};
  }
  const std::int64_t last = index * kRateBinUs;
  return {last < kMin + (kRateBinUs - 1) ? kMin : last - (kRateBinUs - 1), last};
}

}  // namespace

// Events come in time order: one division finds the bin of the first event
// of a run, and the run goes on while the times stay inside it.
void RateMeter::on_events(const Event* events, std::size_t count) {
  std::lock_guard lock(mutex_);
  if (!following_) return;  // the tail of a stopped stream, or the head of one not yet told
  std::size_t i = 0;
  while (i < count) {
    const std::int64_t index = events[i].t / kRateBinUs;
    if (bins_.empty() || index > bins_.back().index) {
      bins_.push_back({index, 0, 0, restarted_, false});
      restarted_ = false;
      while (bins_.size() > keep_bins_ + 1) bins_.pop_front();
    } else if (index < bins_.back().index) {
      bins_.clear();  // time went back (a reset, a seek or a loop): start again
      bins_.push_back({index, 0, 0, false, false});
    }
    const BinSpan span = times_of(index);
    const std::size_t start = i;
    std::uint64_t on = events[i++].p != 0;  // the run's first event is in its bin by definition
    for (; i < count && events[i].t >= span.first && events[i].t <= span.last; ++i)
      on += events[i].p != 0;
    bins_.back().on += on;
    bins_.back().off += (i - start) - on;
  }
}

void RateMeter::on_skipped(std::int64_t t_first, std::int64_t t_last, std::uint64_t count) {
  std::lock_guard lock(mutex_);
  if (!following_) return;
  skipped_ += count;
  const std::int64_t first = t_first / kRateBinUs, last = t_last / kRateBinUs;
  if (!bins_.empty() && bins_.back().index == first) bins_.back().cut = true;
  if (bins_.empty() || last > bins_.back().index) {
    // The bin the next events fall in: its start was skipped too.
    bins_.push_back({last, 0, 0, restarted_, true});
    restarted_ = false;
    while (bins_.size() > keep_bins_ + 1) bins_.pop_front();
  } else if (last < bins_.back().index) {
    bins_.clear();  // time went back, as on_events takes it
    bins_.push_back({last, 0, 0, false, true});
  } else {
    bins_.back().cut = true;
  }
}

void RateMeter::clear() {
  std::lock_guard lock(mutex_);
  bins_.clear();
  restarted_ = false;
  skipped_ = 0;
}

void RateMeter::follow(bool streaming) {
  std::lock_guard lock(mutex_);
  if (streaming == following_) return;
  following_ = streaming;
  if (streaming) {
    restarted_ = true;  // where in its first bin it started is not known
    return;
  }
  // The bin the stream was filling holds only part of its time (unless the
  // run stopped before its first event, and the last bin is an earlier run's).
  if (!bins_.empty() && !restarted_) bins_.pop_back();
}

bool RateMeter::following() const {
  std::lock_guard lock(mutex_);
  return following_;
}

RateMeter::Trace RateMeter::trace() const {
  std::lock_guard lock(mutex_);
  Trace trace;
  trace.stopped = !following_;
  const double per_second = 1e6 / kRateBinUs;
  // While the stream runs its last bin is still filling; stopped, it was
  // dropped; started again without an event yet, the last bin is complete.
  const bool filling = following_ && !restarted_ && !bins_.empty();
  const std::size_t complete = filling ? bins_.size() - 1 : bins_.size();
  trace.skipped = skipped_;
  bool run_begins = false, skip_ends = false;
  for (std::size_t i = 0; i < complete; ++i) {
    if (bins_[i].first_of_run) {  // the stream came back part of the way into it
      run_begins = true;
      trace.last_run = trace.t.size();
      continue;
    }
    if (bins_[i].cut) {  // it holds only what the display did not skip
      skip_ends = true;
      continue;
    }
    if (run_begins && !trace.t.empty())
      trace.run_starts.push_back(trace.t.size());
    else if (skip_ends && !trace.t.empty())
      trace.skips.push_back(trace.t.size());
    run_begins = skip_ends = false;
    trace.t.push_back(static_cast<double>((bins_[i].index + 1) * kRateBinUs) * 1e-6);
    trace.on.push_back(static_cast<double>(bins_[i].on) * per_second);
    trace.off.push_back(static_cast<double>(bins_[i].off) * per_second);
  }
  if (restarted_ || (complete < bins_.size() && bins_.back().first_of_run))
    trace.last_run = trace.t.size();  // the latest run has no complete bin yet
  return trace;
}

namespace {
void mean_and_std(const std::vector<double>& values, double& mean, double& spread) {
  mean = 0;
  spread = std::numeric_limits<double>::quiet_NaN();  // unavailable below two values
  if (values.empty()) return;
  for (double v : values) mean += v;
  mean /= static_cast<double>(values.size());
  if (values.size() < 2) return;
  double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  spread = std::sqrt(squares / static_cast<double>(values.size() - 1));
}
}  // namespace

void rate_statistics(const RateMeter::Trace& trace, Measurement& into) {
  into.intervals = static_cast<int>(trace.on.size());
  mean_and_std(trace.on, into.on_mean, into.on_std);
  mean_and_std(trace.off, into.off_mean, into.off_std);
}

const std::vector<AdcChannelDeclaration>& channels_or_default(
    const std::vector<AdcChannelDeclaration>& channels) {
  static const std::vector<AdcChannelDeclaration> aer640 =
      declaration_of(SimulatedSensor::Aer640).adc_channels;
  return channels.empty() ? aer640 : channels;
}

std::string Measurement::mean_name(const AdcChannelDeclaration& channel) {
  std::string name;
  for (const char c : channel.name)
    name += c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name + "_mean";
}

std::vector<std::string> Measurement::names(const std::vector<AdcChannelDeclaration>& channels) {
  std::vector<std::string> names = {"on_rate_mean", "on_rate_std", "off_rate_mean", "off_rate_std",
                                    "on_off_ratio"};
  for (const auto& channel : channels_or_default(channels)) names.push_back(mean_name(channel));
  return names;
}

std::string Measurement::unit(const std::string& name,
                              const std::vector<AdcChannelDeclaration>& channels) {
  if (name.rfind("on_rate", 0) == 0 || name.rfind("off_rate", 0) == 0) return "events/s";
  if (name == "on_off_ratio") return "ON/OFF";
  for (const auto& channel : channels_or_default(channels))
    if (name == mean_name(channel)) return channel.unit;
  throw std::invalid_argument("no measurement named " + name);
}

double Measurement::value(const std::string& name) const {
  if (name == "on_rate_mean") return on_mean;
  if (name == "on_rate_std") return on_std;
  if (name == "off_rate_mean") return off_mean;
  if (name == "off_rate_std") return off_std;
  if (name == "on_off_ratio") return off_mean > 0 ? on_mean / off_mean : 0;
  const auto& channels = channels_or_default(adc_channels);
  for (std::size_t i = 0; i < channels.size(); ++i)
    if (name == mean_name(channels[i])) return i < adc_means.size() ? adc_means[i] : 0;
  throw std::invalid_argument("no measurement named " + name);
}

}  // namespace Zelvar_Core::bench
