#include "bench/sequences/sweep.h"

#include <fmt/format.h>

#include <stdexcept>

#include "bench/board/registers.h"

namespace Zelvar_Core::bench {

std::vector<std::int64_t> SweepPlan::range(std::int64_t start, std::int64_t stop,
                                           std::int64_t step) {
  if (step == 0) throw std::invalid_argument("the step is zero");
  if ((stop - start) / step < 0) throw std::invalid_argument("the step goes away from stop");
  if ((stop - start) / step > 100000) throw std::invalid_argument("more than 100,000 steps");
  std::vector<std::int64_t> values;
  for (std::int64_t v = start; step > 0 ? v <= stop : v >= stop; v += step) values.push_back(v);
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
      bench.set(plan.name, plan.values[i]);
      bench.wait(plan.settle);
      SweepRow r{plan.values[i], bench.measure(plan.measure)};
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

const std::vector<std::string>& measurement_columns() {
  static const std::vector<std::string> columns = {
      "on_rate_mean_hz", "on_rate_std_hz", "off_rate_mean_hz",   "off_rate_std_hz",
      "vdd_mean_v",      "vddio_mean_v",   "temperature_mean_c", "ibias_mean_ua"};
  return columns;
}

std::string sweep_csv(const SweepPlan& plan, const std::vector<SweepRow>& rows,
                      const std::vector<std::pair<std::string, std::string>>& settings) {
  std::string csv;
  for (const auto& [key, value] : settings)
    if (key != plan.name) csv += "# " + key + " " + value + "\n";
  csv += fmt::format("# swept {}, settle {:g} s, measure {:g} s\n", plan.name, plan.settle,
                     plan.measure);
  csv += plan.name;
  for (const auto& column : measurement_columns()) csv += "," + column;
  csv += "\n";
  for (const auto& r : rows) {
    const Measurement& m = r.measurement;
    csv += fmt::format("{},{:.1f},{:.1f},{:.1f},{:.1f}", r.value, m.on_mean, m.on_std, m.off_mean,
                       m.off_std);
    for (double adc : m.adc_means) csv += fmt::format(",{:.4f}", adc);
    csv += "\n";
  }
  return csv;
}

}  // namespace Zelvar_Core::bench
