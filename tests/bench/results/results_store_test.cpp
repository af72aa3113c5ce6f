// The results store's behaviour, the same on the bench's SQLite file and on
// a PostgreSQL database: records kept whole, lists, filters, measurements
// across runs, a run kept once, and nothing kept of a record that failed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bench/results/sqlite_store.h"
#include "tests/bench/results/store_backends.h"
#include "tests/support/results_fixture.h"

namespace Zelvar_Core::bench::results {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_support::full_record;

class ResultsStoreTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { backend_ = testing_support::make_store_backend(GetParam()); }
  std::unique_ptr<RecordStore> open() { return backend_->open(); }
  std::int64_t rows_in(const std::string& table) { return backend_->rows_in(table); }

  std::unique_ptr<testing_support::StoreBackend> backend_;
};

std::vector<std::string> ids_of(const std::vector<RunSummary>& runs) {
  std::vector<std::string> ids;
  for (const auto& run : runs) ids.push_back(run.run_id);
  return ids;
}

TEST_P(ResultsStoreTest, ARecordSavedLoadsWithEveryFieldAndAnotherStoreOnTheSamePlaceSeesIt) {
  const TestRecord record = full_record(7);
  open()->save(record);
  const auto loaded = open()->load(record.run_id);
  ASSERT_TRUE(loaded.has_value());
  testing_support::expect_same_record(*loaded, record);
  EXPECT_EQ(open()->load(new_run_id()), std::nullopt);
}

TEST_P(ResultsStoreTest, RunsListNewestFirstAndEachFilterLetsThroughOnlyItsRuns) {
  auto store = open();
  std::vector<TestRecord> records;
  for (int n = 0; n < 6; ++n) {
    TestRecord r = full_record(n, n % 2 ? "chip-odd" : "chip-even");
    r.outcome = n == 3 ? Outcome::Pass : Outcome::Fail;
    if (n >= 4) r.sequence_path = "/other/folder/leak_check.json";
    records.push_back(r);
  }
  // Saved out of order: the list sorts by start, not by arrival.
  for (int n : {2, 0, 5, 1, 4, 3}) store->save(records[static_cast<std::size_t>(n)]);
  auto id = [&](int n) { return records[static_cast<std::size_t>(n)].run_id; };

  const auto all = store->list({});
  EXPECT_THAT(ids_of(all), ElementsAre(id(5), id(4), id(3), id(2), id(1), id(0)));
  EXPECT_EQ(all[0].started, records[5].started);
  EXPECT_EQ(all[0].dut, "chip-odd");
  EXPECT_EQ(all[0].station, records[5].station);
  EXPECT_EQ(all[0].sequence, "leak_check.json");
  EXPECT_EQ(all[0].kind, "sequence");
  EXPECT_EQ(all[2].outcome, Outcome::Pass);

  RunFilter dut;
  dut.dut = "chip-even";
  EXPECT_THAT(ids_of(store->list(dut)), ElementsAre(id(4), id(2), id(0)));
  RunFilter sequence;
  sequence.sequence = "bias_check.json";
  EXPECT_THAT(ids_of(store->list(sequence)), ElementsAre(id(3), id(2), id(1), id(0)));
  RunFilter passed;
  passed.outcome = Outcome::Pass;
  EXPECT_THAT(ids_of(store->list(passed)), ElementsAre(id(3)));
  RunFilter span;  // [from, to): the run starting at `to` is out
  span.from = records[1].started;
  span.to = records[4].started;
  EXPECT_THAT(ids_of(store->list(span)), ElementsAre(id(3), id(2), id(1)));
  RunFilter all_four = span;
  all_four.dut = "chip-odd";
  all_four.outcome = Outcome::Fail;
  all_four.sequence = "bias_check.json";
  EXPECT_THAT(ids_of(store->list(all_four)), ElementsAre(id(1)));
  RunFilter none;
  none.dut = "chip-even' OR '1' = '1";
  EXPECT_TRUE(store->list(none).empty());
}

