// The Results window on real widgets: the runs a store keeps, filtered;
// one run's detail; one measurement across the runs; the runs exported;
// a run's files opened.
#include <wx/display.h>
#include <wx/listctrl.h>

#include <thread>

#include "tests/bench/host/bench_fixture.h"
#include "tests/support/eventually.h"
#include "tests/support/fake_results_store.h"
#include "tests/support/layout_check.h"

namespace Zelvar_Core::bench {
namespace {

using results::Outcome;
using testing_support::answer_next_file_dialog;
using testing_support::FakeResultsStore;
using testing_support::sample_run;

constexpr results::UtcMicros kHour = 3600LL * 1000000;

class Results : public Bench {
 protected:
  // Six runs on three chips over three days; chip-2's second run and
  // chip-3's run fail vdd_mean's limits (1.75..1.85 V).
  void keep_runs(results::ResultsStore& store) {
    store.save(sample_run(1, "chip-1", "vdd.json", 1.80, 0));
    store.save(sample_run(2, "chip-2", "vdd.json", 1.79, 1 * kHour));
    store.save(sample_run(3, "chip-1", "vdd.json", 1.81, 25 * kHour));
    store.save(sample_run(4, "chip-2", "vdd.json", 1.90, 26 * kHour));
    store.save(sample_run(5, "chip-3", "rates.json", 1.70, 49 * kHour));
    store.save(sample_run(6, "chip-1", "", 1.82, 50 * kHour));  // a sweep
  }
  ResultsTool& open_results(std::shared_ptr<results::ResultsStore> store) {
    presenter().use_results(std::move(store));
    choose(tool("Results"));
    EXPECT_TRUE(session->results_tool->IsShown());
    return *session->results_tool;
  }
  // The runs column as the list draws it, top to bottom.
  static std::vector<std::string> column(const ResultsTool& tool, int column) {
    std::vector<std::string> cells;
    for (long row = 0; row < tool.runs->GetItemCount(); ++row)
      cells.push_back(tool.runs->GetItemText(row, column).utf8_string());
    return cells;
  }
  static std::vector<std::string> row(const wxListCtrl* list, long item) {
    std::vector<std::string> cells;
    for (int c = 0; c < list->GetColumnCount(); ++c)
      cells.push_back(list->GetItemText(item, c).utf8_string());
    return cells;
  }
  // A click on a row of the runs, as the list tells it.
  void select(ResultsTool& tool, long row) {
    tool.runs->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    testing_support::flush_events();
  }
  void choose_outcome(ResultsTool& tool, const char* word) {
    tool.outcome_choice->SetStringSelection(word);
    testing_support::fire(tool.outcome_choice, wxEVT_CHOICE);
  }
  using Bench::type;
  void type(wxComboBox* field, const std::string& text) {
    field->SetValue(wxString::FromUTF8(text));  // emits wxEVT_TEXT, as typing does
  }
  void enter(wxTextCtrl* field, const std::string& text) {
    type(field, text);
    testing_support::fire(field, wxEVT_TEXT_ENTER);
  }
  // Every control's text shown whole, and each with its tooltip.
  static void expect_whole(const ResultsTool& tool) {
    testing_support::wait_until_placed();
    const auto lines = [](const std::vector<std::string>& found) {
      std::string text;
      for (const auto& line : found) text += "\n  " + line;
      return text;
    };
    const auto clipped = testing_support::clipped_controls(tool);
    EXPECT_TRUE(clipped.empty()) << lines(clipped);
    const auto untipped = testing_support::controls_without_tooltip(tool);
    EXPECT_TRUE(untipped.empty()) << lines(untipped);
  }
  void turn_to(ResultsTool& tool, int page) {
    tool.pages->SetSelection(page);  // sends the page's change, as a click on its tab does
    testing_support::flush_events();
  }
};

TEST_F(Results, WithoutAStoreTheWindowSaysSoInOneSentence) {
  ResultsTool& tool = open_results(nullptr);
  EXPECT_EQ(tool.result_line->text(),
            "The results store could not be opened, so no run can be shown (the log says why).");
  EXPECT_TRUE(wait_for([&] { return shown_whole(*tool.result_line); }));
  EXPECT_EQ(tool.runs->GetItemCount(), 0);
  EXPECT_FALSE(tool.button_export->IsEnabled());
  EXPECT_FALSE(tool.dut_field->IsEnabled());
}

// With a window manager or without (where a frame nobody places opens at
// the screen's corner): the window whole on the main window's screen, made
// smaller where it must be, its controls whole, the main window's menu and
// controls clear.
TEST_F(Results, TheWindowOpensWholeOnTheScreenClearOfTheMainWindowsMenuAndControls) {
  auto store = std::make_shared<FakeResultsStore>();
  keep_runs(*store);
  ResultsTool& tool = open_results(store);
  const int display = wxDisplay::GetFromWindow(&window());
  const wxRect screen =
      wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
  const wxRect main = window().GetRect();
  const wxRect menu(main.x, main.y, main.width, window().ClientToScreen(wxPoint(0, 0)).y - main.y);
  const wxRect controls = window().panel_control->GetScreenRect();
  const auto where = [](const wxRect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
  };
  EXPECT_TRUE(wait_for([&] {
    const wxRect placed = tool.GetRect();
    return screen.Contains(placed) && !placed.Intersects(menu) && !placed.Intersects(controls);
  })) << "the window at "
      << where(tool.GetRect()) << " on a screen of " << where(screen) << "; the menu at "
      << where(menu) << ", the controls at " << where(controls);
  expect_whole(tool);
  turn_to(tool, ResultsTool::kMeasurementPage);
  expect_whole(tool);
}

TEST_F(Results, TheFiltersNarrowTheRunsAndARunShowsEachMeasurementAgainstItsLimits) {
  auto store = std::make_shared<FakeResultsStore>();
  keep_runs(*store);
  ResultsTool& tool = open_results(store);
  EXPECT_EQ(column(tool, 0),
            (std::vector<std::string>{"2026-01-03 02:00:00", "2026-01-03 01:00:00",
                                      "2026-01-02 02:00:00", "2026-01-02 01:00:00",
                                      "2026-01-01 01:00:00", "2026-01-01 00:00:00"}));
  EXPECT_EQ(column(tool, 1),
            (std::vector<std::string>{"chip-1", "chip-3", "chip-2", "chip-1", "chip-2", "chip-1"}));
  EXPECT_EQ(column(tool, 3), (std::vector<std::string>{"(sweep)", "rates.json", "vdd.json",
                                                       "vdd.json", "vdd.json", "vdd.json"}));
  EXPECT_EQ(column(tool, 4),
            (std::vector<std::string>{"PASS", "FAIL", "FAIL", "PASS", "PASS", "PASS"}));
  EXPECT_EQ(tool.count_text->GetLabel(), "6 runs");
  EXPECT_EQ(tool.dut_field->GetCount(), 3u) << "the DUTs to choose from";

  type(tool.dut_field, "chip-2");
  EXPECT_EQ(column(tool, 0),
            (std::vector<std::string>{"2026-01-02 02:00:00", "2026-01-01 01:00:00"}));
  EXPECT_EQ(tool.count_text->GetLabel(), "2 of 6 runs");
  choose_outcome(tool, "FAIL");
  EXPECT_EQ(column(tool, 0), (std::vector<std::string>{"2026-01-02 02:00:00"}));
  type(tool.dut_field, "");
  EXPECT_EQ(column(tool, 1), (std::vector<std::string>{"chip-3", "chip-2"}));
  type(tool.sequence_field, "vdd.json");
  EXPECT_EQ(column(tool, 1), (std::vector<std::string>{"chip-2"}));
  type(tool.sequence_field, "");
  choose_outcome(tool, "Any outcome");
  // A day alone in To counts the whole day in.
  enter(tool.from_field, "2026-01-01 00:30");
  enter(tool.to_field, "2026-01-02");
  EXPECT_EQ(column(tool, 0), (std::vector<std::string>{"2026-01-02 02:00:00", "2026-01-02 01:00:00",
                                                       "2026-01-01 01:00:00"}));
  // A time that is not one: marked and said; the runs shown stay.
  enter(tool.to_field, "tomorrow");
  EXPECT_EQ(tool.result_line->text(),
            "To \"tomorrow\" is not a time: write it as 2026-12-09 or 2026-12-09 14:05 (UTC)");
  EXPECT_EQ(tool.to_field->GetBackgroundColour(), kRefusedColour);
  EXPECT_EQ(tool.to_field->GetValue(), "tomorrow") << "the user's text is kept";
  EXPECT_EQ(tool.runs->GetItemCount(), 3);
  enter(tool.to_field, "");
  EXPECT_EQ(tool.result_line->text(), "");
  EXPECT_NE(tool.to_field->GetBackgroundColour(), kRefusedColour);
  EXPECT_EQ(tool.runs->GetItemCount(), 5);

  // A click on chip-2's failed run: its detail.
  ASSERT_EQ(tool.runs->GetItemText(2, 1), "chip-2");
  select(tool, 2);
  ASSERT_TRUE(tool.run_shown());
  EXPECT_EQ(tool.run_shown()->run_id, "00000000-0000-4000-8000-000000000004");
  EXPECT_EQ(tool.pages->GetSelection(), ResultsTool::kRunPage);
  ASSERT_EQ(tool.measurements_list->GetItemCount(), 2);
  EXPECT_EQ(row(tool.measurements_list, 0),
            (std::vector<std::string>{"2", "vdd_mean", "1.9", "V", "1.75", "1.85", "FAIL"}));
  EXPECT_EQ(tool.measurements_list->GetItemTextColour(0), *wxRED);
  EXPECT_EQ(row(tool.measurements_list, 1),
            (std::vector<std::string>{"2", "rate_on", "1004", "ev/s", "", "", "PASS"}));
  ASSERT_EQ(tool.steps_list->GetItemCount(), 2);
  EXPECT_EQ(row(tool.steps_list, 0),
            (std::vector<std::string>{"1", "set", "VTH_ON set to 2400", "PASS"}));
  const std::string text = tool.run_text->GetValue().utf8_string();
  EXPECT_NE(text.find("sequence run 00000000-0000-4000-8000-000000000004: FAIL\n"
                      "step 2: vdd_mean is outside 1.75..1.85 V\n"
                      "Started 2026-01-02 02:00:00 UTC, ended 2026-01-02 02:00:02 UTC (2.0 s)\n"
                      "DUT chip-2 on AER-640 rev B (serial SN-1004), design aer640_top v3.1\n"
                      "Station bench-1, operator Ada Lovelace, bench 2.0.0\n"
                      "Sequence /lab/sequences/vdd.json"),
            std::string::npos)
      << text;
  expect_whole(tool);
  // A filter that still shows the run keeps it selected; one that does not, not.
  choose_outcome(tool, "FAIL");
  EXPECT_EQ(tool.runs->GetItemState(1, wxLIST_STATE_SELECTED), wxLIST_STATE_SELECTED);
  choose_outcome(tool, "PASS");
  EXPECT_EQ(tool.runs->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), -1);
  EXPECT_EQ(tool.run_shown()->run_id, "00000000-0000-4000-8000-000000000004");

