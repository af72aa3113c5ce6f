#include "bench/board/event_hub.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace Zelvar_Core::bench {

void EventHub::publish(const Event* events, std::size_t count) {
  published_ += count;
  std::lock_guard lock(listeners_mutex_);
  for (auto* listener : listeners_) listener->on_events(events, count);
}

void EventHub::set_geometry(SensorGeometry geometry) { geometry_ = pack(geometry); }

SensorGeometry EventHub::geometry() const {
  const std::uint64_t packed = geometry_;
  return {static_cast<std::uint32_t>(packed >> 32), static_cast<std::uint32_t>(packed)};
}

void EventHub::subscribe(EventListener* listener) {
  std::lock_guard lock(listeners_mutex_);
  listeners_.push_back(listener);
}

void EventHub::unsubscribe(EventListener* listener) {
  std::lock_guard lock(listeners_mutex_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

DisplayFeed::DisplayFeed(EventHub& hub, std::size_t queue_events)
    : hub_(hub), capacity_(queue_events), pool_(queue_events), pending_(hub.geometry()) {
  thread_ = std::thread([this] { run(); });
  hub_.subscribe(this);
  subscribed_ = true;
}

DisplayFeed::~DisplayFeed() { stop(); }

void DisplayFeed::stop() {
  if (subscribed_) {
    hub_.unsubscribe(this);
    subscribed_ = false;
  }
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  handled_changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DisplayFeed::on_events(const Event* events, std::size_t count) {
  if (count == 0 || !wanted()) return;
  std::unique_lock lock(mutex_);
  if (closing_) return;
  const std::uint64_t batch = ++heard_;
  if (queued_ + count > capacity_) {
    // The display is this far behind: these events are not shown. A run of
    // skipped batches waits in the queue as one entry, holding no events.
    skipped_ += count;
    if (queue_.empty() || queue_.back().skipped == 0) {
      queue_.emplace_back();
      queue_.back().skipped_first = events[0].t;
    }
    Batch& skip = queue_.back();
    skip.skipped += count;
    skip.skipped_last = events[count - 1].t;
    skip.through = batch;
  } else {
    Batch copy;
    copy.events = pool_.take();
    copy.events.assign(events, events + count);
    copy.through = batch;
    queue_.push_back(std::move(copy));
    queued_ += count;
  }
  lock.unlock();
  wake_.notify_one();
}

void DisplayFeed::run() {
  // Behind the board's thread when the two want the same core: the display
  // may skip, the board may not. (A thread's own niceness, on Linux; raising
  // it needs no privilege, and failing to changes only who waits.)
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNiceness);
  pthread_setname_np(pthread_self(), "display");
  for (;;) {
    Batch batch;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] {
        // Room is made once a stream is heard: a bench that has not started
        // one, or is still opening its window, does not pay for it.
        return !queue_.empty() || closing_ || (heard_ > 0 && wanted() && pool_.short_of_room());
      });
      if (closing_) return;
      if (queue_.empty()) {
        // Nothing to show: room for the queue is made now, not by the
        // publishing thread when the display falls behind.
        lock.unlock();
        std::vector<Event> room = BatchPool::make();
        lock.lock();
        pool_.add(std::move(room));
        continue;
      }
      batch = std::move(queue_.front());
      queue_.pop_front();
      queued_ -= batch.events.size();
    }
    if (batch.skipped > 0) {
      std::lock_guard lock(listeners_mutex_);
      for (auto* listener : listeners_)
        listener->on_skipped(batch.skipped_first, batch.skipped_last, batch.skipped);
    } else {
      if (frame_watchers_ > 0) {
        std::lock_guard lock(frame_mutex_);
        // The last watcher may have just left; a batch heard before a clear stays out.
        if (frame_watchers_ > 0 && batch.through > cleared_through_) {
          const SensorGeometry sensor = hub_.geometry();
          if (pending_.geometry != sensor) pending_ = EventFrame(sensor);  // a new board
          pending_.accumulate(batch.events.data(), batch.events.size());
        }
      }
      std::lock_guard lock(listeners_mutex_);
      for (auto* listener : listeners_)
        listener->on_events(batch.events.data(), batch.events.size());
    }
    {
      std::lock_guard lock(mutex_);
      handled_ = batch.through;
      pool_.give(std::move(batch.events));
    }
    handled_changed_.notify_all();
  }
}

void DisplayFeed::settle() {
  std::unique_lock lock(mutex_);
  const std::uint64_t until = heard_;
  handled_changed_.wait(lock, [&] { return handled_ >= until || closing_; });
}

void DisplayFeed::add(EventListener* listener) {
  {
    std::lock_guard lock(listeners_mutex_);
    listeners_.push_back(listener);
    listening_ = static_cast<int>(listeners_.size());
  }
  wanted_now();
}

void DisplayFeed::wanted_now() {
  { std::lock_guard lock(mutex_); }  // the thread waits, or sees the change before it does
  wake_.notify_all();
}

void DisplayFeed::remove(EventListener* listener) {
  std::lock_guard lock(listeners_mutex_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
  listening_ = static_cast<int>(listeners_.size());
}

void DisplayFeed::take_frame(EventFrame& frame) {
  std::lock_guard lock(frame_mutex_);
  // Events of another sensor (the board before this one) are not handed on.
  const SensorGeometry sensor = hub_.geometry();
  if (pending_.geometry != sensor) pending_ = EventFrame(sensor);
  std::swap(frame.geometry, pending_.geometry);
  std::swap(frame.counts, pending_.counts);
  std::swap(frame.t_first, pending_.t_first);
  std::swap(frame.t_last, pending_.t_last);
  std::swap(frame.outside, pending_.outside);
  // The next frame has the sensor's size whatever size `frame` had.
  if (pending_.geometry != sensor) pending_ = EventFrame(sensor);
  pending_.clear();
}

void DisplayFeed::watch_frame() {
  ++frame_watchers_;
  wanted_now();
}

void DisplayFeed::unwatch_frame() {
  std::lock_guard lock(frame_mutex_);
  if (--frame_watchers_ == 0) pending_.clear();
}

void DisplayFeed::clear_frame() {
  std::lock_guard frame_lock(frame_mutex_);
  {
    std::lock_guard lock(mutex_);
    cleared_through_ = heard_;
  }
  pending_.clear();
}

void PolarityCounter::on_events(const Event* events, std::size_t count) {
  std::uint64_t ons = 0;
  for (std::size_t i = 0; i < count; ++i) ons += events[i].p;
  on += ons;
  off += count - ons;
}

}  // namespace Zelvar_Core::bench