TEST_P(ResultsStoreTest, ARunSavedAgainIsKeptOnceAsFirstSaved) {
  auto store = open();
  const TestRecord record = full_record(1);
  store->save(record);
  TestRecord again = record;
  again.dut = "chip-other";
  again.measurements.push_back({2, "extra", 1.0, "V", std::nullopt, std::nullopt, Outcome::Pass});
  store->save(again);
  EXPECT_THAT(ids_of(store->list({})), ElementsAre(record.run_id));
  testing_support::expect_same_record(*store->load(record.run_id), record);
  EXPECT_EQ(rows_in("measurements"), 3);
}

TEST_P(ResultsStoreTest, ARunKeptWhileRunningIsReplacedByItsLaterSavesUntilItHasItsOutcome) {
  auto store = open();
  const TestRecord whole = full_record(1);
  TestRecord running = whole;
  running.outcome = Outcome::Incomplete;
  running.ended_because = "The run had not ended.";
  running.steps.resize(1);
  running.measurements.clear();
  running.files.resize(1);
  store->save(running);
  testing_support::expect_same_record(*store->load(whole.run_id), running);

  store->save(whole);
  testing_support::expect_same_record(*store->load(whole.run_id), whole);
  EXPECT_EQ(rows_in("steps"), 2);
  EXPECT_EQ(rows_in("measurements"), 3);
  EXPECT_EQ(rows_in("files"), 2);
  EXPECT_EQ(rows_in("settings"), 3);

  // Its outcome kept, a late save of the run while it ran changes nothing.
  store->save(running);
  testing_support::expect_same_record(*store->load(whole.run_id), whole);
  EXPECT_EQ(rows_in("runs"), 1);
}

TEST_P(ResultsStoreTest, ARecordThatFailsHalfWayLeavesNothingOfItselfAndTheStoreGoesOn) {
  auto store = open();
  TestRecord broken = full_record(2);
  // The second step numbered like the first: the steps table refuses it
  // after the run, its settings and the first step were written.
  broken.steps[1].number = broken.steps[0].number;
  try {
    store->save(broken);
    FAIL() << "two steps of one number were kept";
  } catch (const ResultsError& error) {
    EXPECT_THAT(error.what(), HasSubstr(store->where()));
    EXPECT_THAT(error.what(), HasSubstr(broken.run_id));
  }
  EXPECT_EQ(store->load(broken.run_id), std::nullopt);
  for (const char* table : {"runs", "settings", "steps", "measurements", "files"})
    EXPECT_EQ(rows_in(table), 0) << table;

  const TestRecord good = full_record(3);
  store->save(good);
  EXPECT_THAT(ids_of(store->list({})), ElementsAre(good.run_id));
}

TEST_P(ResultsStoreTest, AMeasurementAcrossRunsComesOldestFirstWithItsLimitsAndTheFilter) {
  auto store = open();
  std::vector<TestRecord> records;
  for (int n = 0; n < 4; ++n) records.push_back(full_record(n, n == 2 ? "chip-b" : "chip-a"));
  records[3].measurements.push_back({2, "leak", 0.5, "nA", 0.0, std::nullopt, Outcome::Pass});
  for (int n : {3, 1, 0, 2}) store->save(records[static_cast<std::size_t>(n)]);

  const auto vdd = store->measurement("vdd_mean", {});
  ASSERT_EQ(vdd.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(vdd[i].run_id, records[i].run_id);
    EXPECT_EQ(vdd[i].started, records[i].started);
    EXPECT_EQ(vdd[i].value, records[i].measurements[0].value);
  }
  EXPECT_EQ(vdd[2].dut, "chip-b");
  EXPECT_EQ(vdd[0].unit, "V");
  EXPECT_EQ(vdd[0].low, 1.70);
  EXPECT_EQ(vdd[0].high, 1.90);
  const auto temp = store->measurement("temp", {});
  EXPECT_EQ(temp[0].low, std::nullopt);
  EXPECT_EQ(temp[0].high, 30.0);
  EXPECT_EQ(temp[0].outcome, Outcome::Fail);

  RunFilter chip_a;
  chip_a.dut = "chip-a";
  const auto only_a = store->measurement("vdd_mean", chip_a);
  ASSERT_EQ(only_a.size(), 3u);
  EXPECT_EQ(only_a[2].run_id, records[3].run_id);
  EXPECT_TRUE(store->measurement("no_such", {}).empty());

  EXPECT_THAT(store->measurement_names({}), ElementsAre("leak", "rate_on", "temp", "vdd_mean"));
  RunFilter chip_b;
  chip_b.dut = "chip-b";
  EXPECT_THAT(store->measurement_names(chip_b), ElementsAre("rate_on", "temp", "vdd_mean"));
}

