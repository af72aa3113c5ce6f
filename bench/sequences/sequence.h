// Test sequences: a JSON file of steps (program, set, wait, measure, sweep,
// record, capture, expect), read and checked whole before anything reaches
// the board. Running one: sequence_run.h; its report: sequence_report.h.
//
//   {"name": "smoke", "steps": [
//     {"program": "bits/aer640_sample.bit"},
//     {"set": "VTH_ON", "value": 2300},
//     {"wait": 0.5},
//     {"measure": 1.0},
//     {"expect": "on_rate_mean", "min": 1e5, "max": 1e8},
//     {"sweep": "VTH_ON", "start": 2000, "stop": 2800, "step": 200,
//      "settle": 0.2, "measure": 0.5},
//     {"expect": "on_rate_mean", "at": 2400, "min": 1e5, "max": 1e8},
//     {"record": 2},
//     {"capture": true}]}
//
// Paths are relative to the sequence's folder. An expect tests the last
// measure, or the last sweep (every row, or the row "at" one value).
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/sequences/sweep.h"

namespace Zelvar_Core::bench {

// A sequence refused before it ran: "Step 3: VTH_ON: 5000 is out of range 0..4095".
class SequenceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class StepKind { Program, Set, Wait, Measure, Sweep, Record, Capture, Expect };

struct Step {
  StepKind kind;
  int number = 0;    // 1-based, as the file lists them
  std::string path;  // program: the bitstream, made absolute
  std::string name;  // set: the register
  std::int64_t value = 0;
  double seconds = 0;  // wait, measure, record
  SweepPlan sweep;
  std::string measurement;  // expect
  std::string unit;         // expect: the measurement's, as the board's channels give it
  double min = 0, max = 0;
  std::optional<std::int64_t> at;
  // "set VTH_ON 2300", "sweep VTH_ON 2000..2800 (5 values)", ...
  std::string describe() const;
};

struct Sequence {
  std::string path;
  std::string name;
  std::vector<Step> steps;
};

// Reads the file as load_sequence does (a regular file of JSON, not too
// large), before any board is reached; throws SequenceError.
void check_sequence_file(const std::string& path);
// Reads and checks the whole file against the bench's registers.
Sequence load_sequence(const std::string& path, BenchActions& bench);

}  // namespace Zelvar_Core::bench
