// The filtered runs exported to CSV: one row per measurement with its run's
// fields, quoted where a spreadsheet needs it, and the file whole or not there.
#include "bench/results/csv_export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "bench/results/sqlite_store.h"
#include "tests/support/results_fixture.h"

namespace Zelvar_Core::bench::results {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing_support::full_record;

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> folder_entries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CsvExport, EachMeasurementOfTheFilteredRunsIsARowCarryingItsRun) {
  testing_support::ScratchFolder folder;
  auto store = open_sqlite_store(folder.file("results.db"));
  TestRecord older = full_record(1), newer = full_record(2), other_chip = full_record(3, "chip-9");
  newer.ended_because = "Step 2 (measure) failed: \"rate_on\" low, see log\nline 2";
  newer.measurements.resize(1);
  older.measurements.clear();
  for (const auto& r : {older, newer, other_chip}) store->save(r);

  RunFilter chip;
  chip.dut = "chip-0042";
  const std::string path = folder.file("runs.csv");
  const auto exported = export_runs_csv(*store, chip, path);
  EXPECT_EQ(exported.runs, 2u);
  EXPECT_EQ(exported.rows, 2u);

  const std::string header =
      "run_id,started_utc,ended_utc,dut,station,operator,board_identity,board_serial,design,"
      "sequence_path,sequence_sha256,kind,bench_version,run_outcome,ended_because,step,"
      "measurement,value,unit,low,high,measurement_outcome\r\n";
  const std::string newer_row =
      newer.run_id + "," + utc_text(newer.started) + "," + utc_text(newer.ended) +
      ",chip-0042,bench-2,Ada Lovelace,AER-640 rev B,SN-1002,aer640_top v3.1,"
      "/lab/sequences/bias_check.json," +
      newer.sequence_sha256 + ",sequence,2.0.0,FAIL," +
      "\"Step 2 (measure) failed: \"\"rate_on\"\" low, see log\nline 2\"," +
      "2,vdd_mean,1.802,V,1.7,1.9,PASS\r\n";
  const std::string older_row = older.run_id + "," + utc_text(older.started) + "," +
                                utc_text(older.ended) +
                                ",chip-0042,bench-1,Ada Lovelace,AER-640 rev B,SN-1001,"
                                "aer640_top v3.1,/lab/sequences/bias_check.json," +
                                older.sequence_sha256 + ",sequence,2.0.0,FAIL," +
                                "Step 2 (measure) failed: vdd_mean 1.93 V above 1.90 V.,,,,,,,\r\n";
  EXPECT_EQ(read_all(path), header + newer_row + older_row);
  EXPECT_THAT(folder_entries(folder.path()),
              ElementsAre("results.db", "results.db-shm", "results.db-wal", "runs.csv"));
}

TEST(CsvExport, TimesAreUtcWithMicroseconds) {
  EXPECT_EQ(utc_text(0), "1970-01-01T00:00:00.000000Z");
  EXPECT_EQ(utc_text(1'780'000'000'000'001), "2026-05-28T20:26:40.000001Z");
  EXPECT_EQ(utc_text(-1), "1969-12-31T23:59:59.999999Z");
}

// A store that lists runs and then fails to read one, as a database lost
// half-way through an export does.
class FailingStore : public ResultsStore {
 public:
  void save(const TestRecord&) override {}
  std::vector<RunSummary> list(const RunFilter&) override {
    return {RunSummary{"a", 2, "", "", "", "", Outcome::Pass},
            RunSummary{"b", 1, "", "", "", "", Outcome::Pass}};
  }
  std::optional<TestRecord> load(const std::string& run_id) override {
    if (run_id == "b") throw ResultsError("The results database db cannot read the run b: gone.");
    TestRecord r = full_record();
    r.run_id = run_id;
    return r;
  }
  std::vector<MeasurementPoint> measurement(const std::string&, const RunFilter&) override {
    return {};
  }
  std::vector<std::string> measurement_names(const RunFilter&) override { return {}; }
  std::string where() const override { return "db"; }
};

TEST(CsvExport, AnExportThatFailsLeavesTheOldFileAsItWasAndNoPartBehind) {
  testing_support::ScratchFolder folder;
  const std::string path = folder.file("runs.csv");
  {
    std::ofstream old(path);
    old << "the export of yesterday\n";
  }
  FailingStore store;
  EXPECT_THROW(export_runs_csv(store, {}, path), ResultsError);
  EXPECT_EQ(read_all(path), "the export of yesterday\n");
  EXPECT_THAT(folder_entries(folder.path()), ElementsAre("runs.csv"));

  const std::string nowhere = folder.file("no_such_folder/runs.csv");
  try {
    export_runs_csv(store, {}, nowhere);
    FAIL() << "a file was written in a folder that is not there";
  } catch (const ResultsError& error) {
    EXPECT_THAT(error.what(), StartsWith("The CSV file " + nowhere + " cannot be written: "));
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench::results
