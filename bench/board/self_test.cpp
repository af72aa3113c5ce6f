#include "bench/board/self_test.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

namespace {

// What a check found: the problem ("" when it passed) and what it measured.
struct Finding {
  std::string problem, measured;
  std::vector<SelfTestValue> values = {};
};
using Check = std::function<Finding()>;

SelfTestStep run_step(const std::string& name, const Check& check) {
  SelfTestStep step;
  step.name = name;
  step.started = std::chrono::system_clock::now();
  try {
    Finding found = check();
    step.result = found.problem.empty() ? StepResult::Passed : StepResult::Failed;
    step.detail = found.problem.empty() ? found.measured : found.problem;
    step.values = std::move(found.values);
  } catch (const std::exception& e) {
    step.result = StepResult::Failed;
    step.detail = e.what();
  }
  step.ended = std::chrono::system_clock::now();
  return step;
}

Finding identity_problem(Board& board) {
  const DeviceInfo info = board.read_identity();
  if (info.vendor.empty()) return {"the board gave no vendor", ""};
  if (info.serial_number.empty()) return {"the board gave no serial number", ""};
  return {"",
          info.product_name + ", serial " + info.serial_number + ", version " + info.dev_version};
}

Finding register_read_problem(Board& board) {
  std::size_t count = 0;
  for (Bank bank : {Bank::Device, Bank::Dac, Bank::Chip}) count += board.read_bank(bank).size();
  return {"",
          std::to_string(count) + " registers read in 3 banks",
          {{"registers_read", static_cast<double>(count), "", std::nullopt, std::nullopt}}};
}

Finding register_range_problem(Board& board) {
  // One past the top of the range must be refused by the board and leave
  // the register as it was.
  const Register r = board.registers().find("FIFO_THRESHOLD");
  const std::int64_t before = board.read_register(r.name);
  try {
    board.write_register(r.name, r.max + 1);
    board.write_register(r.name, before);
    return {"the board took " + std::to_string(r.max + 1) + " for " + r.name, ""};
  } catch (const RangeError&) {
  }
  const std::int64_t after = board.read_register(r.name);
  if (after != before)
    return {r.name + " changed from " + std::to_string(before) + " to " + std::to_string(after),
            ""};
  return {"",
          r.name + " refused " + std::to_string(r.max + 1) + " and kept " + std::to_string(after)};
}

Finding event_stream_problem(Board& board) {
  if (board.design().empty()) return {"no design on the board", ""};
  PolarityCounter counter;
  Subscription subscription(board.events(), counter);
  const bool started_here = !board.acquiring();
  if (started_here) board.start_acquisition();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  if (started_here) board.stop_acquisition();
  // Any event at all passes: the count is what the stream gave in that time.
  std::vector<SelfTestValue> values = {
      {"stream_events", static_cast<double>(counter.total()), "", 1.0, std::nullopt},
      {"stream_on_events", static_cast<double>(counter.on), "", std::nullopt, std::nullopt},
      {"stream_off_events", static_cast<double>(counter.off), "", std::nullopt, std::nullopt}};
  if (counter.total() == 0)
    return {"no events in 0.25 s (check EN_AER, RST_N and the mode)", "", std::move(values)};
  return {"",
          count_text(counter.total()) + " events in 0.25 s (" + count_text(counter.on) + " ON, " +
              count_text(counter.off) + " OFF)",
          std::move(values)};
}

Finding supplies_problem(Board& board) {
  const auto values = board.read_adc(1.0);
  const auto volts = [](double v) { return fmt::format("{:.3f} V", v); };
  // Each supply within 5 % of its nominal voltage.
  std::vector<SelfTestValue> measured = {{"vdd", values[0], "V", 1.8 - 0.09, 1.8 + 0.09},
                                         {"vddio", values[1], "V", 3.3 - 0.165, 3.3 + 0.165}};
  if (std::abs(values[0] - 1.8) > 0.09) return {"VDD is " + volts(values[0]), "", measured};
  if (std::abs(values[1] - 3.3) > 0.165) return {"VDDIO is " + volts(values[1]), "", measured};
  return {"", "VDD " + volts(values[0]) + ", VDDIO " + volts(values[1]), measured};
}

}  // namespace

std::vector<SelfTestStep> run_self_test(Board& board) {
  std::vector<SelfTestStep> steps;
  steps.push_back(run_step("connection", [&] {
    if (!board.connected()) return Finding{"no board is connected", ""};
    return Finding{
        "", board.address().empty() ? "the board in this program" : "served at " + board.address()};
  }));
  const std::pair<const char*, std::function<Finding(Board&)>> board_steps[] = {
      {"identity", identity_problem},
      {"register read", register_read_problem},
      {"register range", register_range_problem},
      {"event stream", event_stream_problem},
      {"ADC supplies", supplies_problem},
  };
  for (const auto& [name, check] : board_steps) {
    if (!board.connected()) {
      SelfTestStep not_run;
      not_run.name = name;
      not_run.result = StepResult::NotRun;
      not_run.detail = "not run: no board is connected";
      not_run.started = not_run.ended = std::chrono::system_clock::now();
      steps.push_back(std::move(not_run));
      continue;
    }
    steps.push_back(run_step(name, [&, &check = check] { return check(board); }));
  }
  return steps;
}

std::string self_test_summary(const std::vector<SelfTestStep>& steps) {
  int passed = 0, failed = 0, not_run = 0;
  std::string details;
  for (const auto& s : steps) {
    switch (s.result) {
      case StepResult::Passed:
        ++passed;
        break;
      case StepResult::Failed:
        ++failed;
        details += "; " + s.name + " failed: " + s.detail;
        break;
      case StepResult::NotRun:
        ++not_run;
        break;
    }
  }
  std::string summary = "Self-test: " + std::to_string(passed) + " passed, " +
                        std::to_string(failed) + " failed, " + std::to_string(not_run) +
                        " not run" + details;
  if (not_run > 0) summary += "; not run: no board is connected";
  return summary;
}

}  // namespace Zelvar_Core::bench
