#include "bench/events/playback.h"

#include <algorithm>
#include <vector>

namespace Zelvar_Core::bench {

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::size_t kBatch = 1u << 14;  // events published at a time
}  // namespace

Playback::Playback(EventHub& hub) : hub_(hub) {}

Playback::~Playback() { close(); }

const RecordingInfo& Playback::open(const std::string& path) {
  close();
  RecordingInfo info = RecordingReader::scan(path);
  reader_ = std::make_unique<RecordingReader>(path);
  info_ = std::move(info);
  published_ = outside_ = 0;
  position_us_ = 0;
  seek_to_ = -1;
  start_thread();
  return info_;
}

void Playback::close() {
  stop_thread();
  reader_.reset();
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

void Playback::play() {
  if (!reader_) return;
  std::lock_guard lock(mutex_);
  if (at_end_) seek_to_ = 0;  // played to the end: again from the start
  playing_ = true;
  anchor_wall_ = Clock::now();
  anchor_t_ = info_.first_t + position_us_;
  wake_.notify_all();
}

void Playback::pause() {
  std::lock_guard lock(mutex_);
  playing_ = false;
}

void Playback::set_speed(double speed) {
  std::lock_guard lock(mutex_);
  speed_ = speed;
  anchor_wall_ = Clock::now();
  anchor_t_ = info_.first_t + position_us_;
}

void Playback::seek(double seconds) {
  std::lock_guard lock(mutex_);
  seek_to_ = std::clamp(seconds, 0.0, info_.duration_seconds());
  wake_.notify_all();
}

void Playback::reanchor(std::int64_t t) {
  anchor_t_ = t;
  anchor_wall_ = Clock::now();
}

void Playback::run() {
  std::vector<Event> decoded, kept;
  std::size_t at = 0;  // next event of `decoded` to publish
  while (true) {
    double speed;
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
        seek_to_ = -1;
        at_end_ = false;
        continue;
      }
      speed = speed_;
    }
    if (at >= decoded.size()) {
      decoded.clear();
      at = 0;
      if (!reader_->next(decoded)) {
        if (loop_) {
          std::lock_guard lock(mutex_);
          seek_to_ = 0;
          continue;
        }
        playing_ = false;
        at_end_ = true;
        position_us_ = info_.last_t - info_.first_t;
        if (on_end) on_end();
        continue;
      }
      if (decoded.empty()) continue;
    }
    // The events that are due now (all of a batch when there is no pace).
    std::size_t end = std::min(decoded.size(), at + kBatch);
    if (speed > 0) {
      const double elapsed = std::chrono::duration<double>(Clock::now() - anchor_wall_).count();
      const auto due = anchor_t_ + static_cast<std::int64_t>(elapsed * speed * 1e6);
      std::size_t due_end = at;
      while (due_end < end && decoded[due_end].t <= due) ++due_end;
      if (due_end == at) {
        const auto wait_us = static_cast<double>(decoded[at].t - due) / speed;
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::microseconds(
                                 static_cast<std::int64_t>(std::clamp(wait_us, 100.0, 2000.0))));
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
