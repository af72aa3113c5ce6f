// 100,000 runs for the Results window's benchmarks: as records, and kept in
// a results file in /dev/shm (memory), made once per program and removed at
// its exit, so that the figures are those of the store and the window, not
// of the disk's flushes.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/results/results_store.h"
#include "bench/results/sqlite_store.h"

namespace Zelvar_Core::benchmarks {

using namespace Zelvar_Core::bench::results;

constexpr int kRuns = 100000;
constexpr UtcMicros kStart = 1767225600LL * 1000000;  // 2026-01-01 00:00 UTC
constexpr UtcMicros kMinute = 60LL * 1000000;

// Run n: one of 1,000 chips, one of 4 sequences, a minute after run n - 1,
// one run in 50 failing its vdd_mean limits.
inline TestRecord run_number(int n) {
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

inline std::string& file_folder() {
  static std::string folder;
  return folder;
}

// The results file with kRuns runs, made on first use and removed at exit
// (after the store has closed it).
inline ResultsStore& store_of_100000() {
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

}  // namespace Zelvar_Core::benchmarks
