#include "bench/sequences/sequence.h"

#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "bench/board/registers.h"

namespace Zelvar_Core::bench {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::map<std::string, StepKind> kKinds = {
    {"program", StepKind::Program}, {"set", StepKind::Set},      {"wait", StepKind::Wait},
    {"measure", StepKind::Measure}, {"sweep", StepKind::Sweep},  {"record", StepKind::Record},
    {"capture", StepKind::Capture}, {"expect", StepKind::Expect}};

const std::map<StepKind, std::set<std::string>> kFields = {
    {StepKind::Program, {"program"}},
    {StepKind::Set, {"set", "value"}},
    {StepKind::Wait, {"wait"}},
    {StepKind::Measure, {"measure"}},
    {StepKind::Sweep, {"sweep", "start", "stop", "step", "values", "settle", "measure"}},
    {StepKind::Record, {"record"}},
    {StepKind::Capture, {"capture"}},
    {StepKind::Expect, {"expect", "min", "max", "at"}}};

// Refuses step `number` with one sentence.
[[noreturn]] void refuse(int number, const std::string& why) {
  throw SequenceError(fmt::format("Step {}: {}", number, why));
}

double seconds_of(const json& v, int number, const char* what, double lowest) {
  if (!v.is_number()) refuse(number, fmt::format("{} must be a number of seconds", what));
  const double s = v.get<double>();
  if (!(s >= lowest) || s > 86400)
    refuse(number, fmt::format("{} must be {:g} to 86400 seconds", what, lowest));
  return s;
}

// The integer `v` within the range of `r` (a register, or any bounded
// number named by r.name), refused in the words the board would use. A
// number beyond 64 bits is refused as out of range, never wrapped.
std::int64_t checked_integer(const json& v, int number, const Register& r) {
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (std::isfinite(d) && std::floor(d) == d && std::fabs(d) >= 0x1p63)
      refuse(number, out_of_range_text(r, v.dump()));
  }
  if (!v.is_number_integer()) refuse(number, r.name + " must be an integer");
  try {
    return parse_register_value(r, v.dump());
  } catch (const std::out_of_range& e) {
    refuse(number, e.what());
  }
}

std::int64_t integer_of(const json& v, int number, const std::string& what) {
  return checked_integer(v, number, Register{what, 0, INT64_MIN, INT64_MAX});
}

double number_of(const json& v, int number, const char* what) {
  if (!v.is_number()) refuse(number, std::string(what) + " must be a number");
  const double d = v.get<double>();
  if (!std::isfinite(d)) refuse(number, std::string(what) + " must be a finite number");
  return d;
}

Register register_of(const json& v, int number, BenchActions& bench) {
  if (!v.is_string()) refuse(number, "the register must be named by a text");
  try {
    return bench.register_named(v.get<std::string>());
  } catch (const std::out_of_range&) {
    refuse(number, "the board has no register, DAC or signal named " + v.get<std::string>());
  }
}

