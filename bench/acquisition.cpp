#include "bench/acquisition.h"

#include <chrono>
#include <stdexcept>

namespace Zelvar_Core::bench {

Acquisition::Acquisition(std::function<void(const std::string&)> on_error)
    : on_error_(std::move(on_error)) {}

Acquisition::~Acquisition() { stop(); }

void Acquisition::start() {
  if (running()) return;
  stop();  // joins a thread that ended on an error
  stop_ = false;
  finished_ = false;
  events_ = 0;
  thread_ = std::thread([this] { run(); });
}

void Acquisition::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void Acquisition::set_settings(const SensorSettings& settings) {
  std::lock_guard lock(mutex_);
  settings_ = settings;
}

void Acquisition::take_frame(EventFrame& frame) {
  std::lock_guard lock(mutex_);
  std::swap(frame.counts, pending_.counts);
  pending_.clear();
}

void Acquisition::run() {
  using clock = std::chrono::steady_clock;
  constexpr auto kSlice = std::chrono::milliseconds(2);
  EventSensor sensor;
  std::vector<AerWord> batch;
  const auto begin = clock::now();
  auto next = begin;
  double owed = 0;  // fraction of an event carried to the next slice
  try {
    while (!stop_) {
      if (fail_next_.exchange(false)) throw std::runtime_error("The event stream broke off");
      SensorSettings settings;
      {
        std::lock_guard lock(mutex_);
        settings = settings_;
      }
      const double total = settings.total_rate();
      owed += total * std::chrono::duration<double>(kSlice).count();
      const auto count = static_cast<std::size_t>(owed);
      owed -= static_cast<double>(count);
      batch.clear();
      const double t = std::chrono::duration<double>(clock::now() - begin).count();
      sensor.generate(t, count, total > 0 ? settings.noise_rate / total : 0, settings.mode, batch);
      {
        std::lock_guard lock(mutex_);
        pending_.accumulate(batch.data(), batch.size());
      }
      events_ += batch.size();
      next += kSlice;
      std::this_thread::sleep_until(next);
      if (clock::now() - next > std::chrono::milliseconds(100)) next = clock::now();
    }
  } catch (const std::exception& e) {
    finished_ = true;
    if (on_error_) on_error_(std::string("Acquisition stopped: ") + e.what());
    return;
  }
  finished_ = true;
}

}  // namespace Zelvar_Core::bench
