#include "bench/board/acquisition.h"

#include <pthread.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace Zelvar_Core::bench {

std::int64_t BoardClock::now_us() {
  std::lock_guard lock(mutex_);
  if (held_) return held_us_;
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
  held_us_ = 0;
}

void BoardClock::hold() {
  std::lock_guard lock(mutex_);
  if (held_) return;
  held_us_ = running_ ? std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - epoch_)
                            .count()
                      : 0;
  held_ = true;
}

void BoardClock::advance(std::int64_t microseconds) {
  std::lock_guard lock(mutex_);
  held_us_ += microseconds;
}

Acquisition::Acquisition(EventHub& hub, BoardClock& clock, std::function<SensorSettings()> settings,
                         std::function<void(const std::string&)> on_error, SensorGeometry geometry)
    : hub_(hub),
      clock_(clock),
      settings_(std::move(settings)),
      on_error_(std::move(on_error)),
      geometry_(geometry) {}

Acquisition::~Acquisition() { stop(); }

void Acquisition::start() {
  if (running()) return;
  stop();  // joins a thread that ended on an error
  stop_ = false;
  finished_ = false;
  events_ = 0;
  lost_ = 0;
  until_ = -1;
  thread_ = std::thread([this] { run(); });
  started_ = true;
}

void Acquisition::stop() {
  stop_ = true;
  started_ = false;
  if (thread_.joinable()) thread_.join();
}

void StreamPump::pump(std::int64_t now_us, const SensorSettings& settings,
                      const std::atomic<bool>* stop) {
  if (now_us < slice_begin_) {
    // The board's clock restarted (a device reset): the stream goes on from
    // the new time instead of waiting for the old one to come round again.
    slice_begin_ = 0;
    owed_ = 0;
  }
  if (now_us - slice_begin_ > kMaxLagMicroseconds) {
    // The host fell behind: as on the board, the FIFO keeps the newest
    // events and the older ones are lost (and counted).
    const std::int64_t missed = now_us - kMaxLagMicroseconds - slice_begin_;
    lost_ += static_cast<std::uint64_t>(settings.total_rate() * static_cast<double>(missed) * 1e-6);
    slice_begin_ = now_us - kMaxLagMicroseconds;
  }
  // What is owed goes out in slices of the usual length, so a late turn
  // neither builds one huge batch nor leaves the caches it works in.
  while (slice_begin_ < now_us && !(stop && *stop)) {
    const std::int64_t part_end = std::min(now_us, slice_begin_ + kSliceMicroseconds);
    owed_ += settings.total_rate() * static_cast<double>(part_end - slice_begin_) * 1e-6;
    const auto count = static_cast<std::size_t>(owed_);
    owed_ -= static_cast<double>(count);
    // The batch grows to the largest slice once and is written over after:
    // never cleared first.
    if (batch_.size() < count) batch_.resize(count);
    const std::size_t made = sensor_.generate(static_cast<double>(slice_begin_) * 1e-6, count,
                                              settings, slice_begin_, part_end, batch_.data());
    slice_begin_ = part_end;
    hub_.publish(batch_.data(), made);
    events_ += made;
  }
}

void Acquisition::run() {
  using clock = std::chrono::steady_clock;
  constexpr auto kSlice = std::chrono::microseconds(kSliceMicroseconds);
  pthread_setname_np(pthread_self(), "board");  // told apart from the host's threads in top -H
  StreamPump pump(hub_, clock_.now_us(), geometry_);
  auto next = clock::now();
  try {
    while (!stop_) {
      if (fail_next_.exchange(false)) throw std::runtime_error("The event stream broke off");
      next += kSlice;
      std::this_thread::sleep_until(next);
      if (clock::now() - next > std::chrono::milliseconds(100)) next = clock::now();
      const SensorSettings settings = settings_();
      pump.pump(clock_.now_us(), settings, &stop_);
      events_ = pump.events();
      lost_ = pump.estimated_lost();
      until_ = pump.published_until();
    }
  } catch (const std::exception& e) {
    finished_ = true;
    if (on_error_) on_error_(std::string("Acquisition stopped: ") + e.what());
    return;
  }
  finished_ = true;
}

}  // namespace Zelvar_Core::bench
