// The image while events stream, live or played back: every 30 ms the
// frame the display feed gathered is taken and drawn (and every sixth, the
// histogram), and the events and frames per second are counted over the
// last second.
#pragma once

#include <wx/timer.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "bench/board/bench_model.h"
#include "bench/board/event_hub.h"
#include "bench/host/windows/main_window.h"

namespace Zelvar_Core::bench {

class LiveView {
 public:
  static constexpr int kFramePeriodMs = 30;  // a little above 30 frames per second

  LiveView(BenchModel& model, DisplayFeed& display);
  // `redraw_histogram` runs every sixth frame; `rates_changed` once a second.
  // From here on the display feed gathers the frame: the image is on screen, and a
  // stream (live or played back) starts on its own thread before this view
  // hears of it, so that watching only while following would leave its
  // first slices out of the first frame.
  void attach(BenchMainWindow& window, std::function<void()> redraw_histogram,
              std::function<void()> rates_changed);
  // Starts or stops taking frames; stopping draws the events since the last
  // one, once the display has caught up with them.
  void follow(bool streaming);
  bool following() const { return timer_.IsRunning(); }
  void stop() { timer_.Stop(); }
  // Takes the hub's frame into the model and draws it.
  void take_frame();
  void redraw();
  double event_rate() const { return event_rate_; }
  double frame_rate() const { return frame_rate_; }
  // Events beyond the sensor since the stream started: never drawn, told
  // through `tell_outside` when the first arrive and, counted, when it stops.
  std::uint64_t outside() const { return outside_; }
  std::function<void(const std::string&)> tell_outside;

 private:
  void tick();

  BenchModel& model_;
  DisplayFeed& display_;
  BenchMainWindow* view_ = nullptr;
  std::optional<FrameWatch> frame_watch_;
  std::function<void()> redraw_histogram_, rates_changed_;
  wxTimer timer_;
  int ticks_ = 0;
  std::chrono::steady_clock::time_point rate_since_;
  std::uint64_t events_since_ = 0;
  long frames_since_ = 0;
  double event_rate_ = 0, frame_rate_ = 0;
  std::uint64_t outside_ = 0;
};

}  // namespace Zelvar_Core::bench
