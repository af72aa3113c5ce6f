// Where the board's events go: the frame the image is drawn from, and every
// listener (rates, recorder, measurements). Sources (the live stream or a
// playback) publish; the GUI takes the frame.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "bench/board/event.h"
#include "bench/board/sensor.h"

namespace Zelvar_Core::bench {

class EventHub {
 public:
  // Accumulates the events into the pending frame while someone watches it,
  // then hands them to every listener, on the caller's thread.
  void publish(const Event* events, std::size_t count);
  // The pending frame is gathered only while at least one watcher (the live
  // image) is there: it costs a fifth of the stream's work, for nothing when
  // no one looks. When the last watcher leaves, the frame is emptied, so that
  // the next one does not see old events. Safe from any thread.
  void watch_frame();
  void unwatch_frame();
  bool frame_watched() const { return frame_watchers_ > 0; }
  // Swaps the pending frame into `frame` and starts a new one.
  void take_frame(EventFrame& frame);
  void clear_frame();
  // The size of the sensor the events come from (the AER-640's until set):
  // the pending frame takes it, emptied.
  void set_geometry(SensorGeometry geometry);
  // After unsubscribe returns the listener is called no more.
  void subscribe(EventListener* listener);
  void unsubscribe(EventListener* listener);
  // Events published since the hub was made.
  std::uint64_t published() const { return published_; }

 private:
  std::mutex frame_mutex_;
  EventFrame pending_;
  std::atomic<int> frame_watchers_{0};
  std::mutex listeners_mutex_;
  std::vector<EventListener*> listeners_;
  std::atomic<std::uint64_t> published_{0};
};

// Subscribes for as long as it lives.
class Subscription {
 public:
  Subscription(EventHub& hub, EventListener& listener) : hub_(hub), listener_(listener) {
    hub_.subscribe(&listener_);
  }
  ~Subscription() { hub_.unsubscribe(&listener_); }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

 private:
  EventHub& hub_;
  EventListener& listener_;
};

// Watches the hub's frame for as long as it lives.
class FrameWatch {
 public:
  explicit FrameWatch(EventHub& hub) : hub_(hub) { hub_.watch_frame(); }
  ~FrameWatch() { hub_.unwatch_frame(); }
  FrameWatch(const FrameWatch&) = delete;
  FrameWatch& operator=(const FrameWatch&) = delete;

 private:
  EventHub& hub_;
};

// Counts events by polarity; safe to read from any thread.
class PolarityCounter : public EventListener {
 public:
  void on_events(const Event* events, std::size_t count) override;
  std::atomic<std::uint64_t> on{0}, off{0};
  std::uint64_t total() const { return on + off; }
};

}  // namespace Zelvar_Core::bench