Step parse_step(const json& item, int number, const fs::path& folder, BenchActions& bench) {
  if (!item.is_object()) refuse(number, "a step must be an object such as {\"wait\": 1}");
  // The kind is the one key that names a step; a sweep holds "measure" as a field.
  std::vector<StepKind> kinds;
  for (const auto& [key, value] : item.items())
    if (kKinds.count(key) && !(key == "measure" && item.contains("sweep")))
      kinds.push_back(kKinds.at(key));
  if (kinds.empty())
    refuse(number,
           "it names no step (program, set, wait, measure, sweep, "
           "record, capture or expect)");
  if (kinds.size() > 1) refuse(number, "it names more than one step");
  Step step;
  step.kind = kinds.front();
  step.number = number;
  for (const auto& [key, value] : item.items())
    if (!kFields.at(step.kind).count(key))
      refuse(number, "unknown field \"" + key + "\" in a " + item.items().begin().key() + " step");
  switch (step.kind) {
    case StepKind::Program: {
      if (!item["program"].is_string()) refuse(number, "program needs a bitstream path");
      fs::path path = item["program"].get<std::string>();
      if (path.is_relative()) path = folder / path;
      std::error_code error;
      const fs::file_status status = fs::status(path, error);
      if (!fs::exists(status)) refuse(number, "the bitstream " + path.string() + " does not exist");
      if (fs::is_directory(status))
        refuse(number, "the bitstream " + path.string() + " is a folder");
      if (!fs::is_regular_file(status))
        refuse(number, "the bitstream " + path.string() + " is not a regular file");
      step.path = path.lexically_normal().string();
      break;
    }
    case StepKind::Set: {
      const Register r = register_of(item["set"], number, bench);
      if (!item.contains("value")) refuse(number, "set needs a value");
      step.name = r.name;
      step.value = checked_integer(item["value"], number, r);
      break;
    }
    case StepKind::Wait:
      step.seconds = seconds_of(item["wait"], number, "wait", 0);
      break;
    case StepKind::Measure:
      step.seconds = seconds_of(item["measure"], number, "measure", 0.2);
      break;
    case StepKind::Record:
      step.seconds = seconds_of(item["record"], number, "record", 0.01);
      break;
    case StepKind::Capture:
      break;
    case StepKind::Sweep: {
      const Register r = register_of(item["sweep"], number, bench);
      step.sweep.name = r.name;
      if (item.contains("values")) {
        if (!item["values"].is_array() || item["values"].empty())
          refuse(number, "values must be a list of integers");
        if (item["values"].size() > SweepPlan::kMaxValues)
          refuse(number, fmt::format("a sweep may have at most {} values",
                                     count_text(SweepPlan::kMaxValues)));
        for (const auto& v : item["values"])
          step.sweep.values.push_back(checked_integer(v, number, r));
      } else {
        for (const char* key : {"start", "stop", "step"})
          if (!item.contains(key))
            refuse(number, std::string("a sweep needs ") + key + " (or values)");
        try {
          // The ends are checked against the register before any value is made.
          step.sweep.values = SweepPlan::range(r, checked_integer(item["start"], number, r),
                                               checked_integer(item["stop"], number, r),
                                               integer_of(item["step"], number, "step"));
        } catch (const RangeError& e) {
          refuse(number, e.what());
        } catch (const std::invalid_argument& e) {
          refuse(number, std::string("the sweep's range is wrong: ") + e.what());
        }
      }
      if (item.contains("settle"))
        step.sweep.settle = seconds_of(item["settle"], number, "settle", 0);
      if (item.contains("measure"))
        step.sweep.measure = seconds_of(item["measure"], number, "measure", 0.2);
      const std::string problem = check_sweep(step.sweep, bench);
      if (!problem.empty()) refuse(number, problem);
      break;
    }
    case StepKind::Expect: {
      if (!item["expect"].is_string()) refuse(number, "expect needs a measurement name");
      step.measurement = item["expect"].get<std::string>();
      const auto& names = Measurement::names();
      if (std::find(names.begin(), names.end(), step.measurement) == names.end())
        refuse(number, "no measurement is named " + step.measurement);
      if (!item.contains("min") || !item.contains("max"))
        refuse(number, "expect needs a min and a max");
      step.min = number_of(item["min"], number, "min");
      step.max = number_of(item["max"], number, "max");
      if (step.min > step.max) refuse(number, "min is greater than max");
      if (item.contains("at")) step.at = integer_of(item["at"], number, "at");
      break;
    }
  }
  return step;
}

std::string number_text(double value) {
  return std::isfinite(value) ? fmt::format("{:g}", value) : "unavailable";
}

std::string measurement_text(const Measurement& m) {
  return fmt::format("ON {} (sd {}), OFF {} (sd {})", rate_text(m.on_mean), rate_text(m.on_std),
                     rate_text(m.off_mean), rate_text(m.off_std));
}

}  // namespace

