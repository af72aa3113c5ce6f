// Sweeps, sequences and rates from their windows, end to end.
#include <cmath>

#include "tests/bench/host/bench_fixture.h"

namespace Zelvar_Core::bench {
namespace {

using testing_support::answer_next_file_dialog;

class Characterisation : public Bench {
 protected:
  SweepTool& sweep() { return *session->sweep_tool; }
  void set_field(wxTextCtrl* field, const char* text) { field->ChangeValue(text); }
};

TEST_F(Characterisation, ASweepFromItsWindowFillsTheTableAndPlotAndSavesItsCsv) {
  choose(tool("Sweep"));
  ASSERT_TRUE(sweep().IsShown());
  sweep().parameter_choice->SetStringSelection("VTH_ON");
  set_field(sweep().values_field, "2100, 2500");
  set_field(sweep().settle_field, "0.1");
  set_field(sweep().measure_field, "0.3");
  click(sweep().button_run);
  EXPECT_TRUE(sweep().running());
  EXPECT_FALSE(sweep().button_run->IsEnabled());
  // The editors follow what the sweep sets, live.
  ASSERT_TRUE(
      wait_for([&] { return field(window().edit_dac_frame, "VTH_ON")->GetValue() == "2100"; }));
  ASSERT_TRUE(wait_for([&] { return !sweep().running() && sweep().button_run->IsEnabled(); }));
  EXPECT_EQ(sweep().table->GetItemCount(), 2);
  EXPECT_EQ(sweep().table->GetItemText(0, 0), "2100");
  // Every column with its unit.
  std::vector<std::string> headings;
  for (int column = 0; column < sweep().table->GetColumnCount(); ++column) {
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT);
    sweep().table->GetColumn(column, item);
    headings.push_back(item.GetText().utf8_string());
  }
  EXPECT_EQ(headings,
            (std::vector<std::string>{"Value", "ON mean (ev/s)", "ON sd (ev/s)", "OFF mean (ev/s)",
                                      "OFF sd (ev/s)", "VDD (V)", "VDDIO (V)", "Temp. (\u00b0C)",
                                      "Ibias (\u00b5A)"}));
  // The legend shows each trace as the plot draws it: the measured points as crosses.
  const auto& drawn = sweep().plot->GetGraphics()->traces;
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[0].mark, LegendMark::Line);
  EXPECT_EQ(drawn[1].legend, "measured");
  EXPECT_EQ(drawn[1].mark, LegendMark::Cross);
  EXPECT_EQ(drawn[2].mark, LegendMark::ErrorBar);
  EXPECT_EQ(sweep().plot->GetGraphics()->traces.front().points.size(), 2u);
  EXPECT_GT(sweep().plot->GetGraphics()->traces.front().points[0].y,
            sweep().plot->GetGraphics()->traces.front().points[1].y)
      << "a lower ON threshold gives more ON events";
  EXPECT_EQ(model().simulated_device.read_register("VTH_ON"), 2400);
  EXPECT_EQ(message(), "Sweep of VTH_ON done: 2 rows; VTH_ON restored to 2400");
  EXPECT_FALSE(presenter().acquiring()) << "the sweep left the stream it started running";

  const std::string csv = (start_folder / "reports" / "sweep.csv").string();
  answer_next_file_dialog(csv);
  click(sweep().button_csv);
  // Told in the Sweep window, where it was asked for, whole.
  EXPECT_EQ(sweep().saved_line->text(), wxString::FromUTF8("Sweep saved to " + csv));
  EXPECT_TRUE(wait_for([&] { return shown_whole(*sweep().saved_line); }))
      << shown_whole(*sweep().saved_line).message();
  std::ifstream in(csv);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("\nVTH_ON (counts),on_rate_mean_hz,"), std::string::npos) << text;
  EXPECT_NE(text.find("\n2100,"), std::string::npos);
  EXPECT_NE(text.find("\n2500,"), std::string::npos);
  const std::string png = (start_folder / "reports" / "sweep.png").string();
  answer_next_file_dialog(png);
  click(sweep().button_png);
  EXPECT_GT(fs::file_size(png), 1000u);
}

