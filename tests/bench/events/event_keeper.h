// Helpers shared by the tests that hear, record and read back event streams.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "bench/board/event_hub.h"
#include "bench/board/sensor.h"
#include "bench/events/recording_file.h"

namespace Zelvar_Core::testing_support {

// Keeps every event it hears, in order.
struct EventKeeper : bench::EventListener {
  void on_events(const bench::Event* e, std::size_t n) override {
    std::lock_guard lock(mutex);
    events.insert(events.end(), e, e + n);
  }
  std::size_t size() {
    std::lock_guard lock(mutex);
    return events.size();
  }
  // What the kept events add up to on the sensor's grid.
  bench::EventFrame frame() {
    std::lock_guard lock(mutex);
    bench::EventFrame f;
    f.accumulate(events.data(), events.size());
    return f;
  }
  std::mutex mutex;
  std::vector<bench::Event> events;
};

inline bool same_event(const bench::Event& a, const bench::Event& b) {
  return a.t == b.t && a.x == b.x && a.y == b.y && a.p == b.p;
}

inline bool same_events(const std::vector<bench::Event>& a, const std::vector<bench::Event>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!same_event(a[i], b[i])) return false;
  return true;
}

// Every event of a recording, in file order.
inline std::vector<bench::Event> read_all(const std::string& path) {
  bench::RecordingReader reader(path);
  std::vector<bench::Event> events;
  while (reader.next(events)) {
  }
  return events;
}

}  // namespace Zelvar_Core::testing_support
