#include "bench/board/adc.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

namespace Zelvar_Core::bench {

AnalogFrontEnd::AnalogFrontEnd(const RegisterFile& registers)
    : AnalogFrontEnd(registers, declaration_of(SimulatedSensor::Aer640).adc_channels) {}

AnalogFrontEnd::AnalogFrontEnd(const RegisterFile& registers,
                               const std::vector<AdcChannelDeclaration>& channels)
    : registers_(registers) {
  for (const auto& c : channels) {
    const Source source = c.name == "VDD"           ? Source::Vdd
                          : c.name == "VDDIO"       ? Source::Vddio
                          : c.name == "Temperature" ? Source::Temperature
                          : c.name == "Ibias"       ? Source::Ibias
                                                    : Source::Steady;
    channels_.push_back({source, (c.normal_min + c.normal_max) / 2});
  }
}

std::vector<double> AnalogFrontEnd::read(double t) const {
  if (!powered) throw std::runtime_error("the board does not answer");
  auto ripple = [t](double amplitude, double phase) {
    return amplitude * (std::sin(t * 7.3 + phase) + 0.5 * std::cos(t * 13.1 + phase));
  };
  auto round4 = [](double v) { return std::round(v * 1e4) / 1e4; };
  std::vector<double> values;
  values.reserve(channels_.size());
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    switch (channels_[i].source) {
      case Source::Vdd:
        values.push_back(round4(vdd * (1 + ripple(0.004, 0))));
        break;
      case Source::Vddio:
        values.push_back(round4(vddio * (1 + ripple(0.003, 1))));
        break;
      case Source::Temperature: {
        // The die warms up over a minute and a little more with a busy AER bus.
        const double temperature = 31.0 + 4.0 * (1 - std::exp(-t / 60)) + event_rate / 5e6;
        values.push_back(round4(temperature + ripple(0.05, 2)));
        break;
      }
      case Source::Ibias: {
        const double ibias_ua = static_cast<double>(registers_.read("IBIAS")) / 100.0;
        values.push_back(round4(ibias_ua * (1 + ripple(0.01, 3))));
        break;
      }
      case Source::Steady:
        values.push_back(round4(channels_[i].steady * (1 + ripple(0.003, static_cast<double>(i)))));
        break;
    }
  }
  return values;
}

AdcSampler::AdcSampler(Read read, std::function<void(AdcReading)> deliver,
                       std::function<void(const std::string&, std::uint64_t)> on_error)
    : read_(std::move(read)), deliver_(std::move(deliver)), on_error_(std::move(on_error)) {}

AdcSampler::~AdcSampler() { stop(); }

void AdcSampler::start(double period_s) {
  stop();
  period_ = period_s;
  stop_ = false;
  failed_ = false;
  thread_ = std::thread([this, run = ++run_] { loop(run); });
}

void AdcSampler::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void AdcSampler::loop(std::uint64_t run) {
  using clock = std::chrono::steady_clock;
  const auto begin = clock::now();
  auto next = begin;
  try {
    while (true) {
      next += std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(period_));
      {
        std::unique_lock lock(mutex_);
        if (wake_.wait_until(lock, next, [this] { return stop_; })) return;
      }
      const double t = std::chrono::duration<double>(clock::now() - begin).count();
      deliver_({t, read_(t), run});
    }
  } catch (const std::exception& e) {
    failed_ = true;
    if (on_error_) on_error_(std::string("ADC sampling stopped: ") + e.what(), run);
  }
}

void AdcHistory::add_channel(const std::string& key, int number, const std::string& label) {
  AdcChannel channel{number, label, 0.0, true, {}, {}};
  channel.data_t.reserve(capacity_);
  channel.data_y.reserve(capacity_);
  channels_[key] = std::move(channel);
}

void AdcHistory::append(double t, const std::vector<double>& values) {
  for (auto it = channels_.begin(); it != channels_.end(); ++it) {
    AdcChannel& c = it.value();
    const double y = values.at(static_cast<std::size_t>(c.channel));
    if (c.data_t.size() >= capacity_) {
      const auto drop = static_cast<std::ptrdiff_t>(std::max<std::size_t>(1, capacity_ / 10));
      c.data_t.erase(c.data_t.begin(), c.data_t.begin() + drop);
      c.data_y.erase(c.data_y.begin(), c.data_y.begin() + drop);
    }
    c.data_t.push_back(t);
    c.data_y.push_back(y);
    c.value = y;
  }
}

}  // namespace Zelvar_Core::bench
