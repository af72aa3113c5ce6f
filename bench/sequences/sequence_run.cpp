#include "bench/sequences/sequence_run.h"

#include <fmt/format.h>

#include <cmath>

namespace Zelvar_Core::bench {

namespace {

std::string number_text(double value) {
  return std::isfinite(value) ? fmt::format("{:g}", value) : "unavailable";
}

std::string measurement_text(const Measurement& m) {
  return fmt::format("ON {} (sd {}), OFF {} (sd {})", rate_text(m.on_mean), rate_text(m.on_std),
                     rate_text(m.off_mean), rate_text(m.off_std));
}

std::string recording_text(const RecordingStats& stats) {
  std::string text =
      fmt::format("{} ({}, {} events, {} dropped)", stats.path, size_text(stats.bytes),
                  count_text(stats.events), count_text(stats.dropped));
  if (const std::string lost = lost_during_text(stats); !lost.empty()) text += "; " + lost;
  return text;
}

// One run of a sequence: each step carried out on the bench, its rows
// added to the report, its outcome told in a sentence.
class SequenceRun {
 public:
  SequenceRun(BenchActions& bench, const SequenceObserver& observer, SequenceReport& report)
      : bench_(bench), observer_(observer), report_(report) {}

  // Carries the step out; returns its outcome.
  std::string carry_out(const Step& step) {
    switch (step.kind) {
      case StepKind::Program:
        return program(step);
      case StepKind::Set:
        bench_.set(step.name, step.value);
        add(step_row(step, "set", ""), step.name, step.value);
        return "done";
      case StepKind::Wait:
        bench_.wait(step.seconds);
        return "done";
      case StepKind::Measure:
        return measure(step);
      case StepKind::Sweep:
        return sweep(step);
      case StepKind::Record:
        return record(step);
      case StepKind::Capture: {
        const std::string outcome = bench_.capture();
        add(step_row(step, "capture", outcome));
        return outcome;
      }
      case StepKind::Expect:
        return expect(step);
    }
    return "done";
  }

  // What a step that ended early left behind, for the run's end: "" for nothing.
  std::string kept;

 private:
  // A row for a step that measures nothing: what it did, and the settings after it.
  ReportRow step_row(const Step& step, const char* kind, std::string note) {
    ReportRow row;
    row.step = step.number;
    row.kind = kind;
    row.note = std::move(note);
    try {
      row.in_force = bench_.in_force();
    } catch (const std::exception&) {
      // A board that stopped answering: the row says what happened without them.
    }
    return row;
  }

  void add(ReportRow row, const std::string& parameter = "",
           std::optional<std::int64_t> value = std::nullopt) {
    if (!parameter.empty()) row.parameter = parameter;
    if (value) row.value = value;
    report_.rows.push_back(row);
    if (observer_.row) observer_.row(row);
  }

  ReportRow measured_row(const Step& step, const char* kind, const Measurement& m) {
    ReportRow row;
    row.step = step.number;
    row.kind = kind;
    row.measurement = m;
    row.in_force = m.in_force;
    return row;
  }

  std::string program(const Step& step) {
    bench_.program(step.path);
    ReportRow row = step_row(step, "program", "");
    row.note = "done: the board holds " + setting(row.in_force, "design");
    add(row);
    return row.note;
  }

  // A recording cut short is kept: its row and the run's end name it.
  std::string record(const Step& step) {
    RecordingStats stats;
    try {
      stats = bench_.record(step.seconds);
    } catch (const RecordingCut& cut) {
      kept = cut.what();
      add(step_row(step, "record", "cut short: " + kept));
      std::rethrow_exception(cut.cause);
    }
    const std::string outcome = recording_text(stats);
    add(step_row(step, "record", outcome));
    return outcome;
  }

  std::string measure(const Step& step) {
    const ReportRow row = measured_row(step, "measure", bench_.measure(step.seconds));
    last_ = {row};
    add(row);
    return measurement_text(*row.measurement);
  }

  std::string sweep(const Step& step) {
    last_.clear();
    const SweepOutcome swept = run_sweep(step.sweep, bench_, [&](std::size_t, const SweepRow& r) {
      ReportRow row = measured_row(step, "sweep", r.measurement);
      row.parameter = step.sweep.name;
      row.value = r.value;
      last_.push_back(row);
      add(row);
    });
    if (!swept.completed) throw std::runtime_error(swept.ended + "; " + swept.restored);
    return fmt::format("{} rows; {}", swept.rows.size(), swept.restored);
  }

  // Tests the last measure (or every row of the last sweep, or the one at a value).
  std::string expect(const Step& step) {
    std::vector<std::string> verdicts;
    bool all = true;
    for (const ReportRow& source : last_) {
      if (step.at && source.value != step.at) continue;
      ReportRow row = source;
      row.step = step.number;
      row.kind = "expect";
      row.measurement.reset();
      row.expected = step.measurement;
      row.unit = step.unit;
      row.min = step.min;
      row.max = step.max;
      row.measured = source.measurement->value(step.measurement);
      // An unavailable measurement (NaN) holds no expectation.
      row.passed = row.measured >= step.min && row.measured <= step.max;
      all = all && row.passed;
      ++report_.expects;
      report_.failed += !row.passed;
      // "1.8 V" for one measure; a sweep's rows say the unit and the
      // parameter once, then each value: "events/s at VTH_ON 2000: 2.1e+06,
      // 2200: 1.4e+06", so that the line stays readable in the window.
      const std::string& unit = step.unit;
      if (!row.value)
        verdicts.push_back(number_text(row.measured) +
                           (std::isfinite(row.measured) ? " " + unit : ""));
      else
        verdicts.push_back(fmt::format(
            "{}{}: {}",
            verdicts.empty() ? fmt::format("{} at {} ", unit, row.parameter) : std::string(),
            *row.value, number_text(row.measured)));
      add(row);
    }
    ++report_.expect_steps;
    report_.failed_steps += !all;
    return fmt::format("{} ({})", all ? "pass" : "FAIL", fmt::join(verdicts, ", "));
  }

  BenchActions& bench_;
  const SequenceObserver& observer_;
  SequenceReport& report_;
  std::vector<ReportRow> last_;  // the rows of the last measure or sweep
};

}  // namespace

SequenceReport run_sequence(const Sequence& sequence, BenchActions& bench,
                            const SequenceObserver& observer) {
  SequenceReport report;
  SequenceRun run(bench, observer, report);
  const Step* current = nullptr;
  try {
    for (const Step& step : sequence.steps) {
      current = &step;
      if (observer.started) observer.started(step);
      const std::string outcome = run.carry_out(step);
      if (observer.done) observer.done(step, outcome);
    }
    report.completed = true;
  } catch (const Aborted&) {
    report.ended = fmt::format("aborted at step {} ({})", current->number, current->describe());
  } catch (const std::exception& e) {
    report.ended = fmt::format("ended at step {} ({}): {}", current ? current->number : 0,
                               current ? current->describe() : "", e.what());
  }
  if (!report.completed && !run.kept.empty()) report.ended += "; " + run.kept;
  try {
    bench.finish();
  } catch (const std::exception&) {
    // The run has ended and says how; a stream that would not stop is the board's to tell.
  }
  return report;
}

}  // namespace Zelvar_Core::bench