  // The store failing: said, in the window and the status bar; nothing lost.
  store->failing = "The results file cannot be read: disk I/O error";
  click(tool.button_refresh);
  EXPECT_EQ(tool.result_line->text(), "The results file cannot be read: disk I/O error");
  EXPECT_EQ(message(), "The results file cannot be read: disk I/O error");
  EXPECT_EQ(tool.runs->GetItemCount(), 3);
}

TEST_F(Results, AMeasurementAcrossTheRunsShownDrawsItsHistogramAndTrendWithItsLimits) {
  auto store = std::make_shared<FakeResultsStore>();
  keep_runs(*store);
  ResultsTool& tool = open_results(store);
  const int lists = store->lists;
  turn_to(tool, ResultsTool::kMeasurementPage);
  ASSERT_EQ(tool.measurement_choice->GetCount(), 2u);
  EXPECT_EQ(tool.measurement_choice->GetString(0), "rate_on");
  tool.measurement_choice->SetStringSelection("vdd_mean");
  testing_support::fire(tool.measurement_choice, wxEVT_CHOICE);
  EXPECT_EQ(tool.spread().values, 6u);
  EXPECT_EQ(tool.spread().outside, 2u);
  EXPECT_EQ(tool.spread_line->text().utf8_string(),
            "6 runs; mean 1.80333 V, sd 0.0640833 V, from 1.7 to 1.9 V; 2 outside their limits");

  // The histogram: the bins as a staircase over every run, the limits upright.
  const PlotGraphics* histogram = tool.histogram_plot->GetGraphics();
  ASSERT_NE(histogram, nullptr);
  ASSERT_EQ(histogram->traces.size(), 2u);
  EXPECT_EQ(histogram->traces[0].legend, "runs");
  EXPECT_EQ(histogram->xLabel, "vdd_mean (V)");
  double counted = 0;
  const auto& steps = histogram->traces[0].points;
  for (std::size_t i = 1; i + 1 < steps.size(); i += 2) counted += steps[i].y;
  EXPECT_EQ(counted, 6.0);
  EXPECT_EQ(histogram->traces[1].legend, "limits");
  EXPECT_EQ(histogram->traces[1].points[0].x, 1.75);
  EXPECT_EQ(histogram->traces[1].points[1].x, 1.75);
  EXPECT_EQ(histogram->traces[1].points[3].x, 1.85);
  const auto x_axis = tool.histogram_plot->GetXAxis();
  EXPECT_LT(x_axis.first, 1.7);
  EXPECT_GT(x_axis.second, 1.9);

  // The trend: each run's value marked at its time, oldest first; the limits across.
  const PlotGraphics* trend = tool.trend_plot->GetGraphics();
  ASSERT_NE(trend, nullptr);
  ASSERT_EQ(trend->traces.size(), 2u);
  EXPECT_EQ(trend->traces[0].mark, LegendMark::Cross);
  const std::vector<PlotPoint>& marks = trend->traces[0].points;
  ASSERT_EQ(marks.size(), 6u * 6) << "two arms and their gaps per run";
  const double expected_hours[] = {0, 1, 25, 26, 49, 50};
  const double expected_values[] = {1.80, 1.79, 1.81, 1.90, 1.70, 1.82};
  for (std::size_t i = 0; i < 6; ++i) {
    const PlotPoint left = marks[6 * i], right = marks[6 * i + 1], top = marks[6 * i + 4];
    EXPECT_DOUBLE_EQ((left.x + right.x) / 2, expected_hours[i] / 24) << i;
    EXPECT_DOUBLE_EQ(left.y, expected_values[i]) << i;
    EXPECT_DOUBLE_EQ(top.x, expected_hours[i] / 24) << i;
  }
  EXPECT_EQ(trend->xLabel, "days since 2026-01-01 00:00:00 UTC");
  EXPECT_EQ(trend->traces[1].points[0].y, 1.75);
  EXPECT_EQ(trend->traces[1].points[3].y, 1.85);
  EXPECT_LT(tool.trend_plot->GetYAxis().first, 1.7);
  EXPECT_GT(tool.trend_plot->GetYAxis().second, 1.9);
  expect_whole(tool);

  // The filter narrows what is drawn; the measurement stays chosen.
  const int reads = store->measurements_read, names = store->names_read;
  type(tool.dut_field, "chip-1");
  EXPECT_EQ(tool.measurement_choice->GetStringSelection(), "vdd_mean");
  EXPECT_EQ(tool.spread().values, 3u);
  EXPECT_EQ(tool.trend().size(), 3u);
  EXPECT_EQ(tool.trend_plot->GetGraphics()->traces[0].points.size(), 3u * 6);
  EXPECT_EQ(tool.trend_plot->GetGraphics()->xLabel, "days since 2026-01-01 00:00:00 UTC");
  EXPECT_EQ(tool.spread_line->text().utf8_string(),
            "3 runs; mean 1.81 V, sd 0.01 V, from 1.8 to 1.82 V; 0 outside their limits");
  EXPECT_EQ(store->lists, lists) << "the runs filtered in the window, not read again";
  // Exactly chip-1's three values, oldest first, each at its run's time.
  std::vector<std::pair<std::string, double>> shown;
  for (const auto& p : tool.trend()) shown.emplace_back(p.run_id, p.value);
  EXPECT_EQ(shown, (std::vector<std::pair<std::string, double>>{
                       {"00000000-0000-4000-8000-000000000001", 1.80},
                       {"00000000-0000-4000-8000-000000000003", 1.81},
                       {"00000000-0000-4000-8000-000000000006", 1.82}}));
  const auto& chip_1 = tool.trend_plot->GetGraphics()->traces[0].points;
  for (std::size_t i = 0; i < 3; ++i) {
    const double hours[] = {0, 25, 50};
    EXPECT_DOUBLE_EQ(chip_1[6 * i + 4].x, hours[i] / 24) << i;
    EXPECT_DOUBLE_EQ(chip_1[6 * i].y, shown[i].second) << i;
  }
  double binned = 0;
  const auto& bins = tool.histogram_plot->GetGraphics()->traces[0].points;
  for (std::size_t i = 1; i + 1 < bins.size(); i += 2) binned += bins[i].y;
  EXPECT_EQ(binned, 3.0);
  // A failed run's value among those shown, then none of them: the same values picked again.
  choose_outcome(tool, "FAIL");
  type(tool.dut_field, "");
  ASSERT_EQ(tool.trend().size(), 2u);
  EXPECT_EQ(tool.trend()[0].value, 1.90);
  EXPECT_EQ(tool.trend()[1].value, 1.70);
  EXPECT_EQ(tool.spread().outside, 2u);
  choose_outcome(tool, "Any outcome");
  EXPECT_EQ(store->measurements_read, reads) << "the measurement filtered in the window";
  EXPECT_EQ(store->names_read, names);
  // On the Run page a filter redraws nothing; back on this page, it shows what the filter shows.
  turn_to(tool, ResultsTool::kRunPage);
  type(tool.dut_field, "chip-2");
  turn_to(tool, ResultsTool::kMeasurementPage);
  EXPECT_EQ(tool.spread().values, 2u);
  EXPECT_EQ(tool.trend_plot->GetGraphics()->xLabel, "hours since 2026-01-01 01:00:00 UTC");
  type(tool.dut_field, "chip-9");
  EXPECT_EQ(tool.measurement_choice->GetCount(), 2u) << "the store's measurements to choose from";
  EXPECT_EQ(tool.spread_line->text().utf8_string(), "No run shown holds vdd_mean");
  EXPECT_TRUE(tool.trend_plot->GetGraphics()->traces.empty());
  EXPECT_EQ(store->measurements_read, reads);

  // Runs kept since: shown once the runs are read again, their values with them.
  store->save(sample_run(7, "chip-9", "vdd.json", 1.84, 51 * kHour));
  store->save(sample_run(8, "chip-9", "vdd.json", 1.84, 51 * kHour + 60 * 1000000));
  store->save(sample_run(9, "chip-9", "vdd.json", 1.76, 75 * kHour));
  click(tool.button_refresh);
  EXPECT_EQ(tool.measurement_choice->GetStringSelection(), "vdd_mean");
  std::vector<std::pair<std::string, double>> kept;
  for (const auto& p : tool.trend()) kept.emplace_back(p.run_id.substr(30), p.value);
  EXPECT_EQ(kept, (std::vector<std::pair<std::string, double>>{
                      {"000007", 1.84}, {"000008", 1.84}, {"000009", 1.76}}));
  EXPECT_EQ(tool.spread().values, 3u);
  // Two runs a minute apart on a day's axis with the same value: one cross.
  const auto& crosses = tool.trend_plot->GetGraphics()->traces[0].points;
  ASSERT_EQ(crosses.size(), 2u * 6);
  EXPECT_DOUBLE_EQ(crosses[4].x, 0);
  EXPECT_DOUBLE_EQ(crosses[6].y, 1.76);
}

TEST_F(Results, ARunsReportOpensOnTheDesktopAndItsRecordingInThePlaybackTool) {
  // A real recording of the bench, and a report beside it.
  window().button_record->SetValue(true);
  testing_support::fire(window().button_record, wxEVT_TOGGLEBUTTON);
  ASSERT_TRUE(presenter().recording());
  ASSERT_TRUE(wait_for([&] { return image_activity() > 0; }));
  click(window().panel_control->button_start_stop);
  ASSERT_FALSE(presenter().recording());
  const std::string recording = presenter().last_recording();
  const std::string report = (start_folder / "vdd_report.csv").string();
  std::ofstream(report) << "step,outcome\n1,PASS\n";

  auto store = std::make_shared<FakeResultsStore>();
  auto record = sample_run(1, "chip-1", "vdd.json", 1.8, 0);
  record.files = {{"report", report, 20, std::string(64, 'a')},
                  {"recording", recording, fs::file_size(recording), std::string(64, 'b')}};
  store->save(record);
  store->save(sample_run(2, "chip-2", "vdd.json", 1.8, kHour));  // no files
  ResultsTool& tool = open_results(store);
  std::vector<std::string> opened;
  tool.open_file = [&opened](const std::string& path) {
    opened.push_back(path);
    return "Opened " + path;
  };
  select(tool, 0);
  EXPECT_FALSE(tool.button_report->IsEnabled()) << "a run without a report";
  EXPECT_FALSE(tool.button_recording->IsEnabled());
  select(tool, 1);
  ASSERT_EQ(tool.files_list->GetItemCount(), 2);
  EXPECT_EQ(tool.files_list->GetItemText(0, 1), wxString::FromUTF8(report));
  EXPECT_EQ(tool.files_list->GetItemText(0, 2), "20");
  ASSERT_TRUE(tool.button_report->IsEnabled());
  click(tool.button_report);
  EXPECT_EQ(opened, std::vector<std::string>{report});
  EXPECT_EQ(tool.result_line->text(), wxString::FromUTF8("Opened " + report));

  click(tool.button_recording);
  EXPECT_EQ(opened.size(), 1u) << "a recording plays in the bench, not elsewhere";
  ASSERT_TRUE(session->playback_tool.built());
  EXPECT_TRUE(session->playback_tool->IsShown());
  EXPECT_TRUE(session->playback_tool->button_play->IsEnabled());
  EXPECT_NE(session->playback_tool->info_text->GetValue().Find(
                wxString::FromUTF8(fs::path(recording).filename().string())),
            wxNOT_FOUND)
      << session->playback_tool->info_text->GetValue();
  EXPECT_EQ(tool.result_line->text(),
            wxString::FromUTF8("Opened " + recording + " in the Playback tool"));
}

TEST_F(Results, OnTheBenchsResultsFileTheExportWritesTheRunsTheFilterShows) {
  std::vector<std::string> told;
  std::shared_ptr<results::ResultsStore> store = results::open_bench_results(
      start_folder.string(), "", [&told](const std::string& what) { told.push_back(what); });
  keep_runs(*store);
  ResultsTool& tool = open_results(store);
  ASSERT_EQ(tool.runs->GetItemCount(), 6) << ::testing::PrintToString(column(tool, 3));
  type(tool.dut_field, "chip-1");
  choose_outcome(tool, "PASS");
  EXPECT_EQ(column(tool, 0), (std::vector<std::string>{"2026-01-03 02:00:00", "2026-01-02 01:00:00",
                                                       "2026-01-01 00:00:00"}));
  const std::string csv = (start_folder / "reports" / "chip-1.csv").string();
  answer_next_file_dialog(csv);
  click(tool.button_export);
  ASSERT_TRUE(wait_for([&] { return !tool.exporting(); }));
  EXPECT_EQ(testing_support::last_file_dialog().directory,
            wxString::FromUTF8((start_folder / "reports").string()));
  EXPECT_EQ(tool.result_line->text(), wxString::FromUTF8("Exported 3 runs (6 rows) to " + csv));
  EXPECT_TRUE(wait_for([&] { return shown_whole(*tool.result_line); }))
      << shown_whole(*tool.result_line).message();
  // Each run the table shows, in its order, with its two measurements; no other.
  std::ifstream in(csv);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line.rfind("run_id,started_utc,", 0), 0u) << line;
  std::vector<std::string> ids, measurements;
  while (std::getline(in, line)) {
    const std::string id = line.substr(0, line.find(','));
    if (ids.empty() || ids.back() != id) ids.push_back(id);
    measurements.push_back(line.find(",vdd_mean,") != std::string::npos  ? "vdd_mean"
                           : line.find(",rate_on,") != std::string::npos ? "rate_on"
                                                                         : line);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"00000000-0000-4000-8000-000000000006",
                                           "00000000-0000-4000-8000-000000000003",
                                           "00000000-0000-4000-8000-000000000001"}));
  EXPECT_EQ(measurements, (std::vector<std::string>{"vdd_mean", "rate_on", "vdd_mean", "rate_on",
                                                    "vdd_mean", "rate_on"}));

  // The file's runs in detail and across runs, as from any store.
  select(tool, 1);
  ASSERT_TRUE(tool.run_shown());
  EXPECT_EQ(tool.run_shown()->run_id, "00000000-0000-4000-8000-000000000003");
  EXPECT_EQ(row(tool.measurements_list, 0),
            (std::vector<std::string>{"2", "vdd_mean", "1.81", "V", "1.75", "1.85", "PASS"}));
  turn_to(tool, ResultsTool::kMeasurementPage);
  tool.measurement_choice->SetStringSelection("vdd_mean");
  testing_support::fire(tool.measurement_choice, wxEVT_CHOICE);
  EXPECT_EQ(tool.spread().values, 3u);
  EXPECT_EQ(tool.trend().size(), 3u);
  EXPECT_EQ(tool.spread().low, 1.75);
  EXPECT_EQ(tool.spread().high, 1.85);

  // A file that cannot be written: one sentence, the old export left whole.
  fs::create_directories(start_folder / "reports" / "taken.csv");
  answer_next_file_dialog((start_folder / "reports" / "taken.csv").string());
  click(tool.button_export);
  ASSERT_TRUE(wait_for([&] { return !tool.exporting(); }));
  EXPECT_NE(tool.result_line->text().Find("taken.csv"), wxNOT_FOUND) << tool.result_line->text();
  EXPECT_EQ(message(), tool.result_line->text().utf8_string());
  EXPECT_TRUE(fs::is_directory(start_folder / "reports" / "taken.csv"));
  EXPECT_TRUE(told.empty());
}

