// The Results window's work with 100,000 runs: the runs read from the
// bench's results file into the window's table, the table filtered, and one
// measurement across every run read and counted into its histogram. The
// file is made once in /dev/shm (memory), so that the figures are those of
// the store and the table, not of the disk's flushes.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/results/results_store.h"
#include "bench/results/run_table.h"
#include "benchmarks/hundred_thousand_runs.h"

namespace {

using namespace Zelvar_Core::bench::results;
using namespace Zelvar_Core::benchmarks;

std::vector<RunSummary> summaries() {
  std::vector<RunSummary> runs;
  runs.reserve(kRuns);
  for (int n = kRuns - 1; n >= 0; --n) {
    const TestRecord r = run_number(n);
    runs.push_back(
        {r.run_id, r.started, r.dut, r.station, sequence_name(r.sequence_path), r.kind, r.outcome});
  }
  return runs;
}

RunFilter filter_number(int which) {
  switch (which) {
    case 1:
      return filter_from_text({"chip-42", "", "", "", ""});
    case 2:
      return filter_from_text({"", "", "FAIL", "", ""});
    case 3:
      return filter_from_text({"", "", "", "2026-01-10", "2026-01-20"});
    case 4:
      return filter_from_text({"", "check_2.json", "PASS", "2026-01-10", "2026-02-20"});
    default:
      return {};
  }
}
const char* const kFilterNames[] = {"none", "dut", "outcome", "time span", "sequence+outcome+time"};

// Filtering the runs already read: each change of a filter field.
void BM_FilterInTable(benchmark::State& state) {
  RunTable table;
  table.set_runs(summaries());
  const RunFilter filter = filter_number(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    table.apply(filter);
    benchmark::DoNotOptimize(table.size());
  }
  state.SetLabel(std::string(kFilterNames[state.range(0)]) + ": " + std::to_string(table.size()) +
                 " of " + std::to_string(table.total()) + " runs");
}
BENCHMARK(BM_FilterInTable)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// The window opened or refreshed: every run listed from the file into the
// table, then filtered.
void BM_ReadAndFilterFromResultsFile(benchmark::State& state) {
  ResultsStore& store = store_of_100000();
  RunTable table;
  const RunFilter filter = filter_number(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    table.read(store);
    table.apply(filter);
    benchmark::DoNotOptimize(table.size());
  }
  state.SetLabel(std::string(kFilterNames[state.range(0)]) + ": " + std::to_string(table.size()) +
                 " of " + std::to_string(table.total()) + " runs");
}
BENCHMARK(BM_ReadAndFilterFromResultsFile)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);

// The histogram of one measurement over every run: the values counted into bins.
void BM_HistogramOfValues(benchmark::State& state) {
  std::vector<MeasurementPoint> points;
  for (int n = 0; n < kRuns; ++n) {
    const TestRecord r = run_number(n);
    const auto& m = r.measurements.front();
    points.push_back({r.run_id, r.started, r.dut, m.value, m.unit, m.low, m.high, m.outcome});
  }
  for (auto _ : state) benchmark::DoNotOptimize(spread_of("vdd_mean", points).counts.data());
}
BENCHMARK(BM_HistogramOfValues)->Unit(benchmark::kMillisecond);

// The same with the values read from the file, as the window draws it.
void BM_HistogramFromResultsFile(benchmark::State& state) {
  ResultsStore& store = store_of_100000();
  std::size_t values = 0;
  for (auto _ : state) {
    const auto spread = spread_of("vdd_mean", store.measurement("vdd_mean", RunFilter{}));
    values = spread.values;
    benchmark::DoNotOptimize(spread.counts.data());
  }
  state.SetLabel(std::to_string(values) + " values");
}
BENCHMARK(BM_HistogramFromResultsFile)->Unit(benchmark::kMillisecond);

// A filter changed on the Measurement page: the runs filtered, and the
// measurement's values of the runs shown (read once, when it was chosen)
// picked and counted into the histogram, as the window draws its plots.
void BM_FilterMeasurementInTable(benchmark::State& state) {
  RunTable table;
  table.set_runs(summaries());
  std::vector<MeasurementPoint> points;
  points.reserve(kRuns);
  for (int n = 0; n < kRuns; ++n) {
    const TestRecord r = run_number(n);
    const auto& m = r.measurements.front();
    points.push_back({r.run_id, r.started, r.dut, m.value, m.unit, m.low, m.high, m.outcome});
  }
  table.keep_measurement("vdd_mean", std::move(points));
  const RunFilter filter = filter_number(static_cast<int>(state.range(0)));
  std::size_t values = 0;
  for (auto _ : state) {
    table.apply(filter);
    const auto spread = spread_of("vdd_mean", table.measurement_shown());
    values = spread.values;
    benchmark::DoNotOptimize(spread.counts.data());
  }
  state.SetLabel(std::string(kFilterNames[state.range(0)]) + ": " + std::to_string(values) +
                 " of " + std::to_string(table.total()) + " values");
}
BENCHMARK(BM_FilterMeasurementInTable)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// A measurement chosen: its values of every run read from the file once and
// tied to the runs of the table.
void BM_ReadMeasurementOnceFromResultsFile(benchmark::State& state) {
  ResultsStore& store = store_of_100000();
  RunTable table;
  table.read(store);
  for (auto _ : state) {
    table.keep_measurement("vdd_mean", store.measurement("vdd_mean", RunFilter{}));
    benchmark::DoNotOptimize(table.measurement_kept());
  }
}
BENCHMARK(BM_ReadMeasurementOnceFromResultsFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