TEST_P(ResultsStoreTest, ARunReplacedIsKeptAsTheLastRecordWholeAndAWaitingRunStillWaits) {
  auto store = open();
  TestRecord started = full_record(3);
  started.outcome = Outcome::Incomplete;
  started.steps.resize(1);
  started.measurements.clear();
  started.files.clear();
  started.ended_because.clear();
  store->replace(started);  // a run the store does not have yet is saved
  testing_support::expect_same_record(*open()->load(started.run_id), started);

  TestRecord finished = full_record(3);
  finished.run_id = started.run_id;
  finished.measurements.resize(2);
  store->replace(finished);
  testing_support::expect_same_record(*open()->load(started.run_id), finished);
  EXPECT_EQ(rows_in("runs"), 1);
  EXPECT_EQ(rows_in("steps"), 2);
  EXPECT_EQ(rows_in("measurements"), 2);
  EXPECT_EQ(rows_in("files"), 2);

  TestRecord waiting = full_record(4);
  ASSERT_TRUE(store->save_pending(waiting));
  waiting.outcome = Outcome::Pass;
  store->replace(waiting);
  EXPECT_THAT(store->pending(), ElementsAre(waiting.run_id));
  EXPECT_EQ(open()->load(waiting.run_id)->outcome, Outcome::Pass);
}

TEST_P(ResultsStoreTest, AStoreOfTheFirstSchemaVersionIsBroughtUpToDateKeepingItsRuns) {
  const TestRecord old_run = full_record(1);
  {
    // What the first bench that kept records left: its tables and one run.
    auto db = backend_->raw();
    db->begin();
    db->run("CREATE TABLE schema_version (version INTEGER NOT NULL)", {});
    db->run("INSERT INTO schema_version (version) VALUES (1)", {});
    for (const auto& statement : schema_migrations().at(0)) db->run(statement, {});
    db->run(
        "INSERT INTO runs VALUES ($1, 'sequence', $2, $3, 'st', 'op', 'chip-old', 'AER-640', 'SN',"
        " 'design', '/s/bias_check.json', 'bias_check.json', 'abc', '1.9.0', 'PASS', '')",
        {old_run.run_id, old_run.started, old_run.ended});
    db->commit();
  }
  auto store = open();
  EXPECT_EQ(sql_int(backend_->raw()->query("SELECT version FROM schema_version", {}).at(0).at(0)),
            schema_version());
  const auto runs = store->list({});
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].dut, "chip-old");
  // What the newer version brought: the outbox.
  const TestRecord new_run = full_record(2);
  EXPECT_TRUE(store->save_pending(new_run));
  EXPECT_THAT(store->pending(), ElementsAre(new_run.run_id));
  store->mark_sent(new_run.run_id);
  EXPECT_TRUE(store->pending().empty());
  EXPECT_EQ(store->list({}).size(), 2u);
}

TEST_P(ResultsStoreTest, AStoreOfANewerSchemaIsRefusedInOneSentenceAndLeftAsItIs) {
  {
    auto db = backend_->raw();
    db->run("CREATE TABLE schema_version (version INTEGER NOT NULL)", {});
    db->run("INSERT INTO schema_version (version) VALUES (99)", {});
  }
  try {
    open();
    FAIL() << "a store of a newer schema was opened";
  } catch (const ResultsError& error) {
    const std::string message = error.what();
    EXPECT_THAT(message, HasSubstr("schema version 99, newer than this bench reads ("));
    EXPECT_THAT(message, HasSubstr("use a newer bench or another results"));
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_EQ(message.back(), '.');
  }
  auto db = backend_->raw();
  EXPECT_EQ(sql_int(db->query("SELECT version FROM schema_version", {}).at(0).at(0)), 99);
  EXPECT_THROW(db->query("SELECT count(*) FROM runs", {}), SqlFailure);
}

INSTANTIATE_TEST_SUITE_P(Stores, ResultsStoreTest,
                         ::testing::ValuesIn(testing_support::store_backend_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace Zelvar_Core::bench::results