// Files of a folder whose names start with `name`: the export's file and any temporary beside it.
std::vector<std::string> files_named(const fs::path& folder, const std::string& name) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind(name, 0) == 0)
      found.push_back(entry.path().filename().string());
  std::sort(found.begin(), found.end());
  return found;
}

// The run ids of a CSV export's rows, in order, and how many rows.
std::pair<std::vector<std::string>, int> exported_runs(const fs::path& csv) {
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  std::vector<std::string> ids;
  int rows = 0;
  while (std::getline(in, line)) {
    ++rows;
    const std::string id = line.substr(0, line.find(','));
    if (ids.empty() || ids.back() != id) ids.push_back(id);
  }
  return {ids, rows};
}

TEST_F(Results, AnExportRunsBesideTheWindowSaysHowFarItGotAndRefusesASecondMeanwhile) {
  auto store = std::make_shared<FakeResultsStore>();
  keep_runs(*store);
  ResultsTool& tool = open_results(store);
  type(tool.dut_field, "chip-1");
  const fs::path folder = start_folder / "reports";
  const fs::path csv = folder / "held.csv";
  for (const char* name : {"held.csv", "held-2.csv", "other.csv"}) fs::remove(folder / name);
  store->hold_loads_after(1);
  answer_next_file_dialog(csv.string());
  click(tool.button_export);
  ASSERT_TRUE(store->loads_held(1)) << "the export's second run is being read";
  EXPECT_TRUE(tool.exporting());
  EXPECT_TRUE(wait_for([&] {
    return message() == "Exporting the runs shown to " + csv.string() + ": 1 of 3 runs written";
  })) << message();
  EXPECT_FALSE(fs::exists(csv)) << "no file before it is whole";

  // The window answers meanwhile; a second export is refused before a file is asked for.
  type(tool.dut_field, "chip-2");
  EXPECT_EQ(tool.runs->GetItemCount(), 2);
  click(tool.button_export);
  const std::string refused =
      "An export is already under way: wait for it to end before starting another.";
  EXPECT_EQ(tool.result_line->text(), refused);
  EXPECT_EQ(message(), refused);
  tool.export_csv((folder / "other.csv").string());
  EXPECT_FALSE(fs::exists(folder / "other.csv"));

  // Closing the window leaves the export to end.
  tool.Close();
  store->release_loads();
  ASSERT_TRUE(wait_for([&] { return !tool.exporting(); }));
  EXPECT_EQ(message(), "Exported 3 runs (6 rows) to " + csv.string());
  const auto [ids, rows] = exported_runs(csv);
  EXPECT_EQ(ids, (std::vector<std::string>{"00000000-0000-4000-8000-000000000006",
                                           "00000000-0000-4000-8000-000000000003",
                                           "00000000-0000-4000-8000-000000000001"}))
      << "the runs shown when it started";
  EXPECT_EQ(rows, 6);
  EXPECT_EQ(files_named(folder, "held.csv"), std::vector<std::string>{"held.csv"});

  // Once it has ended, another export is taken.
  choose(this->tool("Results"));
  answer_next_file_dialog((folder / "held-2.csv").string());
  click(tool.button_export);
  ASSERT_TRUE(wait_for([&] { return !tool.exporting(); }));
  EXPECT_EQ(tool.result_line->text(),
            wxString::FromUTF8("Exported 2 runs (4 rows) to " + (folder / "held-2.csv").string()));
  EXPECT_EQ(exported_runs(folder / "held-2.csv").second, 4);
}

