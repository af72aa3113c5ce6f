// The Results window's table and measurement spread, without a toolkit.
#include "bench/results/run_table.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/fake_results_store.h"

namespace Zelvar_Core::bench::results {
namespace {

using testing_support::FakeResultsStore;
using testing_support::sample_run;

constexpr UtcMicros kHour = 3600LL * 1000000;
constexpr UtcMicros kNewYear = 1767225600LL * 1000000;  // 2026-01-01 00:00 UTC

std::vector<std::string> shown_ids(const RunTable& table) {
  std::vector<std::string> ids;
  for (std::size_t row = 0; row < table.size(); ++row) ids.push_back(table.run(row).run_id);
  return ids;
}

TEST(ResultsFilterText, ReadsUtcDaysAndTimesAndCountsAWholeDayInTo) {
  const RunFilter filter =
      filter_from_text({"chip-7", "vdd.json", "FAIL", "2026-01-02", "2026-01-02"});
  EXPECT_EQ(filter.dut, "chip-7");
  EXPECT_EQ(filter.sequence, "vdd.json");
  EXPECT_EQ(filter.outcome, Outcome::Fail);
  EXPECT_EQ(filter.from, kNewYear + 24 * kHour);
  EXPECT_EQ(filter.to, kNewYear + 48 * kHour);
  const RunFilter timed = filter_from_text({"", "", "", "2026-01-01 06:30", "2026-01-01T07:00:15"});
  EXPECT_EQ(timed.from, kNewYear + 6 * kHour + kHour / 2);
  EXPECT_EQ(timed.to, kNewYear + 7 * kHour + 15 * 1000000);
  EXPECT_FALSE(timed.outcome);
  const RunFilter empty = filter_from_text({"", "", "", " ", ""});
  EXPECT_FALSE(empty.from);
  EXPECT_FALSE(empty.to);
}

TEST(ResultsFilterText, RefusesWhatIsNotATimeOrAnEmptySpanNamingTheField) {
  for (const char* bad : {"yesterday", "2026-13-01", "2026-02-30", "2026-01-01 25:00",
                          "2026-01-01 10", "2026-1-1", "2026-01-01x"}) {
    try {
      filter_from_text({"", "", "", bad, ""});
      ADD_FAILURE() << bad << " was taken";
    } catch (const FilterRefusal& refusal) {
      EXPECT_EQ(refusal.field, FilterRefusal::From);
      EXPECT_EQ(std::string(refusal.what()),
                std::string("From \"") + bad +
                    "\" is not a time: write it as 2026-12-09 or 2026-12-09 14:05 (UTC)");
    }
  }
  try {
    filter_from_text({"", "", "", "2026-01-03", "2026-01-02 23:00"});
    ADD_FAILURE() << "a span ending before it starts was taken";
  } catch (const FilterRefusal& refusal) {
    EXPECT_EQ(refusal.field, FilterRefusal::To);
    EXPECT_STREQ(refusal.what(),
                 "To \"2026-01-02 23:00\" is not after From \"2026-01-03\": no run could be shown");
  }
}

TEST(ResultsTable, ShowsTheStoresRunsNewestFirstAndFiltersThemAsTheStoreDoes) {
  FakeResultsStore store;
  store.save(sample_run(1, "chip-1", "vdd.json", 1.80, 0));
  store.save(sample_run(2, "chip-2", "vdd.json", 1.90, 2 * kHour));
  store.save(sample_run(3, "chip-1", "rates.json", 1.79, 30 * kHour));
  store.save(sample_run(4, "chip-3", "", 1.81, 50 * kHour));  // a sweep: no sequence file
  RunTable table;
  table.read(store);
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table.total(), 4u);
  EXPECT_EQ(table.cell(0, RunTable::Time), "2026-01-03 02:00:00");
  EXPECT_EQ(table.cell(0, RunTable::Sequence), "(sweep)");
  EXPECT_EQ(table.cell(1, RunTable::Dut), "chip-1");
  EXPECT_EQ(table.cell(1, RunTable::Station), "bench-0");
  EXPECT_EQ(table.cell(1, RunTable::Sequence), "rates.json");
  EXPECT_EQ(table.cell(2, RunTable::Result), "FAIL");
  EXPECT_EQ(table.cell(3, RunTable::Result), "PASS");
  EXPECT_EQ(table.cell(9, RunTable::Dut), "") << "a row past the end";
  EXPECT_EQ(table.duts(), (std::vector<std::string>{"chip-1", "chip-2", "chip-3"}));
  EXPECT_EQ(table.sequences(), (std::vector<std::string>{"rates.json", "vdd.json"}));

