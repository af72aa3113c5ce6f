// Where test records are kept: the bench's own SQLite file, or a lab's
// shared PostgreSQL database with the same schema. Every call either does
// all it says or throws ResultsError with one sentence and changes nothing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/results/test_record.h"

namespace Zelvar_Core::bench::results {

class ResultsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Which runs to list; an empty field does not filter.
struct RunFilter {
  std::string dut;       // exact
  std::string sequence;  // the sequence file's name (not its folder), exact
  std::optional<Outcome> outcome;
  std::optional<UtcMicros> from, to;  // started within [from, to)
};

// One line of the runs table.
struct RunSummary {
  std::string run_id;
  UtcMicros started = 0;
  std::string dut, station, sequence, kind;
  Outcome outcome = Outcome::Incomplete;
};

// One measurement of one run, for histograms and trends across runs.
struct MeasurementPoint {
  std::string run_id;
  UtcMicros started = 0;
  std::string dut;
  double value = 0;
  std::string unit;
  std::optional<double> low, high;
  Outcome outcome = Outcome::Pass;
};

class ResultsStore {
 public:
  virtual ~ResultsStore() = default;
  // Keeps the record whole in one transaction, or nothing of it. Saving a
  // run id already kept changes nothing and is not an error (a record sent
  // again after a lost answer is kept once).
  virtual void save(const TestRecord& record) = 0;
  // The runs the filter lets through, newest first.
  virtual std::vector<RunSummary> list(const RunFilter& filter) = 0;
  // One run whole; nullopt when the store has no run of that id.
  virtual std::optional<TestRecord> load(const std::string& run_id) = 0;
  // Every value of the measurement `name` among the filtered runs, oldest first.
  virtual std::vector<MeasurementPoint> measurement(const std::string& name,
                                                    const RunFilter& filter) = 0;
  // The measurement names the filtered runs hold, sorted.
  virtual std::vector<std::string> measurement_names(const RunFilter& filter) = 0;
  // Where it is, for messages: a file's path, or a database's address without its password.
  virtual std::string where() const = 0;
  // Where the run `run_id`, just kept, is now, for the sentence that tells
  // the user: a store that forwards runs elsewhere says where it truly is.
  virtual std::string where_kept(const std::string& run_id) {
    (void)run_id;
    return where();
  }
  // Where the last list, load or measurement was read from, for messages.
  virtual std::string read_from() const { return where(); }
  // Keeps `record` in the place of the run of the same id, whole in one
  // transaction, or saves it when the store has none: a run saved
  // INCOMPLETE as it starts is replaced by what it completed after each
  // step and at its end, so that a process killed at any point leaves
  // either the last whole record or the previous one. A store that cannot
  // replace a run it keeps throws ResultsError.
  virtual void replace(const TestRecord& record) {
    throw ResultsError("The results store at " + where() + " cannot replace the run " +
                       record.run_id + " it keeps.");
  }
};

// The bench's store: the SQLite file "results.db" in `data_folder`, and,
// when `shared` names a PostgreSQL database ("postgresql://..."), that
// database too. A record is kept in the file first, then sent to the
// database at once or, when it does not answer, later and exactly once;
// `tell` hears each such sentence (for the log and the status bar) on the
// caller's or the sender's thread. Lists and loads read the database when
// there is one, the file otherwise. Throws ResultsError when neither can
// be opened.
std::unique_ptr<ResultsStore> open_bench_results(const std::string& data_folder,
                                                 const std::string& shared,
                                                 std::function<void(const std::string&)> tell);

}  // namespace Zelvar_Core::bench::results