TEST_F(Results, AnExportTheStoreFailsHalfWayLeavesTheFileAsItWasAndSaysWhyInOneSentence) {
  auto store = std::make_shared<FakeResultsStore>();
  keep_runs(*store);
  ResultsTool& tool = open_results(store);
  const fs::path folder = start_folder / "reports";
  fs::create_directories(folder);
  const fs::path csv = folder / "failed.csv";
  std::ofstream(csv) << "an earlier export\n";
  store->hold_loads_after(2);
  tool.export_csv(csv.string());
  ASSERT_TRUE(store->loads_held(1));
  store->fail_from_now("The results file cannot be read: disk I/O error");
  store->release_loads();
  ASSERT_TRUE(wait_for([&] { return !tool.exporting(); }));
  EXPECT_EQ(tool.result_line->text(), "The results file cannot be read: disk I/O error");
  EXPECT_EQ(message(), "The results file cannot be read: disk I/O error");
  std::ifstream in(csv);
  const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "an earlier export\n");
  EXPECT_EQ(files_named(folder, "failed.csv"), std::vector<std::string>{"failed.csv"})
      << "no temporary file left";
}

TEST_F(Results, TheBenchClosedDuringAnExportStopsItAndLeavesNoFile) {
  auto store = std::make_shared<FakeResultsStore>();
  keep_runs(*store);
  ResultsTool& tool = open_results(store);
  const fs::path folder = start_folder / "reports";
  fs::create_directories(folder);
  const fs::path csv = folder / "closed.csv";
  fs::remove(csv);
  store->hold_loads_after(1);
  tool.export_csv(csv.string());
  ASSERT_TRUE(store->loads_held(1));
  // The held read answers once the closing bench has asked the export to stop.
  const std::atomic<bool>& stopping = tool.export_stopping();
  std::thread reader([&] {
    testing_support::eventually([&] { return stopping.load(); }, std::chrono::seconds(30));
    store->release_loads();
  });
  stop();
  reader.join();
  EXPECT_EQ(session, nullptr);
  EXPECT_TRUE(files_named(folder, "closed.csv").empty());
}

}  // namespace
}  // namespace Zelvar_Core::bench