std::string Step::describe() const {
  switch (kind) {
    case StepKind::Program:
      return "program " + path;
    case StepKind::Set:
      return fmt::format("set {} {}", name, value);
    case StepKind::Wait:
      return fmt::format("wait {:g} s", seconds);
    case StepKind::Measure:
      return fmt::format("measure {:g} s", seconds);
    case StepKind::Sweep:
      return fmt::format("sweep {} {}..{} ({} values)", sweep.name, sweep.values.front(),
                         sweep.values.back(), sweep.values.size());
    case StepKind::Record:
      return fmt::format("record {:g} s", seconds);
    case StepKind::Capture:
      return "capture";
    case StepKind::Expect:
      return fmt::format("expect {} in {:g}..{:g}{}", measurement, min, max,
                         at ? fmt::format(" at {}", *at) : "");
  }
  return "";
}

namespace {

constexpr std::uintmax_t kMaxSequenceBytes = 4u << 20;

// The file's JSON. Every failure is a refusal: the file's kind, its size,
// its syntax, and numbers it cannot hold (named with their step).
json read_sequence_file(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status))
    throw SequenceError("Cannot read the sequence " + path + ": no such file");
  if (fs::is_directory(status))
    throw SequenceError("Cannot read the sequence " + path + ": it is a folder");
  // A named pipe or a device would block or never end: only files are read.
  if (!fs::is_regular_file(status))
    throw SequenceError("Cannot read the sequence " + path + ": it is not a regular file");
  const std::uintmax_t size = fs::file_size(path, error);
  if (error || size > kMaxSequenceBytes)
    throw SequenceError("The sequence " + path + " is larger than " + size_text(kMaxSequenceBytes) +
                        ": it is not a test sequence");
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) throw SequenceError("Cannot read the sequence " + path);
  // Which step the parser is in, to name it when a number cannot be held.
  int step = 0;
  bool in_steps = false;
  const json::parser_callback_t follow = [&](int depth, json::parse_event_t event, json& parsed) {
    if (depth == 1 && event == json::parse_event_t::key) in_steps = parsed == "steps";
    if (depth == 2 && in_steps && event == json::parse_event_t::object_start) ++step;
    return true;
  };
  try {
    return json::parse(text, follow);
  } catch (const json::out_of_range& e) {
    const std::string what = e.what();
    const auto quote = what.find('\'');
    const std::string number =
        quote == std::string::npos ? "" : what.substr(quote + 1, what.rfind('\'') - quote - 1);
    const std::string problem = "the number " + number + " is too large for any setting";
    if (step > 0) throw SequenceError(fmt::format("Step {}: {}", step, problem));
    throw SequenceError("The sequence " + path + ": " + problem);
  } catch (const json::exception& e) {
    const auto* parse = dynamic_cast<const json::parse_error*>(&e);
    throw SequenceError("The sequence " + path + " is not valid JSON" +
                        (parse ? " (at byte " + std::to_string(parse->byte) + ")" : ""));
  }
}

Sequence checked_sequence(const std::string& path, const json& file, BenchActions& bench) {
  if (!file.is_object() || !file.contains("steps") || !file["steps"].is_array())
    throw SequenceError("The sequence " + path + " has no \"steps\" list");
  for (const auto& [key, value] : file.items())
    if (key != "steps" && key != "name")
      throw SequenceError("The sequence " + path + " has an unknown field \"" + key + "\"");
  Sequence sequence;
  sequence.path = path;
  if (file.contains("name") && !file["name"].is_string())
    throw SequenceError("The sequence " + path + " has a \"name\" that is not a text");
  sequence.name = file.value("name", fs::path(path).stem().string());
  const fs::path folder = fs::absolute(path).parent_path();
  int number = 0;
  const Step* measured = nullptr;  // the last measure or sweep so far
  for (const auto& item : file["steps"])
    sequence.steps.push_back(parse_step(item, ++number, folder, bench));
  for (const Step& step : sequence.steps) {
    if (step.kind == StepKind::Measure || step.kind == StepKind::Sweep) measured = &step;
    if (step.kind != StepKind::Expect) continue;
    if (measured == nullptr) refuse(step.number, "expect comes before any measure or sweep");
    if (step.at && measured->kind != StepKind::Sweep)
      refuse(step.number, "\"at\" needs a sweep before the expect");
    if (step.at && std::find(measured->sweep.values.begin(), measured->sweep.values.end(),
                             *step.at) == measured->sweep.values.end())
      refuse(step.number,
             fmt::format("the sweep of step {} has no value {}", measured->number, *step.at));
  }
  if (sequence.steps.empty()) throw SequenceError("The sequence " + path + " has no steps");
  return sequence;
}

}  // namespace