  // Each filter alone, then together; every time the same runs as the store lists.
  const std::vector<RunFilter> filters = {
      filter_from_text({"chip-1", "", "", "", ""}),
      filter_from_text({"", "vdd.json", "", "", ""}),
      filter_from_text({"", "", "FAIL", "", ""}),
      filter_from_text({"", "", "", "2026-01-01 01:00", "2026-01-02"}),
      filter_from_text({"chip-1", "vdd.json", "PASS", "2026-01-01", "2026-01-01 00:00:01"}),
      filter_from_text({"chip-9", "", "", "", ""})};
  const std::vector<std::vector<std::string>> expected = {
      {"00000000-0000-4000-8000-000000000003", "00000000-0000-4000-8000-000000000001"},
      {"00000000-0000-4000-8000-000000000002", "00000000-0000-4000-8000-000000000001"},
      {"00000000-0000-4000-8000-000000000002"},
      {"00000000-0000-4000-8000-000000000003", "00000000-0000-4000-8000-000000000002"},
      {"00000000-0000-4000-8000-000000000001"},
      {}};
  for (std::size_t i = 0; i < filters.size(); ++i) {
    table.apply(filters[i]);
    EXPECT_EQ(shown_ids(table), expected[i]) << "filter " << i;
    std::vector<std::string> listed;
    for (const auto& run : store.list(filters[i])) listed.push_back(run.run_id);
    EXPECT_EQ(listed, expected[i]) << "filter " << i;
  }
  EXPECT_EQ(table.total(), 4u);

