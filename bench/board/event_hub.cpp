#include "bench/board/event_hub.h"

#include <algorithm>

namespace Zelvar_Core::bench {

void EventHub::publish(const Event* events, std::size_t count) {
  if (frame_watchers_ > 0) {
    std::lock_guard lock(frame_mutex_);
    if (frame_watchers_ > 0) pending_.accumulate(events, count);  // the last may have just left
  }
  published_ += count;
  std::lock_guard lock(listeners_mutex_);
  for (auto* listener : listeners_) listener->on_events(events, count);
}

void EventHub::take_frame(EventFrame& frame) {
  std::lock_guard lock(frame_mutex_);
  std::swap(frame.geometry, pending_.geometry);
  std::swap(frame.counts, pending_.counts);
  std::swap(frame.t_first, pending_.t_first);
  std::swap(frame.t_last, pending_.t_last);
  std::swap(frame.outside, pending_.outside);
  // The next frame keeps the sensor's size whatever size `frame` had.
  if (pending_.geometry != frame.geometry) pending_ = EventFrame(frame.geometry);
  pending_.clear();
}

void EventHub::set_geometry(SensorGeometry geometry) {
  std::lock_guard lock(frame_mutex_);
  pending_ = EventFrame(geometry);
}

void EventHub::watch_frame() { ++frame_watchers_; }

void EventHub::unwatch_frame() {
  std::lock_guard lock(frame_mutex_);
  if (--frame_watchers_ == 0) pending_.clear();
}

void EventHub::clear_frame() {
  std::lock_guard lock(frame_mutex_);
  pending_.clear();
}

void EventHub::subscribe(EventListener* listener) {
  std::lock_guard lock(listeners_mutex_);
  listeners_.push_back(listener);
}

void EventHub::unsubscribe(EventListener* listener) {
  std::lock_guard lock(listeners_mutex_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void PolarityCounter::on_events(const Event* events, std::size_t count) {
  std::uint64_t ons = 0;
  for (std::size_t i = 0; i < count; ++i) ons += events[i].p;
  on += ons;
  off += count - ons;
}

}  // namespace Zelvar_Core::bench
