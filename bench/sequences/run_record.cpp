#include "bench/sequences/run_record.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "Zelvar_Core/version.h"

namespace Zelvar_Core::bench {

using results::Outcome;

results::FileRecord file_record(const std::string& role, const std::string& path) {
  namespace fs = std::filesystem;
  results::FileRecord file;
  file.role = role;
  file.path = fs::absolute(path).lexically_normal().string();
  std::error_code error;
  file.size = fs::file_size(file.path, error);
  if (error) throw std::runtime_error(file.path + " cannot be read: " + error.message());
  file.sha256 = results::sha256_of_file(file.path);
  return file;
}

std::string chip_id(BenchActions& bench) {
  try {
    const Register r = bench.register_named("CHIP_ID");
    if (!r.read_only) return "";
    return fmt::format("0x{:04X}", bench.get("CHIP_ID"));
  } catch (const std::exception&) {
    return "";  // a board without one, or one that cannot tell it now
  }
}

results::TestRecord record_start(const std::string& run_id, const std::string& kind,
                                 BenchActions& bench, const RunSite& site) {
  results::TestRecord record;
  record.run_id = run_id;
  record.kind = kind;
  record.started = results::utc_now_micros();
  record.ended = record.started;
  record.station = site.station.empty() ? results::default_station_name() : site.station;
  record.operator_name = site.operator_name;
  const std::string chip = chip_id(bench);
  record.dut = chip.empty() ? site.dut : chip;
  // A board that cannot tell its settings or serial now (the self-test
  // starts on a board that may be gone) leaves them empty.
  try {
    record.settings_before = bench.settings();
  } catch (const std::exception&) {
  }
  record.board_identity = setting(record.settings_before, "board");
  try {
    record.board_serial = bench.serial();
  } catch (const std::exception&) {
  }
  record.design = setting(record.settings_before, "design");
  record.bench_version = kVersion;
  record.outcome = Outcome::Incomplete;
  return record;
}

RecordingStats FileNotingBench::record(double seconds) {
  try {
    const RecordingStats stats = bench_.record(seconds);
    const std::lock_guard lock(mutex_);
    files_.emplace_back("recording", stats.path);
    return stats;
  } catch (const RecordingCut& cut) {
    if (!cut.left.path.empty()) {
      const std::lock_guard lock(mutex_);
      files_.emplace_back("recording", cut.left.path);
    }
    throw;
  }
}

std::string FileNotingBench::capture() {
  const std::string path = bench_.capture();
  const std::lock_guard lock(mutex_);
  files_.emplace_back("capture", path);
  return path;
}

std::vector<std::pair<std::string, std::string>> FileNotingBench::files() const {
  const std::lock_guard lock(mutex_);
  return files_;
}

namespace {

results::UtcMicros utc_micros(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

const char* kind_name(StepKind kind) {
  switch (kind) {
    case StepKind::Program:
      return "program";
    case StepKind::Set:
      return "set";
    case StepKind::Wait:
      return "wait";
    case StepKind::Measure:
      return "measure";
    case StepKind::Sweep:
      return "sweep";
    case StepKind::Record:
      return "record";
    case StepKind::Capture:
      return "capture";
    case StepKind::Expect:
      return "expect";
  }
  return "";
}

// "on_rate_mean", or "on_rate_mean at VTH_ON 2400" for a sweep's row.
std::string measurement_name(const std::string& name, const std::string& parameter,
                             const std::optional<std::int64_t>& value) {
  return value ? fmt::format("{} at {} {}", name, parameter, *value) : name;
}

// Every finite value of a measurement, named and with its unit.
void add_measurements(std::vector<results::MeasurementRecord>& to, int step, const Measurement& m,
                      const std::string& parameter, const std::optional<std::int64_t>& value) {
  for (const std::string& name : Measurement::names(m.adc_channels)) {
    const double v = m.value(name);
    if (!std::isfinite(v)) continue;
    results::MeasurementRecord record;
    record.step = step;
    record.name = measurement_name(name, parameter, value);
    record.value = v;
    record.unit = Measurement::unit(name, m.adc_channels);
    to.push_back(std::move(record));
  }
}

Outcome ended_outcome(const std::string& ended) {
  return ended.rfind("aborted", 0) == 0 ? Outcome::Aborted : Outcome::Error;
}

// The files by path, size and SHA-256; one that cannot be read is named in `problems`.
void add_files(results::TestRecord& record,
               const std::vector<std::pair<std::string, std::string>>& files,
               std::vector<std::string>& problems) {
  for (const auto& [role, path] : files) {
    try {
      record.files.push_back(file_record(role, path));
    } catch (const std::runtime_error& e) {
      problems.push_back(e.what());
    }
  }
}

}  // namespace

SequenceRecord::SequenceRecord(results::TestRecord start, const Sequence& sequence,
                               std::function<void(const results::TestRecord&)> keep)
    : record_(std::move(start)), keep_(std::move(keep)) {
  record_.kind = "sequence";
  record_.sequence_path = std::filesystem::absolute(sequence.path).lexically_normal().string();
  try {
    record_.sequence_sha256 = results::sha256_of_file(record_.sequence_path);
  } catch (const std::runtime_error&) {
    // Read and checked whole a moment ago: a file gone since keeps its path only.
  }
  if (keep_) keep_(record_);
}

SequenceObserver SequenceRecord::observer(SequenceObserver inner) {
  SequenceObserver observer;
  observer.started = [this, inner](const Step& step) {
    started(step);
    if (inner.started) inner.started(step);
  };
  observer.done = [this, inner](const Step& step, const std::string& sentence) {
    done(step, sentence);
    if (inner.done) inner.done(step, sentence);
  };
  observer.row = [this, inner](const ReportRow& r) {
    row(r);
    if (inner.row) inner.row(r);
  };
  return observer;
}

void SequenceRecord::started(const Step& step) {
  current_ = &step;
  step_started_ = results::utc_now_micros();
}

void SequenceRecord::done(const Step& step, const std::string& sentence) {
  results::StepRecord record;
  record.number = step.number;
  record.kind = kind_name(step.kind);
  record.what = step.describe() + ": " + sentence;
  const bool failed =
      std::find(failed_steps_.begin(), failed_steps_.end(), step.number) != failed_steps_.end();
  record.outcome = failed ? Outcome::Fail : Outcome::Pass;
  record.started = step_started_;
  record.ended = results::utc_now_micros();
  record_.steps.push_back(std::move(record));
  record_.ended = record_.steps.back().ended;
  current_ = nullptr;
  if (keep_) keep_(record_);
}

void SequenceRecord::row(const ReportRow& r) {
  if ((r.kind == "measure" || r.kind == "sweep") && r.measurement) {
    add_measurements(record_.measurements, r.step, *r.measurement, r.parameter, r.value);
    return;
  }
  if (r.kind != "expect") return;
  if (!r.passed &&
      std::find(failed_steps_.begin(), failed_steps_.end(), r.step) == failed_steps_.end())
    failed_steps_.push_back(r.step);
  // The limits go on the value the expect tested; a value tested again
  // with other limits is listed again under the expect's step.
  const std::string name = measurement_name(r.expected, r.parameter, r.value);
  auto& all = record_.measurements;
  auto tested = std::find_if(all.rbegin(), all.rend(), [&](const results::MeasurementRecord& m) {
    return m.name == name && !m.low && !m.high;
  });
  results::MeasurementRecord* m = nullptr;
  if (tested != all.rend()) {
    m = &*tested;
  } else {
    all.emplace_back();
    m = &all.back();
    m->step = r.step;
    m->name = name;
    m->value = r.measured;
  }
  m->unit = r.unit;
  m->low = r.min;
  m->high = r.max;
  m->outcome = r.passed ? Outcome::Pass : Outcome::Fail;
}

const results::TestRecord& SequenceRecord::finish(
    const SequenceReport& report, const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<std::string> why;
  if (!report.completed) {
    const Outcome outcome = ended_outcome(report.ended);
    if (current_ != nullptr) {
      results::StepRecord step;
      step.number = current_->number;
      step.kind = kind_name(current_->kind);
      step.what = report.ended;
      step.outcome = outcome;
      step.started = step_started_;
      step.ended = results::utc_now_micros();
      record_.steps.push_back(std::move(step));
    }
    record_.outcome = outcome;
    why.push_back(report.ended);
  } else if (report.failed > 0) {
    record_.outcome = Outcome::Fail;
    for (const results::StepRecord& step : record_.steps)
      if (step.outcome == Outcome::Fail)
        why.push_back(fmt::format("step {} ({})", step.number, step.what));
  } else {
    record_.outcome = Outcome::Pass;
  }
  add_files(record_, files, why);
  record_.ended = results::utc_now_micros();
  record_.ended_because = fmt::format("{}", fmt::join(why, "; "));
  return record_;
}

namespace {

// A step and the measurements of each row, numbered from 1.
void add_sweep_rows(results::TestRecord& record, const SweepPlan& plan,
                    const std::vector<SweepRow>& rows,
                    const std::vector<AdcChannelDeclaration>& channels) {
  record.kind = "sweep";
  int number = 0;
  for (const SweepRow& row : rows) {
    results::StepRecord step;
    step.number = ++number;
    step.kind = "sweep";
    step.what = fmt::format("{} {}{}: measured", plan.name, row.value,
                            plan.unit.empty() ? "" : " " + plan.unit);
    step.outcome = Outcome::Pass;
    step.started = utc_micros(row.started);
    step.ended = utc_micros(row.ended);
    record.steps.push_back(std::move(step));
    Measurement m = row.measurement;
    if (m.adc_channels.empty()) m.adc_channels = channels;
    add_measurements(record.measurements, number, m, plan.name, row.value);
  }
}

}  // namespace

results::TestRecord sweep_progress(results::TestRecord record, const SweepPlan& plan,
                                   const std::vector<SweepRow>& rows,
                                   const std::vector<AdcChannelDeclaration>& channels) {
  add_sweep_rows(record, plan, rows, channels);
  record.outcome = Outcome::Incomplete;
  if (!record.steps.empty()) record.ended = record.steps.back().ended;
  return record;
}

results::TestRecord sweep_record(results::TestRecord record, const SweepPlan& plan,
                                 const SweepOutcome& outcome,
                                 const std::vector<AdcChannelDeclaration>& channels,
                                 const std::vector<std::pair<std::string, std::string>>& files) {
  add_sweep_rows(record, plan, outcome.rows, channels);
  int number = static_cast<int>(record.steps.size());
  std::vector<std::string> why;
  if (outcome.completed) {
    record.outcome = Outcome::Pass;
  } else {
    results::StepRecord step;
    step.number = ++number;
    step.kind = "sweep";
    step.what = outcome.ended + "; " + outcome.restored;
    step.outcome = ended_outcome(outcome.ended);
    record.steps.push_back(step);
    record.outcome = step.outcome;
    why.push_back(step.what);
  }
  add_files(record, files, why);
  record.ended = results::utc_now_micros();
  record.ended_because = fmt::format("{}", fmt::join(why, "; "));
  return record;
}

results::TestRecord self_test_record(results::TestRecord record,
                                     const std::vector<SelfTestStep>& steps) {
  record.kind = "self-test";
  std::vector<std::string> failed, not_run;
  int number = 0;
  for (const SelfTestStep& s : steps) {
    results::StepRecord step;
    step.number = ++number;
    step.kind = s.name;
    step.started = utc_micros(s.started);
    step.ended = utc_micros(s.ended);
    switch (s.result) {
      case StepResult::Passed:
        step.outcome = Outcome::Pass;
        step.what = s.name + ": passed; " + s.detail;
        break;
      case StepResult::Failed:
        step.outcome = Outcome::Fail;
        step.what = s.name + ": FAILED; " + s.detail;
        failed.push_back(fmt::format("step {} ({}) failed: {}", number, s.name, s.detail));
        break;
      case StepResult::NotRun:
        step.outcome = Outcome::Error;
        step.what = s.name + ": " + s.detail;
        not_run.push_back(fmt::format("step {} ({}) {}", number, s.name, s.detail));
        break;
    }
    record.steps.push_back(std::move(step));
    for (const SelfTestValue& v : s.values) {
      results::MeasurementRecord m;
      m.step = number;
      m.name = v.name;
      m.value = v.value;
      m.unit = v.unit;
      m.low = v.low;
      m.high = v.high;
      const bool inside = std::isfinite(v.value) && (!v.low || v.value >= *v.low) &&
                          (!v.high || v.value <= *v.high);
      m.outcome = inside ? Outcome::Pass : Outcome::Fail;
      record.measurements.push_back(std::move(m));
    }
  }
  record.outcome = !not_run.empty()  ? Outcome::Error
                   : !failed.empty() ? Outcome::Fail
                                     : Outcome::Pass;
  failed.insert(failed.end(), not_run.begin(), not_run.end());
  record.ended = record.steps.empty() ? results::utc_now_micros() : record.steps.back().ended;
  if (record.ended < record.started) record.ended = record.started;
  record.ended_because = fmt::format("{}", fmt::join(failed, "; "));
  return record;
}

}  // namespace Zelvar_Core::bench