TEST_F(Characterisation, AbortEndsTheSweepAndPutsTheValueBack) {
  choose(tool("Sweep"));
  sweep().parameter_choice->SetStringSelection("VTH_OFF");
  set_field(sweep().values_field, "600, 700, 900, 1000");
  set_field(sweep().settle_field, "0.2");
  set_field(sweep().measure_field, "0.5");
  click(sweep().button_run);
  ASSERT_TRUE(wait_for([&] { return sweep().table->GetItemCount() >= 1; }));
  click(sweep().button_abort);
  ASSERT_TRUE(wait_for([&] { return !sweep().running() && sweep().button_run->IsEnabled(); }));
  EXPECT_EQ(model().simulated_device.read_register("VTH_OFF"), 800);
  EXPECT_NE(message().find("aborted at step"), std::string::npos) << message();
  EXPECT_NE(message().find("VTH_OFF restored to 800"), std::string::npos) << message();
  EXPECT_EQ(field(window().edit_dac_frame, "VTH_OFF")->GetValue(), "800");

  // A value out of range is refused before anything is sent.
  set_field(sweep().values_field, "100, 9000");
  click(sweep().button_run);
  EXPECT_EQ(message(), "Error: Sweep refused: VTH_OFF: 9000 is out of range 0..4095");
  EXPECT_FALSE(sweep().running());
  // The ends of 64 bits are refused by the parameter's range, before any
  // value is made (no division overflows, no list grows without end).
  set_field(sweep().values_field, "");
  const std::tuple<const char*, const char*, const char*, std::string> extremes[] = {
      {"0", "-9223372036854775808", "-1",
       "Error: Sweep refused: VTH_OFF: -9223372036854775808 is out of range 0..4095"},
      {"9223372036854775807", "0", "-9223372036854775808",
       "Error: Sweep refused: VTH_OFF: 9223372036854775807 is out of range 0..4095"},
      {"0", "18446744073709551615", "1",
       "Error: Sweep refused: VTH_OFF: 18446744073709551615 is out of range 0..4095"},
      {"0", "100", "99999999999999999999",
       "Error: Sweep refused: step: 99999999999999999999 is out of range "
       "-9223372036854775808..9223372036854775807"},
      {"0", "4095", "0", "Error: Sweep: the step is zero"},
  };
  for (const auto& [start, stop, step, said] : extremes) {
    set_field(sweep().start_field, start);
    set_field(sweep().stop_field, stop);
    set_field(sweep().step_field, step);
    click(sweep().button_run);
    EXPECT_EQ(message(), said);
    EXPECT_FALSE(sweep().running());
  }
}

TEST_F(Characterisation, ARefusedSweepIsToldInItsWindowWithItsFieldMarked) {
  choose(tool("Sweep"));
  sweep().parameter_choice->SetStringSelection("VTH_ON");
  set_field(sweep().start_field, "0");
  set_field(sweep().stop_field, "5000");
  click(sweep().button_run);
  const std::string said = "Sweep refused: VTH_ON: 5000 is out of range 0..4095";
  EXPECT_EQ(sweep().state_text->GetLabel().utf8_string(), said);
  EXPECT_EQ(sweep().stop_field->GetBackgroundColour(), kRefusedColour);
  EXPECT_EQ(sweep().stop_field->GetToolTipText().utf8_string(), said);
  EXPECT_EQ(sweep().start_field->GetBackgroundColour(), plain());
  EXPECT_EQ(message(), "Error: " + said);
  // Corrected, the mark goes; a bad time marks its own field.
  type(sweep().stop_field, "2800");
  EXPECT_EQ(sweep().stop_field->GetBackgroundColour(), plain());
  set_field(sweep().settle_field, "-1");
  click(sweep().button_run);
  EXPECT_EQ(sweep().state_text->GetLabel(), "Sweep refused: the settle time must be 0..3600 s");
  EXPECT_EQ(sweep().settle_field->GetBackgroundColour(), kRefusedColour);
  EXPECT_FALSE(sweep().running());

  // Without a board, Run waits for one, and the window says why.
  open_simulator();
  plug(false);
  ASSERT_TRUE(wait_for([&] { return !sweep().button_run->IsEnabled(); }));
  EXPECT_EQ(sweep().state_text->GetLabel(), "No board is connected: a sweep needs one");
  plug(true);
  EXPECT_TRUE(wait_for([&] { return sweep().button_run->IsEnabled(); }));
}

