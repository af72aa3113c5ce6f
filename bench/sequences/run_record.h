// The test record of a run on the bench: who ran what on which chip and
// board, every step and measurement with its outcome, every file the run
// wrote. A sequence's record is kept up to date step by step, so that a
// run that never ends leaves what it completed, marked INCOMPLETE.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bench/board/self_test.h"
#include "bench/results/test_record.h"
#include "bench/sequences/sequence_run.h"

namespace Zelvar_Core::bench {

// Where and by whom the bench's runs are made: from the command line or
// the bench's settings. An empty station is the host's name; an empty DUT
// is used only when the board gives no chip id.
struct RunSite {
  std::string station, operator_name, dut;
};

// The file by its absolute path, size and SHA-256; throws std::runtime_error.
results::FileRecord file_record(const std::string& role, const std::string& path);
// The chip's id where the board gives one (its read-only CHIP_ID register,
// "0x320A"), "" otherwise.
std::string chip_id(BenchActions& bench);

// The start of a record of `kind` on `bench`: its run id and start, the
// site, the chip and board, the design and the settings as they stand.
// The outcome is INCOMPLETE until the run says otherwise.
results::TestRecord record_start(const std::string& run_id, const std::string& kind,
                                 BenchActions& bench, const RunSite& site);

// A bench that notes every file its recordings and captures write (a
// recording cut short too), and passes everything else on.
class FileNotingBench : public BenchActions {
 public:
  explicit FileNotingBench(BenchActions& bench) : bench_(bench) {}
  void program(const std::string& path) override { bench_.program(path); }
  void set(const std::string& name, std::int64_t value) override { bench_.set(name, value); }
  std::int64_t get(const std::string& name) override { return bench_.get(name); }
  Register register_named(const std::string& name) override { return bench_.register_named(name); }
  void wait(double seconds) override { bench_.wait(seconds); }
  Measurement measure(double seconds) override { return bench_.measure(seconds); }
  RecordingStats record(double seconds) override;
  std::string capture() override;
  bool connected() override { return bench_.connected(); }
  Settings settings() override { return bench_.settings(); }
  Settings in_force() override { return bench_.in_force(); }
  BoardDeclaration declaration() override { return bench_.declaration(); }
  std::string serial() override { return bench_.serial(); }
  void finish() override { bench_.finish(); }
  void abort() override { bench_.abort(); }

  // The files written so far, as (role, path), in the order they were made.
  std::vector<std::pair<std::string, std::string>> files() const;

 private:
  BenchActions& bench_;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> files_;
};

// A sequence run's record as it goes: the observer() hears the run and
// hands the record to `keep` after each step it completed; finish() makes
// the whole record from the report.
class SequenceRecord {
 public:
  SequenceRecord(results::TestRecord start, const Sequence& sequence,
                 std::function<void(const results::TestRecord&)> keep);

  // Hears the run, then passes each call on to `inner`: a step's record is
  // kept before the step is told to `inner`.
  SequenceObserver observer(SequenceObserver inner);

  // The finished record: the overall outcome (PASS when every expectation
  // held, FAIL when one did not, ABORTED or ERROR naming the step where
  // the run stopped), the step it stopped at, and `files` (role, path:
  // the report, recordings, captures), each read for its size and SHA-256.
  // A file that cannot be read is left out and named in `ended_because`.
  const results::TestRecord& finish(const SequenceReport& report,
                                    const std::vector<std::pair<std::string, std::string>>& files);

  const results::TestRecord& record() const { return record_; }

 private:
  void started(const Step& step);
  void done(const Step& step, const std::string& sentence);
  void row(const ReportRow& row);

  results::TestRecord record_;
  std::function<void(const results::TestRecord&)> keep_;
  const Step* current_ = nullptr;
  results::UtcMicros step_started_ = 0;
  std::vector<int> failed_steps_;  // the expect steps with a row out of range
};

// A finished sweep's record from its start: a step per value, each
// measurement named "on_rate_mean at VTH_ON 2400" with its unit, PASS when
// it completed, ERROR or ABORTED naming why not; `files` as above.
results::TestRecord sweep_record(results::TestRecord start, const SweepPlan& plan,
                                 const SweepOutcome& outcome,
                                 const std::vector<AdcChannelDeclaration>& channels,
                                 const std::vector<std::pair<std::string, std::string>>& files);

// A sweep's record while it runs: a step and the measurements of each
// value measured so far, INCOMPLETE. Kept after each value, it leaves what
// the sweep completed should the bench end before the sweep does.
results::TestRecord sweep_progress(results::TestRecord start, const SweepPlan& plan,
                                   const std::vector<SweepRow>& rows,
                                   const std::vector<AdcChannelDeclaration>& channels);

// The self-test's record from its start: a step per check, in its order,
// PASS or FAIL with what it found, a check that could not run ERROR with
// why; each value a check read as a measurement under its step, with its
// limits and whether it held them. The run passes when every check
// passed, fails when one failed, and is an ERROR when one could not run.
results::TestRecord self_test_record(results::TestRecord start,
                                     const std::vector<SelfTestStep>& steps);

}  // namespace Zelvar_Core::bench