Sequence load_sequence(const std::string& path, BenchActions& bench) {
  try {
    return checked_sequence(path, read_sequence_file(path), bench);
  } catch (const SequenceError&) {
    throw;
  } catch (const std::exception& e) {
    // Whatever else goes wrong in reading, nothing runs and the user hears why.
    throw SequenceError("The sequence " + path + " cannot be read: " + e.what());
  }
}

namespace {

// A row for a step that measures nothing: what it did, and the settings after it.
ReportRow step_row(const Step& step, const char* kind, std::string note, BenchActions& bench) {
  ReportRow row;
  row.step = step.number;
  row.kind = kind;
  row.note = std::move(note);
  try {
    row.in_force = bench.in_force();
  } catch (const std::exception&) {
    // A board that stopped answering: the row says what happened without them.
  }
  return row;
}

std::string recording_text(const RecordingStats& stats) {
  std::string text =
      fmt::format("{} ({}, {} events, {} dropped)", stats.path, size_text(stats.bytes),
                  count_text(stats.events), count_text(stats.dropped));
  if (stats.lost_by_board > 0) text += "; " + lost_by_board_text(stats.lost_by_board);
  return text;
}

}  // namespace

SequenceReport run_sequence(const Sequence& sequence, BenchActions& bench,
                            const SequenceObserver& observer) {
  SequenceReport report;
  std::vector<ReportRow> last;  // the rows of the last measure or sweep
  auto add = [&](ReportRow row) {
    report.rows.push_back(row);
    if (observer.row) observer.row(row);
  };
  const Step* current = nullptr;
  try {
    for (const Step& step : sequence.steps) {
      current = &step;
      if (observer.started) observer.started(step);
      std::string outcome = "done";
      switch (step.kind) {
        case StepKind::Program: {
          bench.program(step.path);
          ReportRow row = step_row(step, "program", step.path, bench);
          outcome = "done: the board holds " + setting(row.in_force, "design");
          row.note = outcome;
          add(row);
          break;
        }
        case StepKind::Set: {
          bench.set(step.name, step.value);
          ReportRow row = step_row(step, "set", "", bench);
          row.parameter = step.name;
          row.value = step.value;
          add(row);
          break;
        }
        case StepKind::Wait:
          bench.wait(step.seconds);
          break;
        case StepKind::Measure: {
          ReportRow row;
          row.step = step.number;
          row.kind = "measure";
          row.measurement = bench.measure(step.seconds);
          row.in_force = row.measurement->in_force;
          outcome = measurement_text(*row.measurement);
          last = {row};
          add(row);
          break;
        }
        case StepKind::Sweep: {
          last.clear();
          const SweepOutcome swept =
              run_sweep(step.sweep, bench, [&](std::size_t, const SweepRow& r) {
                ReportRow row;
                row.step = step.number;
                row.kind = "sweep";
                row.parameter = step.sweep.name;
                row.value = r.value;
                row.measurement = r.measurement;
                row.in_force = r.measurement.in_force;
                last.push_back(row);
                add(row);
              });
          if (!swept.completed) throw std::runtime_error(swept.ended + "; " + swept.restored);
          outcome = fmt::format("{} rows; {}", swept.rows.size(), swept.restored);
          break;
        }
        case StepKind::Record: {
          const RecordingStats stats = bench.record(step.seconds);
          outcome = recording_text(stats);
          add(step_row(step, "record", outcome, bench));
          break;
        }
        case StepKind::Capture:
          outcome = bench.capture();
          add(step_row(step, "capture", outcome, bench));
          break;
        case StepKind::Expect: {
          std::vector<std::string> verdicts;
          bool all = true;
          for (const ReportRow& source : last) {
            if (step.at && source.value != step.at) continue;
            ReportRow row;
            row.step = step.number;
            row.kind = "expect";
            row.parameter = source.parameter;
            row.value = source.value;
            row.expected = step.measurement;
            row.min = step.min;
            row.max = step.max;
            row.measured = source.measurement->value(step.measurement);
            row.in_force = source.in_force;
            // An unavailable measurement (NaN) holds no expectation.
            row.passed = row.measured >= step.min && row.measured <= step.max;
            all = all && row.passed;
            ++report.expects;
            report.failed += !row.passed;
            verdicts.push_back(
                fmt::format("{}{}", number_text(row.measured),
                            row.value ? fmt::format(" at {} {}", row.parameter, *row.value) : ""));
            add(row);
          }
          outcome = fmt::format("{} ({})", all ? "pass" : "FAIL", fmt::join(verdicts, ", "));
          break;
        }
      }
      if (observer.done) observer.done(step, outcome);
    }
    report.completed = true;
  } catch (const Aborted&) {
    report.ended = fmt::format("aborted at step {} ({})", current->number, current->describe());
  } catch (const std::exception& e) {
    report.ended = fmt::format("ended at step {} ({}): {}", current ? current->number : 0,
                               current ? current->describe() : "", e.what());
  }
  try {
    bench.finish();
  } catch (const std::exception&) {
  }
  return report;
}

