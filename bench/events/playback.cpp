#include "bench/events/playback.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Zelvar_Core::bench {

namespace {

constexpr std::size_t kBatch = 1u << 14;  // events published at a time
constexpr double kLongestWaitUs = 3.6e9;  // a wait for the pace is looked at again hourly

class SteadyClock : public PlaybackClock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void wait_until(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                  TimePoint until) override {
    wake.wait_until(lock, until);
  }
};

}  // namespace

PlaybackClock& PlaybackClock::steady() {
  static SteadyClock clock;
  return clock;
}

Playback::Playback(EventHub& hub, PlaybackClock& clock) : hub_(hub), clock_(clock) {}

Playback::~Playback() { close(); }

const RecordingInfo& Playback::open(const std::string& path) {
  close();
  RecordingInfo info = RecordingReader::scan(path);
  reader_ = std::make_unique<RecordingReader>(path);
  info_ = std::move(info);
  published_ = outside_ = 0;
  position_us_ = 0;
  seek_to_ = -1;
  at_end_ = false;
  failure_.clear();
  pass_started_ = clock_.now();
  start_thread();
  return info_;
}

void Playback::close() {
  stop_thread();
  reader_.reset();
  info_ = RecordingInfo{};
  playing_ = false;
}

void Playback::start_thread() {
  quit_ = false;
  thread_ = std::thread([this] { run(); });
}

void Playback::stop_thread() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::string Playback::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void Playback::play() {
  if (!reader_) return;
  std::lock_guard lock(mutex_);
  if (!failure_.empty()) return;
  if (at_end_) seek_to_ = 0;  // played to the end: again from the start
  playing_ = true;
  reanchor(info_.first_t + position_us_);
  pass_started_ = anchor_wall_;
  wake_.notify_all();
}

void Playback::pause() {
  std::lock_guard lock(mutex_);
  playing_ = false;
  wake_.notify_all();
}

void Playback::set_speed(double speed) {
  std::lock_guard lock(mutex_);
  speed_ = speed;
  reanchor(info_.first_t + position_us_);
  wake_.notify_all();
}

void Playback::seek(double seconds) {
  std::lock_guard lock(mutex_);
  seek_to_ = std::clamp(seconds, 0.0, info_.duration_seconds());
  wake_.notify_all();
}

// With `mutex_` held.
void Playback::reanchor(std::int64_t t) {
  anchor_t_ = t;
  anchor_wall_ = clock_.now();
  ++pace_;
}

void Playback::run() {
  try {
    play_through();
  } catch (const std::exception& e) {
    {
      std::lock_guard lock(mutex_);
      failure_ = e.what();
      playing_ = false;
      at_end_ = true;
    }
    if (on_end) on_end();
  }
}

void Playback::play_through() {
  Batch batch;
  while (true) {
    Pace pace;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || playing_ || seek_to_ >= 0; });
      if (quit_) return;
      if (seek_to_ >= 0) {
        seek_locked(batch);
        continue;
      }
      pace = {speed_, anchor_t_, anchor_wall_, pace_};
    }
    if (batch.used_up()) {
      batch.events.clear();
      batch.at = 0;
      if (!reader_->next(batch.events)) {
        at_end_of_file();
        continue;
      }
      if (batch.events.empty()) continue;
    }
    const std::size_t end = due(batch, pace);
    if (end > batch.at) publish(batch, end);
  }
}

void Playback::seek_locked(Batch& batch) {
  // The stretch of the file where the time is reached, then the events
  // before it skipped.
  const std::int64_t target = info_.first_t + static_cast<std::int64_t>(seek_to_ * 1e6);
  std::size_t mark = 0;
  for (std::size_t i = 0; i < info_.marks.size(); ++i)
    if (info_.marks[i].first_t >= 0 && info_.marks[i].first_t <= target) mark = i;
  if (!info_.marks.empty()) reader_->seek(info_.marks[mark]);
  batch.events.clear();
  batch.at = 0;
  while (reader_->next(batch.events)) {
    while (batch.at < batch.events.size() && batch.events[batch.at].t < target) ++batch.at;
    if (!batch.used_up()) break;
    batch.events.clear();
    batch.at = 0;
  }
  position_us_ = target - info_.first_t;
  reanchor(target);
  pass_started_ = anchor_wall_;
  seek_to_ = -1;
  at_end_ = false;
}

void Playback::at_end_of_file() {
  std::unique_lock lock(mutex_);
  if (loop_) {
    // Each pass lasts at least kShortestLoopPass: a recording of no
    // duration is replayed at that rate instead of spinning.
    const auto next_pass = pass_started_ + kShortestLoopPass;
    if (clock_.now() < next_pass) {
      if (!quit_ && playing_ && seek_to_ < 0) clock_.wait_until(lock, wake_, next_pass);
    } else if (playing_) {
      seek_to_ = 0;
    }
    return;
  }
  playing_ = false;
  at_end_ = true;
  position_us_ = info_.last_t - info_.first_t;
  lock.unlock();
  if (on_end) on_end();
}

std::size_t Playback::due(Batch& batch, const Pace& pace) {
  const std::size_t end = std::min(batch.events.size(), batch.at + kBatch);
  if (pace.speed <= 0) return end;  // no pace: a whole batch
  const auto now = clock_.now();
  const auto elapsed_us = static_cast<double>(
      std::chrono::duration_cast<std::chrono::microseconds>(now - pace.anchor_wall).count());
  const auto due_t =
      pace.anchor_t + static_cast<std::int64_t>(std::llround(elapsed_us * pace.speed));
  std::size_t due_end = batch.at;
  while (due_end < end && batch.events[due_end].t <= due_t) ++due_end;
  if (due_end == batch.at) {
    // Nothing is due: wait until the next event is, or the pace changes.
    const double ahead_us =
        std::clamp(std::ceil(static_cast<double>(batch.events[batch.at].t - due_t) / pace.speed),
                   1.0, kLongestWaitUs);
    std::unique_lock lock(mutex_);
    if (!quit_ && playing_ && seek_to_ < 0 && pace_ == pace.count)
      clock_.wait_until(lock, wake_,
                        now + std::chrono::microseconds(static_cast<std::int64_t>(ahead_us)));
  }
  return due_end;
}

void Playback::publish(Batch& batch, std::size_t end) {
  batch.kept.clear();
  for (std::size_t i = batch.at; i < end; ++i) {
    if (info_.header.contains(batch.events[i]))
      batch.kept.push_back(batch.events[i]);
    else
      ++outside_;
  }
  hub_.publish(batch.kept.data(), batch.kept.size());
  published_ += batch.kept.size();
  position_us_ = batch.events[end - 1].t - info_.first_t;
  batch.at = end;
}

}  // namespace Zelvar_Core::bench
