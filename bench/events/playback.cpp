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
  std::vector<Event> decoded, kept;
  std::size_t at = 0;  // next event of `decoded` to publish
  while (true) {
    double speed;
    std::int64_t anchor_t;
    PlaybackClock::TimePoint anchor_wall;
    std::uint64_t pace;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || playing_ || seek_to_ >= 0; });
      if (quit_) return;
      if (seek_to_ >= 0) {
        // The stretch of the file where the time is reached, then the events
        // before it skipped.
        const std::int64_t target = info_.first_t + static_cast<std::int64_t>(seek_to_ * 1e6);
        std::size_t mark = 0;
        for (std::size_t i = 0; i < info_.marks.size(); ++i)
          if (info_.marks[i].first_t >= 0 && info_.marks[i].first_t <= target) mark = i;
        if (!info_.marks.empty()) reader_->seek(info_.marks[mark]);
        decoded.clear();
        at = 0;
        while (reader_->next(decoded)) {
          while (at < decoded.size() && decoded[at].t < target) ++at;
          if (at < decoded.size()) break;
          decoded.clear();
          at = 0;
        }
        position_us_ = target - info_.first_t;
        reanchor(target);
        pass_started_ = anchor_wall_;
        seek_to_ = -1;
        at_end_ = false;
        continue;
      }
      speed = speed_;
      anchor_t = anchor_t_;
      anchor_wall = anchor_wall_;
      pace = pace_;
    }
    if (at >= decoded.size()) {
      decoded.clear();
      at = 0;
      if (!reader_->next(decoded)) {
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
          continue;
        }
        playing_ = false;
        at_end_ = true;
        position_us_ = info_.last_t - info_.first_t;
        lock.unlock();
        if (on_end) on_end();
        continue;
      }
      if (decoded.empty()) continue;
    }
    // The events that are due now (all of a batch when there is no pace).
    std::size_t end = std::min(decoded.size(), at + kBatch);
    if (speed > 0) {
      const auto now = clock_.now();
      const auto elapsed_us = static_cast<double>(
          std::chrono::duration_cast<std::chrono::microseconds>(now - anchor_wall).count());
      const auto due = anchor_t + static_cast<std::int64_t>(std::llround(elapsed_us * speed));
      std::size_t due_end = at;
      while (due_end < end && decoded[due_end].t <= due) ++due_end;
      if (due_end == at) {
        const double ahead_us = std::clamp(
            std::ceil(static_cast<double>(decoded[at].t - due) / speed), 1.0, kLongestWaitUs);
        std::unique_lock lock(mutex_);
        if (!quit_ && playing_ && seek_to_ < 0 && pace_ == pace)
          clock_.wait_until(lock, wake_,
                            now + std::chrono::microseconds(static_cast<std::int64_t>(ahead_us)));
        continue;
      }
      end = due_end;
    }
    kept.clear();
    for (std::size_t i = at; i < end; ++i) {
      if (on_sensor(decoded[i]))
        kept.push_back(decoded[i]);
      else
        ++outside_;
    }
    hub_.publish(kept.data(), kept.size());
    published_ += kept.size();
    position_us_ = decoded[end - 1].t - info_.first_t;
    at = end;
  }
}

}  // namespace Zelvar_Core::bench
