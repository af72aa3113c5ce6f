// pravel --measure: the acquisition run for a set time (with the --busy
// thresholds, after filling --adc-hours of ADC history), then one log line
// of what the program kept up with, and the bench closed.
#pragma once

#include <wx/timer.h>

#include "bench/host/app/bench_session.h"
#include "bench/host/app/command_line.h"

namespace Zelvar_Core::bench {

class MeasureMode {
 public:
  explicit MeasureMode(BenchSession& session) : session_(session) {}
  // Prepares the bench as `options` ask and starts the measurement.
  void start(const PravelOptions& options);

 private:
  void report();

  BenchSession& session_;
  wxTimer timer_;
  double cpu_start_ = 0;
  long frames_start_ = 0;
  std::uint64_t events_start_ = 0, skipped_start_ = 0;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace Zelvar_Core::bench