  // Runs read again keep the filter in force.
  table.apply(filters[0]);
  store.save(sample_run(5, "chip-1", "vdd.json", 1.8, 60 * kHour));
  table.read(store);
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(table.row_of("00000000-0000-4000-8000-000000000005"), 0u);
  EXPECT_EQ(table.row_of("00000000-0000-4000-8000-000000000001"), 2u);
  EXPECT_FALSE(table.row_of("00000000-0000-4000-8000-000000000002"));
}

TEST(ResultsTable, AStoreThatCannotBeReadLeavesTheTableAsItWas) {
  FakeResultsStore store;
  store.save(sample_run(1, "chip-1", "vdd.json", 1.80, 0));
  RunTable table;
  table.read(store);
  store.failing = "The results file cannot be read";
  EXPECT_THROW(table.read(store), ResultsError);
  EXPECT_EQ(table.size(), 1u);
}

TEST(ResultsTable, AMeasurementReadOnceGivesEachFilterThePointsTheStoreWouldGive) {
  FakeResultsStore store;
  store.save(sample_run(1, "chip-1", "vdd.json", 1.80, 0));
  store.save(sample_run(2, "chip-2", "vdd.json", 1.90, kHour));
  store.save(sample_run(3, "chip-1", "rates.json", 1.70, 25 * kHour));
  store.save(sample_run(4, "chip-3", "", 1.82, 26 * kHour));
  RunTable table;
  table.read(store);
  // A run kept after the runs were read: its value is not among those shown.
  store.save(sample_run(5, "chip-1", "vdd.json", 1.83, 27 * kHour));
  table.keep_measurement("vdd_mean", store.measurement("vdd_mean", RunFilter{}));
  EXPECT_EQ(table.measurement_kept(), "vdd_mean");
  const auto values = [](const std::vector<MeasurementPoint>& points) {
    std::vector<std::pair<std::string, double>> found;
    for (const auto& p : points) found.emplace_back(p.run_id.substr(30), p.value);
    return found;
  };
  using Values = std::vector<std::pair<std::string, double>>;
  EXPECT_EQ(values(table.measurement_shown()),
            (Values{{"000001", 1.80}, {"000002", 1.90}, {"000003", 1.70}, {"000004", 1.82}}));
  const std::pair<FilterText, Values> cases[] = {
      {{"chip-1", "", "", "", ""}, {{"000001", 1.80}, {"000003", 1.70}}},
      {{"", "vdd.json", "", "", ""}, {{"000001", 1.80}, {"000002", 1.90}}},
      {{"", "", "FAIL", "", ""}, {{"000002", 1.90}, {"000003", 1.70}}},
      {{"", "", "", "2026-01-01 01:00", "2026-01-02 01:30"}, {{"000002", 1.90}, {"000003", 1.70}}},
      {{"chip-1", "rates.json", "FAIL", "2026-01-02", ""}, {{"000003", 1.70}}},
      {{"chip-9", "", "", "", ""}, {}}};
  for (const auto& [text, want] : cases) {
    SCOPED_TRACE(text.dut + "|" + text.sequence + "|" + text.outcome + "|" + text.from);
    table.apply(filter_from_text(text));
    EXPECT_EQ(values(table.measurement_shown()), want);
    // As the store filters them, the run kept since left aside.
    auto from_store = values(store.measurement("vdd_mean", table.filter()));
    from_store.erase(std::remove_if(from_store.begin(), from_store.end(),
                                    [](const auto& v) { return v.first == "000005"; }),
                     from_store.end());
    EXPECT_EQ(from_store, want);
  }
  // The runs read again: the measurement is forgotten, to be read with them.
  table.read(store);
  EXPECT_FALSE(table.measurement_kept());
  EXPECT_TRUE(table.measurement_shown().empty());
}

TEST(ResultsSpread, CountsEveryValueIntoItsBinWithTheNewestLimits) {
  std::vector<MeasurementPoint> points;
  for (double v : {1.0, 1.1, 1.2, 1.9, 2.0, std::nan("")})
    points.push_back({"", 0, "", v, "V", 0.5, 1.5, v > 1.5 ? Outcome::Fail : Outcome::Pass});
  // Older runs checked against other limits.
  points[0].low = 0.4;
  points[0].high = 1.4;
  points[1].low = std::nullopt;
  points[1].high = 3.0;
  points.push_back({"", 0, "", 1.5, "V", std::nullopt, std::nullopt, Outcome::Pass});
  const MeasurementSpread spread = spread_of("vdd_mean", points, 4);
  EXPECT_EQ(spread.values, 6u) << "the value that is not a number is left out";
  EXPECT_EQ(spread.outside, 2u);
  EXPECT_DOUBLE_EQ(spread.lowest, 1.0);
  EXPECT_DOUBLE_EQ(spread.highest, 2.0);
  EXPECT_DOUBLE_EQ(spread.first_edge, 1.0);
  EXPECT_DOUBLE_EQ(spread.bin_width, 0.25);
  EXPECT_EQ(spread.counts, (std::vector<std::size_t>{3, 0, 1, 2}))
      << "1.5 opens the third bin, 2.0 closes the last";
  EXPECT_EQ(spread.low, 0.5);
  EXPECT_EQ(spread.high, 1.5);
  EXPECT_NEAR(spread.mean, 8.7 / 6, 1e-12);
  EXPECT_EQ(spread.unit, "V");
  EXPECT_EQ(spread_text(spread),
            "6 runs; mean 1.45 V, sd 0.423084 V, from 1 to 2 V; 2 outside their limits");
}

TEST(ResultsSpread, ChoosesItsBinsAndHoldsOneValueOrNone) {
  std::vector<MeasurementPoint> points;
  for (int i = 0; i < 10000; ++i)
    points.push_back({"", 0, "", static_cast<double>(i % 100), "", {}, {}, Outcome::Pass});
  const MeasurementSpread many = spread_of("rate_on", points);
  EXPECT_EQ(many.counts.size(), 60u) << "never more than 60 bins";
  std::size_t counted = 0;
  for (auto c : many.counts) counted += c;
  EXPECT_EQ(counted, 10000u);
  EXPECT_EQ(spread_text(many).find("outside"), std::string::npos) << "no limits, none outside";

  points.resize(9);
  for (auto& p : points) p.value = 3.0;
  const MeasurementSpread same = spread_of("rate_on", points);
  ASSERT_EQ(same.counts, (std::vector<std::size_t>{9}));
  EXPECT_LT(same.first_edge, 3.0);
  EXPECT_GT(same.first_edge + same.bin_width, 3.0);
  EXPECT_EQ(spread_text(spread_of("rate_on", {})), "No run shown holds rate_on");
}

}  // namespace
}  // namespace Zelvar_Core::bench::results
