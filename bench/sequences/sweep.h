// A parameter sweep: for each value, write it to the board, let the pixels
// settle, measure. The parameter goes back to the value it had before
// whatever happens, and the run says so.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "bench/sequences/bench_actions.h"

namespace Zelvar_Core::bench {

struct SweepPlan {
  std::string name;  // a register, DAC or chip signal
  std::vector<std::int64_t> values;
  double settle = 0.2;   // seconds after each write
  double measure = 0.5;  // seconds of measurement per step
  std::string unit{};    // the parameter's unit as the board gives it ("mV"), "" for none
  // start..stop by step (both ends in, stop included when on the grid), for
  // the register `r`: start and stop are checked against its range before
  // any value is made. Throws RangeError for an end outside it, and
  // std::invalid_argument for a step that cannot reach stop; one sentence.
  static std::vector<std::int64_t> range(const Register& r, std::int64_t start, std::int64_t stop,
                                         std::int64_t step);
  static constexpr std::size_t kMaxValues = 100000;
};

struct SweepRow {
  std::int64_t value;
  Measurement measurement;
  // From the value's setting to the end of its measuring.
  std::chrono::system_clock::time_point started{}, ended{};
};

// Every value and time checked before anything is sent: one sentence for
// the first problem ("VTH_ON: 5000 is out of range 0..4095"), "" when fine.
std::string check_sweep(const SweepPlan& plan, BenchActions& bench);

struct SweepOutcome {
  std::vector<SweepRow> rows;
  bool completed = false;
  std::string ended;     // why it ended early ("" when completed)
  std::string restored;  // "VTH_ON restored to 2400", or why it could not be
};

// Runs the sweep; `row` hears each row as it is measured (on the caller's
// thread). Errors and an abort end the run but not this call: the outcome
// says why, after the parameter was put back.
SweepOutcome run_sweep(const SweepPlan& plan, BenchActions& bench,
                       const std::function<void(std::size_t step, const SweepRow&)>& row);

// The CSV: "# key value" lines (the date, the board, the design, the mode
// and every other register, DAC and signal), then one named row per step.
// Each row ends with the settings in force when it was measured. The
// columns are `board`'s: its ADC channels in its order, and each register
// with its unit where it has one ("VTH_ON (counts)").
std::string sweep_csv(const SweepPlan& plan, const std::vector<SweepRow>& rows,
                      const Settings& settings, const BoardDeclaration& board);

}  // namespace Zelvar_Core::bench
