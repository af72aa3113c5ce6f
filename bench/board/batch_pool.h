// Room for the batches a stream's thread copies into a consumer's queue,
// kept for as long as the pool lives. Batch after batch, the stream's thread
// then copies into memory it has used before instead of allocating (and
// faulting in, page by page) a fresh batch whenever the consumer is behind,
// and the consumer frees none: at the busy rate, fresh batches cost the
// stream's thread more than making its events. The consumer's thread makes
// the room ahead, touched, when it has nothing else to do.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "bench/board/event.h"

namespace Zelvar_Core::bench {

class BatchPool {
 public:
  // One buffer made ahead: over 3 ms of the busy stream (20 M events/s),
  // longer than the slices the board publishes.
  static constexpr std::size_t kBufferEvents = std::size_t{1} << 16;

  // Makes room ahead for `events` events: what the consumer's queue holds.
  explicit BatchPool(std::size_t events) : wanted_(events) {}

  // The calls below are made under the owner's lock.
  // A kept buffer, empty, or a new one when none is kept.
  std::vector<Event> take() {
    if (kept_.empty()) return {};
    std::vector<Event> buffer = std::move(kept_.back());
    kept_.pop_back();
    return buffer;
  }
  // Keeps `buffer`'s room for the next take().
  void give(std::vector<Event>&& buffer) {
    if (buffer.capacity() == 0) return;
    buffer.clear();
    kept_.push_back(std::move(buffer));
  }
  // Whether the consumer should make more room ahead (make(), then add()).
  bool short_of_room() const { return made_ < wanted_; }
  void add(std::vector<Event>&& made) {
    made_ += made.capacity();
    give(std::move(made));
  }
  // Frees every kept buffer; room is made ahead again from then on.
  void release() {
    kept_.clear();
    kept_.shrink_to_fit();
    made_ = 0;
  }

  // A buffer of kBufferEvents whose every page is already there: made on
  // the consumer's thread, outside its lock.
  static std::vector<Event> make() {
    std::vector<Event> buffer(kBufferEvents);  // written through, page by page
    buffer.clear();                            // the room stays
    return buffer;
  }

 private:
  std::vector<std::vector<Event>> kept_;
  std::size_t wanted_;
  std::size_t made_ = 0;  // events of room made ahead
};

}  // namespace Zelvar_Core::bench
