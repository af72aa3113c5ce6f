#include "bench/sequences/sequence.h"

#include <fmt/format.h>

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

std::int64_t integer_of(const json& v, int number, const std::string& what) {
  if (!v.is_number_integer()) refuse(number, what + " must be an integer");
  return v.get<std::int64_t>();
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
      if (!fs::is_regular_file(path, error))
        refuse(number, "the bitstream " + path.string() + " does not exist");
      step.path = path.lexically_normal().string();
      break;
    }
    case StepKind::Set: {
      const Register r = register_of(item["set"], number, bench);
      if (!item.contains("value")) refuse(number, "set needs a value");
      step.name = r.name;
      step.value = integer_of(item["value"], number, "the value");
      if (step.value < r.min || step.value > r.max)
        refuse(number, out_of_range_text(r, std::to_string(step.value)));
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
        for (const auto& v : item["values"])
          step.sweep.values.push_back(integer_of(v, number, "every value"));
      } else {
        for (const char* key : {"start", "stop", "step"})
          if (!item.contains(key))
            refuse(number, std::string("a sweep needs ") + key + " (or values)");
        try {
          step.sweep.values = SweepPlan::range(integer_of(item["start"], number, "start"),
                                               integer_of(item["stop"], number, "stop"),
                                               integer_of(item["step"], number, "step"));
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
      if (!item.contains("min") || !item.contains("max") || !item["min"].is_number() ||
          !item["max"].is_number())
        refuse(number, "expect needs a min and a max");
      step.min = item["min"].get<double>();
      step.max = item["max"].get<double>();
      if (step.min > step.max) refuse(number, "min is greater than max");
      if (item.contains("at")) step.at = integer_of(item["at"], number, "at");
      break;
    }
  }
  return step;
}

std::string rate_text(double rate) {
  return rate >= 1e6 ? fmt::format("{:.2f} Mev/s", rate / 1e6)
                     : fmt::format("{:.1f} kev/s", rate / 1e3);
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

Sequence load_sequence(const std::string& path, BenchActions& bench) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SequenceError("Cannot read the sequence " + path);
  json file;
  try {
    file = json::parse(in);
  } catch (const json::parse_error& e) {
    throw SequenceError("The sequence " + path + " is not valid JSON (at byte " +
                        std::to_string(e.byte) + ")");
  }
  if (!file.is_object() || !file.contains("steps") || !file["steps"].is_array())
    throw SequenceError("The sequence " + path + " has no \"steps\" list");
  for (const auto& [key, value] : file.items())
    if (key != "steps" && key != "name")
      throw SequenceError("The sequence " + path + " has an unknown field \"" + key + "\"");
  Sequence sequence;
  sequence.path = path;
  sequence.name = file.value("name", fs::path(path).stem().string());
  const fs::path folder = fs::absolute(path).parent_path();
  int number = 0;
  const Step* measured = nullptr;  // the last measure or sweep so far
  for (const auto& item : file["steps"]) {
    sequence.steps.push_back(parse_step(item, ++number, folder, bench));
  }
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
        case StepKind::Program:
          bench.program(step.path);
          outcome = "done: the board holds " + bench.settings().at(2).second;
          break;
        case StepKind::Set:
          bench.set(step.name, step.value);
          break;
        case StepKind::Wait:
          bench.wait(step.seconds);
          break;
        case StepKind::Measure: {
          ReportRow row;
          row.step = step.number;
          row.kind = "measure";
          row.measurement = bench.measure(step.seconds);
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
                last.push_back(row);
                add(row);
              });
          if (!swept.completed) throw std::runtime_error(swept.ended + "; " + swept.restored);
          outcome = fmt::format("{} rows; {}", swept.rows.size(), swept.restored);
          break;
        }
        case StepKind::Record: {
          const RecordingStats stats = bench.record(step.seconds);
          outcome =
              fmt::format("{} ({}, {} events, {} dropped)", stats.path, size_text(stats.bytes),
                          count_text(stats.events), count_text(stats.dropped));
          break;
        }
        case StepKind::Capture:
          outcome = bench.capture();
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
            row.passed = row.measured >= step.min && row.measured <= step.max;
            all = all && row.passed;
            ++report.expects;
            report.failed += !row.passed;
            verdicts.push_back(
                fmt::format("{:g}{}", row.measured,
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

std::string report_csv(const Sequence& sequence, const SequenceReport& report,
                       const std::vector<std::pair<std::string, std::string>>& settings) {
  std::string csv = "# sequence " + sequence.path + "\n";
  for (const auto& [key, value] : settings) csv += "# " + key + " " + value + "\n";
  csv += fmt::format("# result {}\n",
                     report.completed ? fmt::format("{} of {} expectations held",
                                                    report.expects - report.failed, report.expects)
                                      : report.ended);
  csv += "step,kind,parameter,value";
  for (const auto& column : measurement_columns()) csv += "," + column;
  csv += ",expect,min,max,measured,result\n";
  for (const ReportRow& row : report.rows) {
    csv += fmt::format("{},{},{},{}", row.step, row.kind, row.parameter,
                       row.value ? std::to_string(*row.value) : "");
    if (row.measurement && row.kind != "expect") {
      const Measurement& m = *row.measurement;
      csv +=
          fmt::format(",{:.1f},{:.1f},{:.1f},{:.1f}", m.on_mean, m.on_std, m.off_mean, m.off_std);
      for (double adc : m.adc_means) csv += fmt::format(",{:.4f}", adc);
    } else {
      csv += std::string(measurement_columns().size(), ',');
    }
    if (row.kind == "expect")
      csv += fmt::format(",{},{:g},{:g},{:g},{}", row.expected, row.min, row.max, row.measured,
                         row.passed ? "pass" : "fail");
    else
      csv += ",,,,,";
    csv += "\n";
  }
  return csv;
}

}  // namespace Zelvar_Core::bench
