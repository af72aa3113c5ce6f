// The bench's results store with an outbox: every record is kept in the
// bench's SQLite file first; when a lab's PostgreSQL database is named, a
// sender thread sends each record on, at once or, while the database does
// not answer or refuses, later with a growing pause, and exactly once (the
// database keeps a run id once; the file marks a run sent only after the
// database committed it). A bench without the PostgreSQL module says so
// once and keeps its runs waiting in the file.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bench/results/postgres_store.h"
#include "bench/results/record_store.h"

namespace Zelvar_Core::bench::results {

struct OutboxTiming {
  // The pause after a failed send, doubled after each until the longest.
  std::chrono::milliseconds first_retry{1000};
  std::chrono::milliseconds longest_retry{60000};
  PostgresTimeouts database;
};

class BenchResults : public ResultsStore {
 public:
  using Tell = std::function<void(const std::string&)>;
  // `local` is the bench's file; `shared_url` the lab's database ("" for none).
  BenchResults(std::unique_ptr<RecordStore> local, std::string shared_url, Tell tell,
               OutboxTiming timing = {});
  // Stops the sender: it ends within one call to the database (bounded by
  // the database's timeouts). Runs not sent yet stay in the file.
  ~BenchResults() override;

  // Keeps the record in the file (or, when the file cannot take it, straight
  // in the lab's database) and hands it to the sender; never waits for the
  // network when the file took it.
  void save(const TestRecord& record) override;
  // The run replaced in the file and waiting to be sent again; the sender
  // replaces it in the lab's database. A run replaced while it was being
  // sent is sent again.
  void replace(const TestRecord& record) override;
  // From the lab's database when one is named and answers, else from the file.
  std::vector<RunSummary> list(const RunFilter& filter) override;
  std::optional<TestRecord> load(const std::string& run_id) override;
  std::vector<MeasurementPoint> measurement(const std::string& name,
                                            const RunFilter& filter) override;
  std::vector<std::string> measurement_names(const RunFilter& filter) override;
  std::string where() const override;
  // Tries once, on the caller's thread and within the database's timeouts,
  // to send what waits; then the database's address when the run reached
  // it, else the file's path and that the run waits there to be sent.
  std::string where_kept(const std::string& run_id) override;
  // The database, or the file with why, when the database did not answer.
  std::string read_from() const override;

  // Runs kept in the file and not yet in the lab's database.
  std::size_t waiting();

 private:
  // Saves or replaces: in the file first (waiting to be sent when there is a
  // database), straight in the database when the file cannot take it.
  void keep(const TestRecord& record, bool replace);
  void send_loop();
  // Sends what waits; the number sent, or -1 when the database did not take
  // everything (`reason` says why).
  long send_waiting(std::string& reason);
  RecordStore* database(std::string& reason);
  template <typename Read>
  auto read(Read reader);

  std::unique_ptr<RecordStore> local_;
  const std::string shared_url_;
  Tell tell_;
  const OutboxTiming timing_;
  // The PostgreSQL module cannot be loaded: no sender, the file answers.
  bool no_module_ = false;

  std::mutex database_mutex_;  // remote_, down_
  std::unique_ptr<RecordStore> remote_;
  bool down_ = false;
  std::atomic<bool> read_locally_{false};  // the last read fell back to the file

  std::mutex mutex_;  // stopping_, wake_
  std::condition_variable wake_up_;
  bool stopping_ = false, wake_ = false;
  std::thread sender_;

  std::mutex outbox_mutex_;            // between a replace and the sender's mark
  std::vector<std::string> replaced_;  // runs replaced since the sender loaded them
};

// The same as open_bench_results, with the outbox's pauses and the
// database's timeouts set (the tests make them short).
std::unique_ptr<ResultsStore> open_bench_results(const std::string& data_folder,
                                                 const std::string& shared,
                                                 std::function<void(const std::string&)> tell,
                                                 OutboxTiming timing);

}  // namespace Zelvar_Core::bench::results