TEST_F(Characterisation, ASequenceRunsFromToolsAndWritesItsReport) {
  const fs::path path = start_folder / "quick.json";
  std::ofstream(path) << R"({"name": "quick", "steps": [{"measure": 0.3},
      {"expect": "on_rate_mean", "min": 1000, "max": 1e9}, {"capture": true}]})";
  fs::remove(start_folder / "results.db");
  session->presenter->run_site = {"station-5", "Grace", "chip-11"};
  session->keep_results("");
  answer_next_file_dialog(path.string());
  choose(tool("Run sequence..."));
  auto& runner = *session->sequence_tool;
  EXPECT_TRUE(runner.IsShown());
  ASSERT_TRUE(wait_for([&] { return !runner.running() && runner.last_exit_code() >= 0; }));
  EXPECT_EQ(runner.last_exit_code(), 0);
  EXPECT_EQ(message().rfind(
                "Sequence quick: 1 of 1 expectations held (1 of 1 rows in range); report ", 0),
            0u)
      << message();
  EXPECT_TRUE(fs::exists(runner.last_report()));
  EXPECT_TRUE(fs::exists(start_folder / "captures" / "capture_001.pgm"));
  EXPECT_NE(runner.steps_list->GetString(2).Find("capture: "), wxNOT_FOUND);
  // The window itself says how it went and where the report is.
  EXPECT_EQ(runner.result_text->GetLabel(), "1 of 1 expectations held (1 of 1 rows in range)");
  EXPECT_EQ(runner.report_text->path(), runner.last_report());
  EXPECT_EQ(runner.report_text->GetToolTipText().utf8_string(), runner.last_report());
  EXPECT_TRUE(runner.button_folder->IsEnabled());
  // The time it took, as the log has it.
  const std::string elapsed = runner.elapsed_text->GetLabel().utf8_string();
  ASSERT_EQ(elapsed.rfind("Elapsed ", 0), 0u) << elapsed;
  EXPECT_TRUE(logged(spdlog::level::info, "Sequence quick took " + elapsed.substr(8))) << elapsed;
  // Its test record, kept in the bench's results store with what it wrote.
  auto& store = *session->presenter->results();
  EXPECT_EQ(store.where(), (start_folder / "results.db").string());
  const auto runs = store.list({});
  ASSERT_EQ(runs.size(), 1u);
  const auto record = *store.load(runs[0].run_id);
  EXPECT_EQ(record.outcome, results::Outcome::Pass);
  EXPECT_EQ(record.operator_name, "Grace");
  EXPECT_EQ(record.station, "station-5");
  EXPECT_EQ(record.dut, "chip-11");
  EXPECT_EQ(record.sequence_path, path.string());
  ASSERT_EQ(record.steps.size(), 3u);
  EXPECT_EQ(record.steps[1].outcome, results::Outcome::Pass);
  ASSERT_EQ(record.files.size(), 2u);
  EXPECT_EQ(record.files[0].role, "report");
  EXPECT_EQ(record.files[0].path, runner.last_report());
  EXPECT_EQ(record.files[0].sha256, results::sha256_of_file(runner.last_report()));
  EXPECT_EQ(record.files[1].role, "capture");
  EXPECT_EQ(record.files[1].path, (start_folder / "captures" / "capture_001.pgm").string());
}

