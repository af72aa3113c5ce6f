#include "bench/host/presenter/live_view.h"

#include <fmt/format.h>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

LiveView::LiveView(BenchModel& model, DisplayFeed& display) : model_(model), display_(display) {}

void LiveView::attach(BenchMainWindow& window, std::function<void()> redraw_histogram,
                      std::function<void()> rates_changed) {
  view_ = &window;
  frame_watch_.emplace(display_);
  redraw_histogram_ = std::move(redraw_histogram);
  rates_changed_ = std::move(rates_changed);
  timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { tick(); });
}

void LiveView::follow(bool streaming) {
  if (streaming && !timer_.IsRunning()) {
    timer_.Start(kFramePeriodMs);
    rate_since_ = std::chrono::steady_clock::now();
    events_since_ = model_.board().events().published();
    frames_since_ = view_->image_panel->frames_drawn();
    outside_ = 0;
  } else if (!streaming && timer_.IsRunning()) {
    timer_.Stop();
    display_.settle();
    take_frame();  // the events since the last frame are shown too
    event_rate_ = frame_rate_ = 0;
    if (outside_ > 0 && tell_outside)
      tell_outside(fmt::format("{} event{} outside the sensor's {} x {} left out of the image",
                               count_text(outside_), outside_ == 1 ? "" : "s",
                               model_.image.geometry.width, model_.image.geometry.height));
  }
}

void LiveView::take_frame() {
  display_.take_frame(model_.image);
  if (model_.image.outside > 0) {
    if (outside_ == 0 && tell_outside)
      tell_outside(fmt::format("Events outside the sensor's {} x {}: counted, not drawn",
                               model_.image.geometry.width, model_.image.geometry.height));
    outside_ += model_.image.outside;
  }
  redraw();
}

void LiveView::redraw() {
  if (view_) view_->image_panel->Refresh(false);
}

void LiveView::tick() {
  take_frame();
  if (++ticks_ % 6 == 0 && redraw_histogram_) redraw_histogram_();
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - rate_since_).count();
  if (seconds < 1.0) return;
  const std::uint64_t events = model_.board().events().published();
  const long frames = view_->image_panel->frames_drawn();
  event_rate_ = static_cast<double>(events - events_since_) / seconds;
  frame_rate_ = static_cast<double>(frames - frames_since_) / seconds;
  events_since_ = events;
  frames_since_ = frames;
  rate_since_ = now;
  model_.board().note_event_rate(event_rate_);
  if (rates_changed_) rates_changed_();
}

}  // namespace Zelvar_Core::bench
