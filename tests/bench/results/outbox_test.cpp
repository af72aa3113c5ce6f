// The bench's records on their way to the lab's database: kept in the file
// first, waiting there while the database is away, sent once when it is back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "bench/results/bench_results.h"
#include "tests/bench/results/store_backends.h"
#include "tests/support/eventually.h"

namespace Zelvar_Core::bench::results {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_support::eventually;
using testing_support::full_record;

// What the store told, for the log and the status bar.
class Told {
 public:
  std::function<void(const std::string&)> sink() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool heard(const std::string& line) {
    const auto all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

OutboxTiming quick_timing() {
  OutboxTiming timing;
  timing.first_retry = std::chrono::milliseconds(50);
  timing.longest_retry = std::chrono::milliseconds(400);
  timing.database.connect_seconds = 2;
  timing.database.statement_seconds = 2;
  return timing;
}

std::int64_t count(SqlConnection& db, const std::string& sql, const std::string& run_id) {
  return sql_int(db.query(sql, {run_id}).at(0).at(0));
}

TEST(Outbox, ARunMadeWhileTheDatabaseIsDownWaitsInTheFileAndIsSentOnceWhenItIsBack) {
  testing_support::PostgresServer server;
  testing_support::ScratchFolder folder;
  Told told;
  auto store =
      open_bench_results(folder.path().string(), server.url(), told.sink(), quick_timing());
  auto& outbox = dynamic_cast<BenchResults&>(*store);
  const std::string where = store->where();
  EXPECT_EQ(where, server.url());

  const TestRecord before = full_record(1);
  store->save(before);
  // Told where it is only once the database took it.
  EXPECT_EQ(store->where_kept(before.run_id), where);
  auto database = [&] { return open_postgres_connection(server.url()); };
  const char* runs_of = "SELECT count(*) FROM runs WHERE run_id = $1";
  const char* measurements_of = "SELECT count(*) FROM measurements WHERE run_id = $1";
  ASSERT_TRUE(eventually([&] { return outbox.waiting() == 0; }, std::chrono::seconds(30)));
  EXPECT_EQ(count(*database(), runs_of, before.run_id), 1);

  server.stop();
  const TestRecord during = full_record(2);
  store->save(during);
  ASSERT_TRUE(eventually(
      [&] {
        return told.heard("The results database at " + where +
                          " does not answer: 1 run kept here, sent when it answers");
      },
      std::chrono::seconds(30)))
      << ::testing::PrintToString(told.lines());
  // Kept here, whole, waiting; the bench's lists still show it.
  auto file = open_sqlite_store(folder.file("results.db"));
  testing_support::expect_same_record(*file->load(during.run_id), during);
  EXPECT_THAT(file->pending(), ElementsAre(during.run_id));
  EXPECT_EQ(store->where_kept(during.run_id),
            folder.file("results.db") + ", waiting to be sent to " + where);
  EXPECT_EQ(store->list({}).size(), 2u);
  EXPECT_EQ(store->read_from(),
            folder.file("results.db") + " (the results database " + where + " did not answer)");

  server.start();
  ASSERT_TRUE(eventually(
      [&] { return told.heard("The results database at " + where + " answers again: 1 run sent"); },
      std::chrono::seconds(30)))
      << ::testing::PrintToString(told.lines());
  EXPECT_EQ(outbox.waiting(), 0u);
  EXPECT_EQ(store->list({}).size(), 2u);
  EXPECT_EQ(store->read_from(), where);
  auto back = database();
  EXPECT_EQ(count(*back, runs_of, during.run_id), 1);
  EXPECT_EQ(count(*back, measurements_of, during.run_id), 3);
  EXPECT_EQ(sql_int(back->query("SELECT count(*) FROM runs", {}).at(0).at(0)), 2);
  testing_support::expect_same_record(*open_postgres_store(server.url())->load(during.run_id),
                                      during);
}

TEST(Outbox, ARunTheDatabaseTookButTheFileStillHoldsAsWaitingIsKeptThereOnce) {
  // A bench stopped after the database committed the run and before the
  // file marked it sent: the next bench sends it again.
  testing_support::PostgresBackend backend;
  testing_support::ScratchFolder folder;
  const TestRecord record = full_record(4);
  open_postgres_store(backend.url())->save(record);
  open_sqlite_store(folder.file("results.db"))->save_pending(record);

  Told told;
  auto store =
      open_bench_results(folder.path().string(), backend.url(), told.sink(), quick_timing());
  auto& outbox = dynamic_cast<BenchResults&>(*store);
  ASSERT_TRUE(eventually([&] { return outbox.waiting() == 0; }, std::chrono::seconds(30)))
      << ::testing::PrintToString(told.lines());
  EXPECT_EQ(backend.rows_in("runs"), 1);
  EXPECT_EQ(backend.rows_in("measurements"), 3);
  EXPECT_EQ(backend.rows_in("steps"), 2);
  EXPECT_TRUE(told.lines().empty()) << ::testing::PrintToString(told.lines());
}

TEST(Outbox, ARunReplacedAfterItWasSentIsReplacedWholeInTheDatabaseToo) {
  // A run kept INCOMPLETE as it starts reaches the database; its end replaces it there.
  testing_support::PostgresBackend backend;
  testing_support::ScratchFolder folder;
  Told told;
  auto store =
      open_bench_results(folder.path().string(), backend.url(), told.sink(), quick_timing());
  auto& outbox = dynamic_cast<BenchResults&>(*store);
  TestRecord started = full_record(5);
  started.outcome = Outcome::Incomplete;
  started.steps.resize(1);
  started.measurements.clear();
  started.files.clear();
  store->replace(started);
  ASSERT_TRUE(eventually([&] { return outbox.waiting() == 0; }, std::chrono::seconds(30)))
      << ::testing::PrintToString(told.lines());
  testing_support::expect_same_record(*open_postgres_store(backend.url())->load(started.run_id),
                                      started);

  TestRecord finished = full_record(5);
  finished.run_id = started.run_id;
  store->replace(finished);
  ASSERT_TRUE(eventually([&] { return outbox.waiting() == 0; }, std::chrono::seconds(30)))
      << ::testing::PrintToString(told.lines());
  testing_support::expect_same_record(*open_postgres_store(backend.url())->load(started.run_id),
                                      finished);
  testing_support::expect_same_record(
      *open_sqlite_store(folder.file("results.db"))->load(started.run_id), finished);
  EXPECT_EQ(backend.rows_in("runs"), 1);
  EXPECT_EQ(backend.rows_in("steps"), 2);
  EXPECT_EQ(backend.rows_in("measurements"), 3);
}

TEST(Outbox, WithoutADatabaseTheFileIsTheStoreAndAnAddressOfAnotherKindIsRefused) {
  testing_support::ScratchFolder folder;
  auto store = open_bench_results(folder.path().string(), "", nullptr);
  EXPECT_EQ(store->where(), folder.file("results.db"));
  const TestRecord record = full_record(5);
  store->save(record);
  EXPECT_TRUE(open_sqlite_store(folder.file("results.db"))->pending().empty());
  try {
    open_bench_results(folder.path().string(), "mysql://lab:pw-31@db/results", nullptr);
    FAIL() << "a database of another kind was taken";
  } catch (const ResultsError& error) {
    EXPECT_EQ(std::string(error.what()),
              "The results database mysql://lab@db/results is not a postgresql:// address.");
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench::results