TEST_F(Characterisation, TheSequenceWindowShowsEveryStepLineWhole) {
  // From a deep folder, as a long home or clone path gives: the report's
  // path is longer than the screen is wide.
  restart_in_deep_folder(200);
  // An expect over a sweep's rows: a line with a value for each row.
  const fs::path path = start_folder / "rows.json";
  std::ofstream(path) << R"({"name": "rows", "steps": [
      {"sweep": "VTH_ON", "values": [2000, 2200, 2400, 2600], "settle": 0,
       "measure": 0.2},
      {"expect": "on_rate_mean", "min": 1, "max": 1e9}]})";
  answer_next_file_dialog(path.string());
  choose(tool("Run sequence..."));
  auto& runner = *session->sequence_tool;
  ASSERT_TRUE(wait_for([&] { return !runner.running() && runner.last_exit_code() >= 0; }));
  ASSERT_EQ(runner.steps_list->GetCount(), 2u);
  EXPECT_GT(runner.steps_list->GetTextExtent(runner.steps_list->GetString(1)).x, 640)
      << "a line that needs more than the window's first width";
  for (unsigned i = 0; i < runner.steps_list->GetCount(); ++i)
    EXPECT_LE(runner.steps_list->GetTextExtent(runner.steps_list->GetString(i)).x,
              runner.steps_list->GetClientSize().x)
        << runner.steps_list->GetString(i);
  // The report's path whole, or elided in the middle where the screen has
  // no room for it (a deep folder), the whole of it in the tooltip.
  EXPECT_LE(runner.report_text->GetTextExtent(runner.report_text->GetValue()).x,
            runner.report_text->GetClientSize().x);
  EXPECT_EQ(runner.report_text->path(), runner.last_report());
}

TEST_F(Characterisation, ARefusedSequenceShowsItsFileItsStepAndThatNothingRan) {
  const fs::path path = start_folder / "bad.json";
  std::ofstream(path) << R"({"steps": [{"wait": 0}, {"set": "VTH_ON", "value": 9999}]})";
  answer_next_file_dialog(path.string());
  choose(tool("Run sequence..."));
  auto& runner = *session->sequence_tool;
  const std::string said =
      path.string() + ": Step 2: VTH_ON: 9999 is out of range 0..4095; nothing was run";
  EXPECT_TRUE(runner.IsShown());
  EXPECT_EQ(runner.result_text->GetLabel().utf8_string(), said);
  EXPECT_EQ(runner.step_text->GetLabel(), "Refused");
  EXPECT_EQ(runner.steps_list->GetCount(), 0u);
  EXPECT_EQ(message(), "Error: " + said);
  EXPECT_EQ(model().simulated_device.read_register("VTH_ON"), 2400);
}

TEST_F(Characterisation, TheRatesToolShowsOnAndOffOfTheStream) {
  board().clock().hold();  // the board makes no events of its own: the test's are the stream
  choose(tool("Rates"));
  auto& rates = *session->rates_tool;
  click(window().panel_control->button_start_stop);
  ASSERT_TRUE(presenter().acquiring());
  // A stream the test makes: per 100 ms, 3,000 ON and 1,500 OFF events.
  std::vector<Event> events;
  for (std::int64_t bin = 0; bin < 13; ++bin)
    for (int i = 0; i < 4500; ++i)
      events.push_back({bin * 100000 + i * 20, 1, 2, static_cast<std::uint8_t>(i % 3 != 2)});
  board().events().publish(events.data(), events.size());
  presenter().display().settle();  // the meter counts on the display's thread
  rates.refresh();
  const auto& traces = rates.plot->GetGraphics()->traces;
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].legend, "ON");
  EXPECT_EQ(traces[1].legend, "OFF");
  // The first bin is left out (where in it the stream started is not known),
  // and the 13th is still filling.
  ASSERT_EQ(traces[0].points.size(), 11u);
  EXPECT_DOUBLE_EQ(traces[0].points.front().x, 0.2);
  EXPECT_EQ(traces[0].points.back().y, 30000);
  EXPECT_EQ(traces[1].points.back().y, 15000);
  EXPECT_EQ(rates.values_text->GetLabel(), "ON 30.0 kev/s    OFF 15.0 kev/s    ON/OFF 2.000")
      << rates.values_text->GetLabel();
  // In the colours of the image's legend.
  EXPECT_EQ(wxColour(traces[0].colour), kOnColour);
  EXPECT_EQ(wxColour(traces[1].colour), kOffColour);
}