namespace {

std::string cell(double value, const char* format) {
  return std::isfinite(value) ? fmt::format(fmt::runtime(format), value) : "";
}

}  // namespace

std::string report_csv(const Sequence& sequence, const SequenceReport& report,
                       const Settings& settings) {
  std::string csv = "# sequence " + sequence.path + "\n";
  // Before the run; every row below carries the settings in force for it.
  std::vector<std::string> keys, before;
  for (const auto& [key, value] : settings) {
    if (key == "date" || key == "board") {
      csv += "# " + key + " " + value + "\n";
    } else {
      keys.push_back(key);
      before.push_back(key + " " + value);
    }
  }
  csv += "# before the run: " + fmt::format("{}", fmt::join(before, ", ")) + "\n";
  csv += fmt::format("# result {}\n",
                     report.completed ? fmt::format("{} of {} expectations held",
                                                    report.expects - report.failed, report.expects)
                                      : report.ended);
  csv += "step,kind,parameter,value";
  for (const auto& column : measurement_columns()) csv += "," + column;
  csv += ",expect,min,max,measured,result,note";
  for (const auto& key : keys) csv += "," + key;
  csv += "\n";
  for (const ReportRow& row : report.rows) {
    csv += fmt::format("{},{},{},{}", row.step, row.kind, row.parameter,
                       row.value ? std::to_string(*row.value) : "");
    if (row.measurement && row.kind != "expect")
      csv += measurement_cells(*row.measurement);
    else
      csv += std::string(measurement_columns().size(), ',');
    if (row.kind == "expect")
      csv += fmt::format(",{},{:g},{:g},{},{}", row.expected, row.min, row.max,
                         cell(row.measured, "{:g}"), row.passed ? "pass" : "fail");
    else
      csv += ",,,,,";
    csv += "," + csv_text(row.note);
    for (const auto& key : keys) csv += "," + csv_text(setting(row.in_force, key));
    csv += "\n";
  }
  return csv;
}

}  // namespace Zelvar_Core::bench
