// Test records kept in a SQL database through an SqlConnection: the schema
// and its migrations, whole-record saves, lists, loads and measurements
// across runs. The same statements serve the SQLite file and PostgreSQL.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/results/results_store.h"
#include "bench/results/sql_connection.h"

namespace Zelvar_Core::bench::results {

// The schema's versions in order: entry i brings a store from version i to
// version i + 1. A store's version is kept in its table schema_version.
const std::vector<std::vector<std::string>>& schema_migrations();
// The version this bench writes: schema_migrations().size().
int schema_version();

// A run saved while it is still running (outcome INCOMPLETE) is replaced
// whole when the same run id is saved again; a run kept with any other
// outcome is never changed.
class RecordStore : public ResultsStore {
 public:
  // Brings the store's schema up to this bench's version; throws
  // ResultsError when the store holds a newer one or cannot be read.
  explicit RecordStore(std::unique_ptr<SqlConnection> connection);

  void save(const TestRecord& record) override;
  std::vector<RunSummary> list(const RunFilter& filter) override;
  std::optional<TestRecord> load(const std::string& run_id) override;
  std::vector<MeasurementPoint> measurement(const std::string& name,
                                            const RunFilter& filter) override;
  std::vector<std::string> measurement_names(const RunFilter& filter) override;
  std::string where() const override;
  // The run in one transaction: its old rows deleted, the record's kept; a
  // run waiting to be sent still waits.
  void replace(const TestRecord& record) override;

  // The outbox of a bench whose records go on to a lab's database: the
  // record is saved and marked as waiting to be sent, in one transaction.
  // Returns false when the run was already kept (and changes nothing).
  bool save_pending(const TestRecord& record);
  // The run replaced as replace() does, and marked as waiting to be sent
  // again, in one transaction.
  void replace_pending(const TestRecord& record);
  // The runs waiting to be sent, oldest first.
  std::vector<std::string> pending();
  // The run reached the lab's database: it waits no more.
  void mark_sent(const std::string& run_id);
  // Throws ResultsError when the store does not answer.
  void ping();

 private:
  bool save_record(const TestRecord& record, bool pending, bool replace = false);
  [[noreturn]] void fail(const std::string& doing, const std::exception& error) const;

  std::mutex mutex_;
  std::unique_ptr<SqlConnection> connection_;
};

// The file name a sequence path ends in, the form lists filter on.
std::string sequence_name_of(const std::string& sequence_path);

}  // namespace Zelvar_Core::bench::results