// The board's stream over board time the test lets pass, 100 ms at a time
// (less than the board's FIFO holds), each step published before the next.
class BoardTime {
 public:
  explicit BoardTime(SimulatedDevice& device) : device_(device) { device_.clock().hold(); }
  // Lets `microseconds` of board time pass: what the stream makes of it, if
  // it runs, is published when this returns true.
  template <typename Wait>
  bool pass(std::int64_t microseconds, Wait wait_for) {
    for (std::int64_t done = 0; done < microseconds;) {
      const std::int64_t step = std::min<std::int64_t>(100000, microseconds - done);
      device_.clock().advance(step);
      done += step;
      now_ += step;
      if (device_.acquiring() &&
          !wait_for([&] { return device_.acquisition().published_until() >= now_; }))
        return false;
    }
    return true;
  }

 private:
  SimulatedDevice& device_;
  std::int64_t now_ = 0;
};

TEST_F(Characterisation, TheRatesToolShowsOnlyWhatTheStreamMeasuredAcrossAStop) {
  BoardTime time(board());
  // The display takes each step before the next: on a busy machine it could
  // otherwise fall a queue behind and skip, which is another test's case.
  auto wait = [this](auto condition) {
    const bool published = wait_for(condition);
    presenter().display().settle();
    return published;
  };
  auto& rates = *session->rates_tool;
  auto header = [&] { return rates.values_text->GetLabel().utf8_string(); };
  auto start_stop = [&] { click(window().panel_control->button_start_stop); };
  choose(tool("Rates"));
  EXPECT_EQ(header(), "No events yet");
  // Start 4 s, Stop, 10 s stopped, Start 4 s.
  start_stop();
  // The meter follows once the presenter has heard the stream start: no board
  // time passes before, as none would pass before a user's start is shown.
  ASSERT_TRUE(wait_for([&] { return presenter().rates().following(); }));
  ASSERT_TRUE(time.pass(4050000, wait));
  ASSERT_TRUE(wait_for([&] { return header().rfind("ON ", 0) == 0; })) << header();
  start_stop();
  ASSERT_FALSE(presenter().acquiring());
  // Stopped, the window says so, and the rates it shows are those before the stop.
  ASSERT_TRUE(wait_for([&] { return header().rfind("Stopped at 4.0 s; before: ON ", 0) == 0; }))
      << header();
  ASSERT_TRUE(time.pass(10000000, wait));
  rates.Close();  // opened again while stopped: nothing new, still stopped
  choose(tool("Rates"));
  EXPECT_EQ(header().rfind("Stopped at 4.0 s; before: ON ", 0), 0u) << header();
  start_stop();
  ASSERT_TRUE(presenter().acquiring());
  EXPECT_TRUE(wait_for([&] { return header() == "Started again: measuring"; })) << header();
  ASSERT_TRUE(wait_for([&] { return presenter().rates().following(); }));
  ASSERT_TRUE(time.pass(4000000, wait));
  presenter().display().settle();
  rates.refresh();
  EXPECT_EQ(header().rfind("ON ", 0), 0u) << header();

  // The plot: 100 ms bins from 0.2 to 4.0 s (the first and the one the stop
  // cut short left out), a gap, then from 14.2 s (14.0..14.1 s held the
  // stream only from 14.05 s) to 18.0 s (the bin up to 18.05 s still filling).
  for (const PolySpline& trace : rates.plot->GetGraphics()->traces) {
    SCOPED_TRACE(trace.legend.utf8_string());
    std::vector<double> before, after;
    int gaps = 0;
    for (const PlotPoint& p : trace.points) {
      if (std::isnan(p.x) && std::isnan(p.y)) {
        ++gaps;
        continue;
      }
      (gaps == 0 ? before : after).push_back(p.x);
      EXPECT_GT(p.y, 0) << "at " << p.x;
    }
    EXPECT_EQ(gaps, 1);
    // On a busy machine the display's thread may take the first run's first
    // events before the meter follows the start: that bin is then partial
    // and left out too, and the run shows from 0.3 s.
    ASSERT_TRUE(before.size() == 39u || before.size() == 38u) << ::testing::PrintToString(before);
    const double first = before.size() == 39u ? 0.2 : 0.3;
    ASSERT_EQ(after.size(), 39u);
    for (std::size_t i = 0; i < before.size(); ++i)
      EXPECT_NEAR(before[i], first + 0.1 * static_cast<double>(i), 1e-9);
    for (std::size_t i = 0; i < 39; ++i)
      EXPECT_NEAR(after[i], 14.2 + 0.1 * static_cast<double>(i), 1e-9);
  }
  EXPECT_NEAR(rates.plot->GetXAxis().first, 3.0, 1e-9);
  EXPECT_NEAR(rates.plot->GetXAxis().second, 18.0, 1e-9);
}

