// Where the board's events go: every listener (recorder, measurements) on
// the publishing thread, and the display (the frame the image is drawn
// from, the Rates tool's meter) on a thread of its own behind a DisplayFeed.
// Sources (the live stream or a playback) publish; the GUI takes the frame.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/board/batch_pool.h"
#include "bench/board/event.h"
#include "bench/board/sensor.h"

namespace Zelvar_Core::bench {

class EventHub {
 public:
  // Hands the events to every listener, on the caller's thread.
  void publish(const Event* events, std::size_t count);
  // After unsubscribe returns the listener is called no more.
  void subscribe(EventListener* listener);
  void unsubscribe(EventListener* listener);
  // Events published since the hub was made.
  std::uint64_t published() const { return published_; }
  // The size of the sensor the events come from (the AER-640's until set);
  // the display's frame takes it. Safe from any thread.
  void set_geometry(SensorGeometry geometry);
  SensorGeometry geometry() const;

 private:
  std::mutex listeners_mutex_;
  std::vector<EventListener*> listeners_;
  std::atomic<std::uint64_t> published_{0};
  std::atomic<std::uint64_t> geometry_{pack(SensorGeometry{})};
  static constexpr std::uint64_t pack(SensorGeometry g) {
    return std::uint64_t{g.width} << 32 | g.height;
  }
};

// What only the display needs of the stream, off the publishing thread (the
// board's, or a served board's reader): the frame the live image is drawn
// from, and listeners such as the Rates tool's meter. On the publishing
// thread the feed only copies each batch into a bounded queue; its own
// thread, started with it and joined by stop() or its destructor, gathers
// the frame and calls the listeners. When the display falls further behind
// than the queue holds, it skips batches: they are counted, apart from what
// the board lost, and its listeners are told the span they missed
// (on_skipped). The hub's other listeners, a recorder among them, still hear
// every event on the publishing thread. While someone watches or listens, the
// feed's thread makes the queue's room ahead and keeps it, so that copying a
// batch costs the publishing thread no fresh memory.
class DisplayFeed : public EventListener {
 public:
  // A fifth of a second of the busy stream (20 M events/s), 64 MiB.
  static constexpr std::size_t kQueueEvents = std::size_t{1} << 22;
  // The feed's thread runs at this niceness: after the board's when both wait for a core.
  static constexpr int kNiceness = 10;

  explicit DisplayFeed(EventHub& hub, std::size_t queue_events = kQueueEvents);
  ~DisplayFeed() override;
  DisplayFeed(const DisplayFeed&) = delete;
  DisplayFeed& operator=(const DisplayFeed&) = delete;

  // Heard from the hub: queued, or skipped when the queue is full; never waits
  // for the display. Nothing is queued while no one watches or listens.
  void on_events(const Event* events, std::size_t count) override;
  // Listeners called on the feed's thread; after remove returns, no more.
  void add(EventListener* listener);
  void remove(EventListener* listener);
  // The pending frame is gathered only while at least one watcher (the live
  // image) is there. When the last watcher leaves, the frame is emptied, so
  // that the next one does not see old events. Safe from any thread.
  void watch_frame();
  void unwatch_frame();
  bool frame_watched() const { return frame_watchers_ > 0; }
  // Swaps the pending frame into `frame` and starts a new one.
  void take_frame(EventFrame& frame);
  // Empties the frame, of the events queued until now too.
  void clear_frame();
  // Returns once every batch heard before the call is in the frame and with
  // the listeners, or was skipped.
  void settle();
  // Leaves the hub and ends the thread; what is still queued is not shown.
  void stop();
  // Events the display skipped since the feed was made: never lost by the board.
  std::uint64_t skipped() const { return skipped_; }

 private:
  struct Batch {
    std::vector<Event> events;
    std::uint64_t skipped = 0;  // a run of skipped batches instead: how many events,
    std::int64_t skipped_first = 0, skipped_last = 0;  // and their times
    std::uint64_t through = 0;  // the last batch heard that this one stands for
  };
  void run();
  bool wanted() const { return frame_watchers_ > 0 || listening_ > 0; }
  // Wakes the thread to make room ahead for someone who now watches or listens.
  void wanted_now();

  EventHub& hub_;
  const std::size_t capacity_;
  std::mutex mutex_;  // the queue and the counts of batches
  std::condition_variable wake_, handled_changed_;
  std::deque<Batch> queue_;
  BatchPool pool_;          // the queue's room
  std::size_t queued_ = 0;  // events in the queue
  std::uint64_t heard_ = 0, handled_ = 0;
  std::uint64_t cleared_through_ = 0;  // under both mutexes
  bool closing_ = false;
  std::mutex frame_mutex_;
  EventFrame pending_;
  std::atomic<int> frame_watchers_{0};
  std::mutex listeners_mutex_;
  std::vector<EventListener*> listeners_;
  std::atomic<int> listening_{0};
  std::atomic<std::uint64_t> skipped_{0};
  bool subscribed_ = false;
  std::thread thread_;
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

// Listens to a display feed for as long as it lives.
class DisplayListening {
 public:
  DisplayListening(DisplayFeed& feed, EventListener& listener) : feed_(feed), listener_(listener) {
    feed_.add(&listener_);
  }
  ~DisplayListening() { feed_.remove(&listener_); }
  DisplayListening(const DisplayListening&) = delete;
  DisplayListening& operator=(const DisplayListening&) = delete;

 private:
  DisplayFeed& feed_;
  EventListener& listener_;
};

// Watches a display feed's frame for as long as it lives.
class FrameWatch {
 public:
  explicit FrameWatch(DisplayFeed& feed) : feed_(feed) { feed_.watch_frame(); }
  ~FrameWatch() { feed_.unwatch_frame(); }
  FrameWatch(const FrameWatch&) = delete;
  FrameWatch& operator=(const FrameWatch&) = delete;

 private:
  DisplayFeed& feed_;
};

// Counts events by polarity; safe to read from any thread.
class PolarityCounter : public EventListener {
 public:
  void on_events(const Event* events, std::size_t count) override;
  std::atomic<std::uint64_t> on{0}, off{0};
  std::uint64_t total() const { return on + off; }
};

}  // namespace Zelvar_Core::bench
