// The Results window's work with 100,000 runs: the runs read from the
// bench's results file into the window's table, the table filtered, and one
// measurement across every run read and counted into its histogram. The
// file is made once in /dev/shm (memory), so that the figures are those of
// the store and the table, not of the disk's flushes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/results/results_store.h"
#include "bench/results/run_table.h"
#include "bench/results/sqlite_store.h"

namespace {

using namespace Zelvar_Core::bench::results;

constexpr int kRuns = 100000;
constexpr UtcMicros kStart = 1767225600LL * 1000000;  // 2026-01-01 00:00 UTC
constexpr UtcMicros kMinute = 60LL * 1000000;

// Run n: one of 1,000 chips, one of 4 sequences, a minute after run n - 1,
// one run in 50 failing its vdd_mean limits.
TestRecord run_number(int n) {
  TestRecord r;
  char id[40];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
  r.run_id = id;
  r.kind = "sequence";
  r.started = kStart + n * kMinute;
  r.ended = r.started + 20 * 1000000;
  r.station = "bench-" + std::to_string(n % 7);
  r.operator_name = "ada";
  r.dut = "chip-" + std::to_string(n % 1000);
  r.board_identity = "AER-640";
  r.board_serial = "SN-" + std::to_string(n % 40);
  r.design = "aer640_top";
  r.sequence_path = "/lab/sequences/check_" + std::to_string(n % 4) + ".json";
  r.bench_version = "2.0.0";
  r.steps = {{1, "measure", "measured for 1 s", Outcome::Pass, r.started, r.ended}};
  const bool fails = n % 50 == 0;
  const double vdd = fails ? 1.95 : 1.78 + (n % 97) * 0.0005;
  r.measurements = {
      {1, "vdd_mean", vdd, "V", 1.70, 1.90, fails ? Outcome::Fail : Outcome::Pass},
      {1, "rate_on", 1000.0 + n % 313, "ev/s", std::nullopt, std::nullopt, Outcome::Pass}};
  r.outcome = fails ? Outcome::Fail : Outcome::Pass;
  return r;
}

std::string& file_folder() {
  static std::string folder;
  return folder;
}

// The results file with kRuns runs, made on first use and removed at exit
// (after the store has closed it).
ResultsStore& store_of_100000() {
  static std::unique_ptr<ResultsStore> store = [] {
    std::string folder = "/dev/shm/zelvar-results-benchmark-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) throw std::runtime_error("no folder in /dev/shm");
    file_folder() = folder;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(file_folder(), ignored);
    });
    auto made = open_sqlite_store(folder + "/results.db");
    for (int n = 0; n < kRuns; ++n) made->save(run_number(n));
    return made;
  }();
  return *store;
}

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

}  // namespace

BENCHMARK_MAIN();