// ---- the sweep's test record ----------------------------------------------------------------

class SweepRecord : public Characterisation {
 protected:
  void SetUp() override {
    Characterisation::SetUp();
    presenter().run_site = {"station-5", "Grace", "chip-11"};
    session->keep_results("");
    choose(tool("Sweep"));
  }
  // The one run the bench's results file holds.
  results::TestRecord only_run() {
    const auto runs = presenter().results()->list({});
    if (runs.size() != 1) throw std::runtime_error(std::to_string(runs.size()) + " runs kept");
    return *presenter().results()->load(runs[0].run_id);
  }
};

TEST_F(SweepRecord, ASweepRunInTheWindowIsKeptWithEachPointItsUnitsAndItsTable) {
  sweep().parameter_choice->SetStringSelection("VTH_ON");
  set_field(sweep().values_field, "2100, 2500");
  set_field(sweep().settle_field, "0.1");
  set_field(sweep().measure_field, "0.3");
  click(sweep().button_run);
  ASSERT_TRUE(wait_for([&] { return !sweep().running() && sweep().button_run->IsEnabled(); }));
  ASSERT_EQ(sweep().table->GetItemCount(), 2);

  const results::TestRecord r = only_run();
  EXPECT_EQ(r.kind, "sweep");
  EXPECT_EQ(r.outcome, results::Outcome::Pass);
  EXPECT_EQ(r.ended_because, "");
  EXPECT_EQ(r.operator_name, "Grace");
  EXPECT_EQ(r.station, "station-5");
  EXPECT_EQ(r.dut, "chip-11");
  EXPECT_EQ(r.board_serial, "SIM-0001");
  EXPECT_EQ(setting(r.settings_before, "VTH_ON"), "2400");
  const std::string unit = model().board().registers().find("VTH_ON").unit;
  ASSERT_EQ(r.steps.size(), 2u);
  EXPECT_EQ(r.steps[0].what, "VTH_ON 2100" + (unit.empty() ? "" : " " + unit) + ": measured");
  EXPECT_EQ(r.steps[1].what, "VTH_ON 2500" + (unit.empty() ? "" : " " + unit) + ": measured");
  EXPECT_EQ(r.steps[1].outcome, results::Outcome::Pass);
  EXPECT_LE(r.started, r.steps[0].started);
  EXPECT_LE(r.steps[0].ended, r.steps[1].started);
  // Each point's measurements, with their units, as the table shows them.
  const auto named = [&](const std::string& name) -> const results::MeasurementRecord& {
    for (const auto& m : r.measurements)
      if (m.name == name) return m;
    throw std::runtime_error(name + " not kept");
  };
  for (long row = 0; row < 2; ++row) {
    const std::string at = " at VTH_ON " + sweep().table->GetItemText(row, 0).utf8_string();
    const auto& on = named("on_rate_mean" + at);
    EXPECT_EQ(on.step, row + 1);
    EXPECT_EQ(on.unit, "events/s");
    EXPECT_EQ(wxString::Format("%.0f", on.value), sweep().table->GetItemText(row, 1));
    const auto& vdd = named("vdd_mean" + at);
    EXPECT_EQ(vdd.unit, "V");
    EXPECT_EQ(wxString::Format("%.3f", vdd.value), sweep().table->GetItemText(row, 5));
  }
  // The table, written to the reports folder, kept by its path, size and hash.
  ASSERT_EQ(r.files.size(), 1u);
  const results::FileRecord& csv = r.files[0];
  EXPECT_EQ(csv.role, "report");
  EXPECT_EQ(fs::path(csv.path).parent_path(), start_folder / "reports");
  EXPECT_EQ(csv.size, fs::file_size(csv.path));
  EXPECT_EQ(csv.sha256, results::sha256_of_file(csv.path));
  std::ifstream in(csv.path);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("\n2100,"), std::string::npos) << text;
  EXPECT_NE(text.find("\n2500,"), std::string::npos) << text;
  EXPECT_EQ(sweep().saved_line->text(), wxString::FromUTF8("Sweep saved to " + csv.path));
  EXPECT_EQ(message(), "Sweep of VTH_ON done: 2 rows; VTH_ON restored to 2400");
}

