// The ADC monitor's host side: the sampler thread while the monitor is
// open and the board is there (paused while it is unplugged), the bounded
// history the plots show, and the sample time field with its refusals.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <string>

#include "bench/board/adc.h"
#include "bench/board/simulated_board.h"
#include "bench/host/presenter/field_state.h"
#include "bench/host/presenter/gui_post.h"
#include "bench/host/presenter/status_line.h"
#include "bench/host/windows/main_window.h"

namespace Zelvar_Core::bench {

class AdcMonitor {
 public:
  AdcMonitor(Board& board, StatusLine& status, std::shared_ptr<spdlog::logger> logger);
  ~AdcMonitor();
  void attach(BenchMainWindow& window);

  // The monitor opened: sample whenever the board is there.
  void run();
  // The monitor closed: no more sampling, even on replug.
  void stop();
  // The board came or went: sampling pauses and resumes with it.
  void board_changed(bool connected);
  // The monitor's controls follow the board and the sampler.
  void draw_state(bool connected);
  // The board declared other channels: the rows, plots and history are made
  // anew for them (sampling goes on if it ran); false when the channels are
  // the same, and nothing changed.
  bool rebuild_channels();
  // Applies the sample time field; a refused text is marked and thrown.
  void apply_sample_time();
  void show_panels();
  // `hours` of samples at the fastest sample time, as a day-long run leaves them.
  void fill_history(double hours);
  // The bench closes: sampling ends and nothing late is told.
  void shutdown() {
    closed_ = true;
    sampler_.stop();
  }

  bool sampling() const { return sampler_.running(); }
  bool wanted() const { return wanted_; }
  AdcValuesMap& channels() { return history_.channels(); }
  double sample_time() const { return sample_time_; }
  FieldStates& fields() { return fields_; }

 private:
  // The channel map: the board's channels, in its order, with their units.
  void follow_channels();
  void start_sampling();
  void on_reading(const AdcReading& reading);
  void on_failure(const std::string& what, std::uint64_t run);
  void show_sample_time();
  // What Update came to, in the ADC window's own status line.
  void tell(const std::string& text);

  Board& board_;
  StatusLine& status_;
  std::shared_ptr<spdlog::logger> logger_;
  BenchMainWindow* view_ = nullptr;
  GuiPost post_;
  AdcSampler sampler_;
  AdcHistory history_;
  FieldStates fields_;
  double sample_time_ = 0.1;
  double time_base_ = 0;  // where the current sampling run's times start
  bool wanted_ = false;   // the monitor is open
  bool closed_ = false;
};

}  // namespace Zelvar_Core::bench
