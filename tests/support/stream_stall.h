// Holds the board's stream inside its hub until let go: meanwhile the
// board's FIFO overflows, as when the host falls behind.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "bench/board/event.h"

namespace Zelvar_Core::testing_support {

struct StreamStall : bench::EventListener {
  void on_events(const bench::Event*, std::size_t) override {
    std::unique_lock lock(mutex);
    if (!hold) return;
    held = true;
    changed.notify_all();
    changed.wait(lock, [&] { return !hold; });
  }
  void let_go() {
    {
      std::lock_guard lock(mutex);
      hold = false;
    }
    changed.notify_all();
  }
  // Holds the stream again, at the next batch.
  void hold_next() {
    std::lock_guard lock(mutex);
    hold = true;
    held = false;
  }
  bool holding() {
    std::lock_guard lock(mutex);
    return held;
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool hold = true, held = false;
};

}  // namespace Zelvar_Core::testing_support