TEST_F(SweepRecord, AStoppedSweepIsKeptIncompleteWhileItRunsThenAbortedWithWhatItMeasured) {
  sweep().parameter_choice->SetStringSelection("VTH_OFF");
  set_field(sweep().values_field, "600, 700, 900, 1000");
  set_field(sweep().settle_field, "0.2");
  set_field(sweep().measure_field, "0.5");
  click(sweep().button_run);
  ASSERT_TRUE(wait_for([&] { return sweep().table->GetItemCount() >= 1; }));
  // A value the window shows is already kept; the run is not over until
  // the window hears its end, which waits for this test to pump events.
  const results::TestRecord running = only_run();
  EXPECT_EQ(running.outcome, results::Outcome::Incomplete);
  EXPECT_GE(running.steps.size(), 1u);
  const std::string unit = model().board().registers().find("VTH_OFF").unit;
  EXPECT_EQ(running.steps[0].what, "VTH_OFF 600" + (unit.empty() ? "" : " " + unit) + ": measured");
  EXPECT_TRUE(running.files.empty());
  click(sweep().button_abort);
  ASSERT_TRUE(wait_for([&] { return !sweep().running() && sweep().button_run->IsEnabled(); }));

  const results::TestRecord r = only_run();
  EXPECT_EQ(r.run_id, running.run_id);
  EXPECT_EQ(r.outcome, results::Outcome::Aborted);
  const auto measured = static_cast<std::size_t>(sweep().table->GetItemCount());
  ASSERT_LT(measured, 4u);
  ASSERT_EQ(r.steps.size(), measured + 1);
  for (std::size_t i = 0; i < measured; ++i) EXPECT_EQ(r.steps[i].outcome, results::Outcome::Pass);
  EXPECT_EQ(r.steps.back().outcome, results::Outcome::Aborted);
  EXPECT_EQ(r.ended_because,
            fmt::format("aborted at step {} of 4; VTH_OFF restored to 800", measured + 1));
  // What it measured before the stop is its report.
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].sha256, results::sha256_of_file(r.files[0].path));
}

}  // namespace
}  // namespace Zelvar_Core::bench
