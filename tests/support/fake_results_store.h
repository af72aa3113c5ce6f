// A results store in memory for the tests of what reads one: it keeps the
// records it is given, answers as the store's contract says (newest first,
// oldest first, the same filter), and can be told to fail. Its calls may
// come from several threads (an export's and the window's), and its loads
// can be held, so that a test acts while a reader is half way.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "bench/results/results_store.h"
#include "bench/results/run_table.h"
#include "tests/support/eventually.h"
#include "tests/support/results_fixture.h"

namespace Zelvar_Core::testing_support {

class FakeResultsStore : public bench::results::ResultsStore {
 public:
  using TestRecord = bench::results::TestRecord;
  using RunFilter = bench::results::RunFilter;
  using RunSummary = bench::results::RunSummary;
  using MeasurementPoint = bench::results::MeasurementPoint;

  void save(const TestRecord& record) override {
    std::lock_guard lock(mutex_);
    fail_if_asked();
    if (records_.count(record.run_id) == 0) order_.push_back(record.run_id);
    records_.emplace(record.run_id, record);
  }
  std::vector<RunSummary> list(const RunFilter& filter) override {
    std::lock_guard lock(mutex_);
    fail_if_asked();
    ++lists;
    return runs_of(filter);
  }
  std::optional<TestRecord> load(const std::string& run_id) override {
    std::unique_lock lock(mutex_);
    if (loads_let_through_ >= 0 && loads_++ >= loads_let_through_) {
      ++held_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return loads_let_through_ < 0; });
      --held_;
    }
    fail_if_asked();
    const auto found = records_.find(run_id);
    if (found == records_.end()) return std::nullopt;
    return found->second;
  }
  std::vector<MeasurementPoint> measurement(const std::string& name,
                                            const RunFilter& filter) override {
    std::lock_guard lock(mutex_);
    fail_if_asked();
    ++measurements_read;
    std::vector<MeasurementPoint> points;
    auto runs = runs_of(filter);
    std::reverse(runs.begin(), runs.end());
    for (const auto& run : runs)
      for (const auto& m : records_.at(run.run_id).measurements)
        if (m.name == name)
          points.push_back(
              {run.run_id, run.started, run.dut, m.value, m.unit, m.low, m.high, m.outcome});
    return points;
  }
  std::vector<std::string> measurement_names(const RunFilter& filter) override {
    std::lock_guard lock(mutex_);
    fail_if_asked();
    ++names_read;
    std::set<std::string> names;
    for (const auto& run : runs_of(filter))
      for (const auto& m : records_.at(run.run_id).measurements) names.insert(m.name);
    return {names.begin(), names.end()};
  }
  std::string where() const override { return "memory"; }

  // From now on every call throws ResultsError with this sentence ("" stops
  // it); set while no other thread calls, or through fail_from_now().
  std::string failing;
  void fail_from_now(const std::string& sentence) {
    std::lock_guard lock(mutex_);
    failing = sentence;
  }
  std::atomic<int> lists{0};              // how often list() was called
  std::atomic<int> measurements_read{0};  // measurement()
  std::atomic<int> names_read{0};         // measurement_names()

  // The first `through` loads from now on answer; each later one waits in
  // load() until release_loads().
  void hold_loads_after(int through) {
    std::lock_guard lock(mutex_);
    loads_ = 0;
    loads_let_through_ = through;
  }
  void release_loads() {
    std::lock_guard lock(mutex_);
    loads_let_through_ = -1;
    changed_.notify_all();
  }
  // Waits until `n` loads are held: a condition, its cap only a bound on a
  // failure, stretched on a slow machine like every test's cap.
  bool loads_held(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, testing_support::scaled(std::chrono::seconds(30)),
                             [&] { return held_ >= n; });
  }

 private:
  // The runs the filter lets through, newest first.
  std::vector<RunSummary> runs_of(const RunFilter& filter) const {
    std::vector<RunSummary> runs;
    for (const auto& id : order_) {
      const TestRecord& r = records_.at(id);
      RunSummary summary{r.run_id, r.started, r.dut, r.station, r.sequence_path, r.kind, r.outcome};
      if (bench::results::lets_through(filter, summary)) runs.push_back(summary);
    }
    std::stable_sort(runs.begin(), runs.end(),
                     [](const auto& a, const auto& b) { return a.started > b.started; });
    return runs;
  }
  void fail_if_asked() const {
    if (!failing.empty()) throw bench::results::ResultsError(failing);
  }
  std::map<std::string, TestRecord> records_;
  std::vector<std::string> order_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int loads_let_through_ = -1, loads_ = 0, held_ = 0;
};

// full_record() made a run of `sequence` on `dut` that started `started`
// µs after 2026-01-01 UTC, with its id from `number`, two steps that
// passed, no files, and two measurements: "vdd_mean" of `vdd` V against
// 1.75..1.85 V, which the run's outcome follows, and "rate_on" without limits.
inline bench::results::TestRecord sample_run(int number, const std::string& dut,
                                             const std::string& sequence, double vdd,
                                             bench::results::UtcMicros started) {
  using namespace bench::results;
  TestRecord r = full_record(number, dut);
  char id[40];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", number);
  r.run_id = id;
  r.kind = sequence.empty() ? "sweep" : "sequence";
  r.started = 1767225600LL * 1000000 + started;
  r.ended = r.started + 2000000;
  r.sequence_path = sequence.empty() ? "" : "/lab/sequences/" + sequence;
  r.steps = {{1, "set", "VTH_ON set to 2400", Outcome::Pass, r.started, r.started + 100},
             {2, "measure", "measured for 0.5 s", Outcome::Pass, r.started + 100, r.ended}};
  const bool inside = vdd >= 1.75 && vdd <= 1.85;
  r.measurements = {
      {2, "vdd_mean", vdd, "V", 1.75, 1.85, inside ? Outcome::Pass : Outcome::Fail},
      {2, "rate_on", 1000.0 + number, "ev/s", std::nullopt, std::nullopt, Outcome::Pass}};
  r.files.clear();
  r.outcome = inside ? Outcome::Pass : Outcome::Fail;
  r.ended_because = inside ? "" : "step 2: vdd_mean is outside 1.75..1.85 V";
  return r;
}

}  // namespace Zelvar_Core::testing_support
