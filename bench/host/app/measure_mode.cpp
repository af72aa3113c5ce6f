#include "bench/host/app/measure_mode.h"

#include <sys/resource.h>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

namespace {

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

void MeasureMode::start(const PravelOptions& options) {
  if (options.adc_hours) {
    // A history of that many hours of ADC samples first, and the monitor open.
    session_.presenter->fill_adc_history(*options.adc_hours);
    session_.choose_tool("ADCs");
  }
  if (options.busy) {
    // Thresholds that make about 20 M events/s.
    for (auto [name, value] : {std::pair<const char*, const char*>{"VTH_ON", "1750"},
                               {"VTH_OFF", "1450"},
                               {"BIAS_GAIN", "7"}})
      session_.model.write_value(name, value);
  }
  session_.presenter->toggle_main_img_thread();
  if (options.all_tools) {
    // Everything that takes events or samples while the image runs.
    session_.choose_tool("ADCs");
    session_.window->adc_control_frame->panel_menu->sampletime_textbox->ChangeValue("0.01");
    session_.presenter->update_adc_ts();
    session_.choose_tool("Rates");
    session_.presenter->start_recording();
  }
  cpu_start_ = cpu_seconds();
  frames_start_ = session_.window->image_panel->frames_drawn();
  events_start_ = session_.model.board().events().published();
  skipped_start_ = session_.presenter->display().skipped();
  started_ = std::chrono::steady_clock::now();
  timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { report(); });
  timer_.StartOnce(static_cast<int>(options.measure_seconds * 1000));
}

void MeasureMode::report() {
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const double cpu = cpu_seconds() - cpu_start_;
  const long frames = session_.window->image_panel->frames_drawn() - frames_start_;
  const auto events = session_.model.board().events().published() - events_start_;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  get_logger("pravel")->info(
      "Measured over {:.2f} s: {:.2f} M events/s accumulated, {:.1f} frames/s drawn, "
      "{:.2f} ms CPU per frame (all threads), {:.0f}% of one core, {} peak resident, "
      "{} events lost, {} skipped by the display",
      wall, static_cast<double>(events) / wall / 1e6, static_cast<double>(frames) / wall,
      frames ? cpu * 1000 / static_cast<double>(frames) : 0.0, cpu / wall * 100,
      size_text(static_cast<std::uint64_t>(usage.ru_maxrss) * 1024),
      session_.model.board().lost_by_board(),
      session_.presenter->display().skipped() - skipped_start_);
  if (session_.presenter->recording()) session_.presenter->stop_recording("the measurement ended");
  session_.window->Close();
}

}  // namespace Zelvar_Core::bench
