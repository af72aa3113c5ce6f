// Running a checked sequence on the bench, step by step, into a report.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/sequences/sequence.h"

namespace Zelvar_Core::bench {

// One row of the report: a measurement (of a measure step or one sweep
// step), the verdict of an expect, or what a program, set, record or
// capture step did.
struct ReportRow {
  int step = 0;
  std::string kind;  // "measure", "sweep" or "expect"
  std::string parameter;
  std::optional<std::int64_t> value;
  std::optional<Measurement> measurement;
  std::string expected;  // the measurement an expect tests
  std::string unit;      // its unit, as the board's channels give it
  double min = 0, max = 0, measured = 0;
  bool passed = false;
  std::string note;   // what a program, record or capture step did
  Settings in_force;  // the design, mode and registers for this row
};

struct SequenceReport {
  std::vector<ReportRow> rows;
  bool completed = false;
  std::string ended;                       // why the run stopped early, naming the step
  int expect_steps = 0, failed_steps = 0;  // the expect steps run, those that failed
  int expects = 0, failed = 0;             // the rows they checked, those out of range
  // 0 when every expect held, 1 when one failed, 2 when the run did not end.
  int exit_code() const { return !completed ? 2 : failed > 0 ? 1 : 0; }
};

// Hears the run on its thread: each step as it starts and as it ends (its
// outcome in a sentence), and each row as it is measured.
struct SequenceObserver {
  std::function<void(const Step&)> started;
  std::function<void(const Step&, const std::string&)> done;
  std::function<void(const ReportRow&)> row;
};

SequenceReport run_sequence(const Sequence& sequence, BenchActions& bench,
                            const SequenceObserver& observer);

}  // namespace Zelvar_Core::bench
