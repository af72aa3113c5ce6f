#include "bench/sequences/sequence.h"

#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// The one key that names the step's kind (a sweep holds "measure" as a field).
StepKind kind_of(const json& item, int number) {
  if (!item.is_object()) refuse(number, "a step must be an object such as {\"wait\": 1}");
  std::vector<StepKind> kinds;
  for (const auto& [key, value] : item.items())
    if (kKinds.count(key) && !(key == "measure" && item.contains("sweep")))
      kinds.push_back(kKinds.at(key));
  if (kinds.empty())
    refuse(number,
           "it names no step (program, set, wait, measure, sweep, "
           "record, capture or expect)");
  if (kinds.size() > 1) refuse(number, "it names more than one step");
  for (const auto& [key, value] : item.items())
    if (!kFields.at(kinds.front()).count(key))
      refuse(number, "unknown field \"" + key + "\" in a " + item.items().begin().key() + " step");
  return kinds.front();
}

std::string bitstream_of(const json& item, int number, const fs::path& folder) {
  if (!item["program"].is_string()) refuse(number, "program needs a bitstream path");
  fs::path path = item["program"].get<std::string>();
  if (path.is_relative()) path = folder / path;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status))
    refuse(number, "the bitstream " + path.string() +
                       " does not exist; pravel --sample-bitstream " + path.string() +
                       " writes a sample one there");
  if (fs::is_directory(status)) refuse(number, "the bitstream " + path.string() + " is a folder");
  if (!fs::is_regular_file(status))
    refuse(number, "the bitstream " + path.string() + " is not a regular file");
  return path.lexically_normal().string();
}

std::vector<std::int64_t> sweep_values(const json& item, int number, const Register& r) {
  if (item.contains("values")) {
    if (!item["values"].is_array() || item["values"].empty())
      refuse(number, "values must be a list of integers");
    if (item["values"].size() > SweepPlan::kMaxValues)
      refuse(number,
             fmt::format("a sweep may have at most {} values", count_text(SweepPlan::kMaxValues)));
    std::vector<std::int64_t> values;
    for (const auto& v : item["values"]) values.push_back(checked_integer(v, number, r));
    return values;
  }
  for (const char* key : {"start", "stop", "step"})
    if (!item.contains(key)) refuse(number, std::string("a sweep needs ") + key + " (or values)");
  try {
    // The ends are checked against the register before any value is made.
    return SweepPlan::range(r, checked_integer(item["start"], number, r),
                            checked_integer(item["stop"], number, r),
                            integer_of(item["step"], number, "step"));
  } catch (const RangeError& e) {
    refuse(number, e.what());
  } catch (const std::invalid_argument& e) {
    refuse(number, std::string("the sweep's range is wrong: ") + e.what());
  }
}

SweepPlan sweep_of(const json& item, int number, BenchActions& bench) {
  const Register r = register_of(item["sweep"], number, bench);
  SweepPlan plan;
  plan.name = r.name;
  plan.values = sweep_values(item, number, r);
  if (item.contains("settle")) plan.settle = seconds_of(item["settle"], number, "settle", 0);
  if (item.contains("measure")) plan.measure = seconds_of(item["measure"], number, "measure", 0.2);
  const std::string problem = check_sweep(plan, bench);
  if (!problem.empty()) refuse(number, problem);
  return plan;
}

void read_expect(const json& item, int number, Step& step,
                 const std::vector<AdcChannelDeclaration>& channels) {
  if (!item["expect"].is_string()) refuse(number, "expect needs a measurement name");
  step.measurement = item["expect"].get<std::string>();
  // The board's own channels: an AER-320 has no vddio_mean.
  const auto names = Measurement::names(channels);
  if (std::find(names.begin(), names.end(), step.measurement) == names.end())
    refuse(number, "no measurement is named " + step.measurement);
  step.unit = Measurement::unit(step.measurement, channels);
  if (!item.contains("min") || !item.contains("max"))
    refuse(number, "expect needs a min and a max");
  step.min = number_of(item["min"], number, "min");
  step.max = number_of(item["max"], number, "max");
  if (step.min > step.max) refuse(number, "min is greater than max");
  if (item.contains("at")) step.at = integer_of(item["at"], number, "at");
}

Step parse_step(const json& item, int number, const fs::path& folder, BenchActions& bench) {
  Step step;
  step.kind = kind_of(item, number);
  step.number = number;
  switch (step.kind) {
    case StepKind::Program:
      step.path = bitstream_of(item, number, folder);
      break;
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
    case StepKind::Sweep:
      step.sweep = sweep_of(item, number, bench);
      break;
    case StepKind::Expect:
      read_expect(item, number, step, bench.declaration().adc_channels);
      break;
  }
  return step;
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
      return fmt::format("expect {} in {:g}..{:g}{}{}", measurement, min, max,
                         unit.empty() ? "" : " " + unit, at ? fmt::format(" at {}", *at) : "");
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

void check_sequence_file(const std::string& path) { read_sequence_file(path); }

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

}  // namespace Zelvar_Core::bench
