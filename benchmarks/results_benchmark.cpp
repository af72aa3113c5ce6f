// The results store's costs: one run's record written (the bench's file,
// and a PostgreSQL server the benchmark starts when the server programs are
// installed), and a store of 100,000 runs listed, filtered and read for one
// measurement across them, as the Results window does.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/results/postgres_store.h"
#include "bench/results/sqlite_store.h"
#include "tests/support/postgres_server.h"
#include "tests/support/results_fixture.h"

namespace {

using namespace Zelvar_Core::bench::results;
using Zelvar_Core::testing_support::full_record;

void BM_SaveOneRunInTheFile(benchmark::State& state) {
  Zelvar_Core::testing_support::ScratchFolder folder;
  auto store = open_sqlite_store(folder.file("results.db"));
  TestRecord record = full_record(1);
  for (auto _ : state) {
    state.PauseTiming();
    record.run_id = new_run_id();
    state.ResumeTiming();
    store->save(record);
  }
}
BENCHMARK(BM_SaveOneRunInTheFile)->Unit(benchmark::kMillisecond);

void BM_SaveOneRunInPostgres(benchmark::State& state) {
  std::unique_ptr<Zelvar_Core::testing_support::PostgresServer> server;
  try {
    server = std::make_unique<Zelvar_Core::testing_support::PostgresServer>();
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  auto store = open_postgres_store(server->url());
  TestRecord record = full_record(1);
  for (auto _ : state) {
    state.PauseTiming();
    record.run_id = new_run_id();
    state.ResumeTiming();
    store->save(record);
  }
}
BENCHMARK(BM_SaveOneRunInPostgres)->Unit(benchmark::kMillisecond);

// 100,000 runs on 500 chips over about 70 days, three measurements each,
// written in one transaction (a bench writes them one by one over months).
class HundredThousandRuns {
 public:
  static constexpr int runs = 100'000;
  HundredThousandRuns() {
    store_ = open_sqlite_store(folder_.file("results.db"));
    auto db = open_sqlite_connection(folder_.file("results.db"));
    db->begin();
    for (int n = 0; n < runs; ++n) {
      const std::string id = new_run_id();
      const std::int64_t started = 1'780'000'000'000'000 + std::int64_t{n} * 60'000'000;
      db->run(
          "INSERT INTO runs VALUES ($1, 'sequence', $2, $3, 'bench-1', 'op', $4, 'AER-640',"
          " 'SN-1', 'design', $5, $6, 'abc', '2.0.0', $7, '')",
          {id, started, started + 30'000'000, "chip-" + std::to_string(n % 500),
           "/lab/sequences/" + std::string(n % 4 ? "bias_check.json" : "leak.json"),
           std::string(n % 4 ? "bias_check.json" : "leak.json"),
           std::string(n % 10 ? "PASS" : "FAIL")});
      const char* names[] = {"vdd_mean", "rate_on", "temp"};
      for (int m = 0; m < 3; ++m)
        db->run("INSERT INTO measurements VALUES ($1, $2, 2, $3, $4, 'V', 1.7, 1.9, 'PASS')",
                {id, std::int64_t{m + 1}, std::string(names[m]), 1.8 + (n % 100) * 0.001});
    }
    db->commit();
  }
  ResultsStore& store() { return *store_; }

 private:
  Zelvar_Core::testing_support::ScratchFolder folder_;
  std::unique_ptr<RecordStore> store_;
};

HundredThousandRuns& hundred_thousand() {
  static HundredThousandRuns made;
  return made;
}

void BM_ListAll100000Runs(benchmark::State& state) {
  auto& store = hundred_thousand().store();
  for (auto _ : state) benchmark::DoNotOptimize(store.list({}));
  state.counters["runs"] = static_cast<double>(store.list({}).size());
}
BENCHMARK(BM_ListAll100000Runs)->Unit(benchmark::kMillisecond);

void BM_ListFiltered100000Runs(benchmark::State& state) {
  auto& store = hundred_thousand().store();
  RunFilter filter;
  filter.sequence = "bias_check.json";
  filter.outcome = Outcome::Pass;
  filter.from = 1'780'000'000'000'000 + std::int64_t{20'000} * 60'000'000;
  filter.to = 1'780'000'000'000'000 + std::int64_t{80'000} * 60'000'000;
  for (auto _ : state) benchmark::DoNotOptimize(store.list(filter));
  state.counters["runs"] = static_cast<double>(store.list(filter).size());
}
BENCHMARK(BM_ListFiltered100000Runs)->Unit(benchmark::kMillisecond);

void BM_ListOneChipOf100000Runs(benchmark::State& state) {
  auto& store = hundred_thousand().store();
  RunFilter filter;
  filter.dut = "chip-42";
  for (auto _ : state) benchmark::DoNotOptimize(store.list(filter));
  state.counters["runs"] = static_cast<double>(store.list(filter).size());
}
BENCHMARK(BM_ListOneChipOf100000Runs)->Unit(benchmark::kMillisecond);

void BM_OneMeasurementOver100000Runs(benchmark::State& state) {
  auto& store = hundred_thousand().store();
  for (auto _ : state) benchmark::DoNotOptimize(store.measurement("vdd_mean", {}));
  state.counters["points"] = static_cast<double>(store.measurement("vdd_mean", {}).size());
}
BENCHMARK(BM_OneMeasurementOver100000Runs)->Unit(benchmark::kMillisecond);

void BM_MeasurementNamesOf100000Runs(benchmark::State& state) {
  auto& store = hundred_thousand().store();
  for (auto _ : state) benchmark::DoNotOptimize(store.measurement_names({}));
}
BENCHMARK(BM_MeasurementNamesOf100000Runs)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
