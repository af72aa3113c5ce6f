#include "bench/sequences/sweep.h"

#include <fmt/format.h>

#include <cmath>
#include <stdexcept>

#include "bench/board/registers.h"
#include "bench/sequences/csv.h"

namespace Zelvar_Core::bench {

std::vector<std::int64_t> SweepPlan::range(const Register& r, std::int64_t start, std::int64_t stop,
                                           std::int64_t step) {
  for (const std::int64_t end : {start, stop})
    if (end < r.min || end > r.max) throw RangeError(out_of_range_text(r, std::to_string(end)));
  if (step == 0) throw std::invalid_argument("the step is zero");
  if ((step > 0 && stop < start) || (step < 0 && stop > start))
    throw std::invalid_argument("the step goes away from stop");
  // In unsigned arithmetic, where the widest span and step cannot overflow.
  const std::uint64_t span =
      step > 0 ? static_cast<std::uint64_t>(stop) - static_cast<std::uint64_t>(start)
               : static_cast<std::uint64_t>(start) - static_cast<std::uint64_t>(stop);
  const std::uint64_t stride =
      step > 0 ? static_cast<std::uint64_t>(step) : 0 - static_cast<std::uint64_t>(step);
  const std::uint64_t steps = span / stride;  // the values are one more
  if (steps >= kMaxValues)
    throw std::invalid_argument(
        fmt::format("{} values are more than the {} a sweep may have",
                    steps == UINT64_MAX ? "18,446,744,073,709,551,616" : count_text(steps + 1),
                    count_text(kMaxValues)));
  const std::uint64_t count = steps + 1;
  std::vector<std::int64_t> values;
  values.reserve(count);
  std::int64_t v = start;
  for (std::uint64_t i = 0; i < count; ++i) {
    values.push_back(v);
    if (i + 1 < count) v += step;  // stays between start and stop
  }
  return values;
}

std::string check_sweep(const SweepPlan& plan, BenchActions& bench) {
  Register r;
  try {
    r = bench.register_named(plan.name);
  } catch (const std::out_of_range&) {
    return "the board has no register, DAC or signal named " + plan.name;
  }
  if (plan.values.empty()) return "the sweep has no values";
  if (plan.values.size() > SweepPlan::kMaxValues)
    return fmt::format("{} values are more than the {} a sweep may have",
                       count_text(plan.values.size()), count_text(SweepPlan::kMaxValues));
  for (std::int64_t v : plan.values)
    if (v < r.min || v > r.max) return out_of_range_text(r, std::to_string(v));
  if (!(plan.settle >= 0) || plan.settle > 3600) return "the settle time must be 0..3600 s";
  if (!(plan.measure >= 0.2) || plan.measure > 3600)
    return "the measuring time must be 0.2..3600 s";
  return "";
}

SweepOutcome run_sweep(const SweepPlan& plan, BenchActions& bench,
                       const std::function<void(std::size_t, const SweepRow&)>& row) {
  SweepOutcome outcome;
  const std::string problem = check_sweep(plan, bench);
  if (!problem.empty()) throw std::invalid_argument(problem);
  const std::int64_t before = bench.get(plan.name);
  try {
    for (std::size_t i = 0; i < plan.values.size(); ++i) {
      const auto started = std::chrono::system_clock::now();
      bench.set(plan.name, plan.values[i]);
      bench.wait(plan.settle);
      SweepRow r{plan.values[i], bench.measure(plan.measure), started, {}};
      r.ended = std::chrono::system_clock::now();
      outcome.rows.push_back(r);
      if (row) row(i, r);
    }
    outcome.completed = true;
  } catch (const Aborted&) {
    outcome.ended =
        fmt::format("aborted at step {} of {}", outcome.rows.size() + 1, plan.values.size());
  } catch (const std::exception& e) {
    outcome.ended = fmt::format("ended at step {} of {}: {}", outcome.rows.size() + 1,
                                plan.values.size(), e.what());
  }
  try {
    bench.set(plan.name, before);
    outcome.restored = fmt::format("{} restored to {}", plan.name, before);
  } catch (const std::exception& e) {
    outcome.restored = fmt::format("{} not restored to {}: {}", plan.name, before, e.what());
  }
  return outcome;
}

std::string sweep_csv(const SweepPlan& plan, const std::vector<SweepRow>& rows,
                      const Settings& settings, const BoardDeclaration& board) {
  std::string csv;
  std::vector<std::string> keys;  // what every row records as in force
  for (const auto& [key, value] : settings) {
    if (key != plan.name) csv += "# " + key + " " + value + "\n";
    if (key != plan.name && key != "date" && key != "board") keys.push_back(key);
  }
  // The swept register's unit as the plan gives it, else as the board declares it.
  const Register* declared = board.find_register(plan.name);
  const std::string unit = !plan.unit.empty() ? plan.unit : declared ? declared->unit : "";
  const std::string swept = unit.empty() ? plan.name : plan.name + " (" + unit + ")";
  csv +=
      fmt::format("# swept {}, settle {:g} s, measure {:g} s\n", swept, plan.settle, plan.measure);
  csv += csv_text(swept);
  for (const auto& column : measurement_columns(board.adc_channels)) csv += "," + csv_text(column);
  for (const auto& key : keys) csv += "," + csv_text(setting_column(key, board));
  csv += "\n";
  for (const auto& r : rows) {
    csv += std::to_string(r.value) + measurement_cells(r.measurement);
    csv += settings_cells(r.measurement.in_force, keys);
    csv += "\n";
  }
  return csv;
}

}  // namespace Zelvar_Core::bench
