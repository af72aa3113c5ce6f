#include "bench/board/acquisition.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace Zelvar_Core::bench {

std::int64_t BoardClock::now_us() {
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (!running_) {
    running_ = true;
    epoch_ = now;
  }
  return std::chrono::duration_cast<std::chrono::microseconds>(now - epoch_).count();
}

void BoardClock::reset() {
  std::lock_guard lock(mutex_);
  running_ = false;
}

Acquisition::Acquisition(EventHub& hub, BoardClock& clock, std::function<SensorSettings()> settings,
                         std::function<void(const std::string&)> on_error)
    : hub_(hub), clock_(clock), settings_(std::move(settings)), on_error_(std::move(on_error)) {}

Acquisition::~Acquisition() { stop(); }

void Acquisition::start() {
  if (running()) return;
  stop();  // joins a thread that ended on an error
  stop_ = false;
  finished_ = false;
  events_ = 0;
  lost_ = 0;
  thread_ = std::thread([this] { run(); });
  started_ = true;
}

void Acquisition::stop() {
  stop_ = true;
  started_ = false;
  if (thread_.joinable()) thread_.join();
}

void Acquisition::run() {
  using clock = std::chrono::steady_clock;
  constexpr auto kSlice = std::chrono::microseconds(kSliceMicroseconds);
  EventSensor sensor;
  std::vector<Event> batch;
  auto next = clock::now();
  std::int64_t slice_begin = clock_.now_us();
  double owed = 0;  // fraction of an event carried to the next slice
  try {
    while (!stop_) {
      if (fail_next_.exchange(false)) throw std::runtime_error("The event stream broke off");
      next += kSlice;
      std::this_thread::sleep_until(next);
      if (clock::now() - next > std::chrono::milliseconds(100)) next = clock::now();
      const SensorSettings settings = settings_();
      const std::int64_t slice_end = clock_.now_us();
      if (slice_end - slice_begin > kFifoMicroseconds) {
        // The host fell behind: as on the board, the FIFO keeps the newest
        // events and the older ones are lost (and counted).
        const std::int64_t missed = slice_end - kFifoMicroseconds - slice_begin;
        lost_ +=
            static_cast<std::uint64_t>(settings.total_rate() * static_cast<double>(missed) * 1e-6);
        slice_begin = slice_end - kFifoMicroseconds;
      }
      // What is owed goes out in slices of the usual length, so a late turn
      // neither builds one huge batch nor leaves the caches it works in.
      while (slice_begin < slice_end && !stop_) {
        const std::int64_t part_end = std::min(slice_end, slice_begin + kSliceMicroseconds);
        owed += settings.total_rate() * static_cast<double>(part_end - slice_begin) * 1e-6;
        const auto count = static_cast<std::size_t>(owed);
        owed -= static_cast<double>(count);
        batch.clear();
        sensor.generate(static_cast<double>(slice_begin) * 1e-6, count, settings, slice_begin,
                        part_end, batch);
        slice_begin = part_end;
        hub_.publish(batch.data(), batch.size());
        events_ += batch.size();
      }
    }
  } catch (const std::exception& e) {
    finished_ = true;
    if (on_error_) on_error_(std::string("Acquisition stopped: ") + e.what());
    return;
  }
  finished_ = true;
}

}  // namespace Zelvar_Core::bench
