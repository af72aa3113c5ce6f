// Tools > Results settings... on real widgets: the operator, station, DUT
// and lab's database kept with the bench's settings across a restart, the
// command line's values used in their place for its run, and a database
// address that does not parse refused in one sentence.
#include "tests/bench/host/bench_fixture.h"
#include "tests/support/layout_check.h"

namespace Zelvar_Core::bench {
namespace {

class ResultsSettingsWindow : public Bench {
 protected:
  // The bench's start as the program makes it, with these command-line values.
  void start_with(const ResultsSettings& command_line) {
    session->use_settings(command_line);
    testing_support::flush_events();
  }
  ResultsSettingsTool& open_settings() {
    choose(tool("Results settings..."));
    EXPECT_TRUE(session->results_settings->IsShown());
    return *session->results_settings;
  }
  fs::path settings_file() const { return start_folder / "tmp" / ".Pravel_settings.json"; }
  static std::string text(const wxTextCtrl* field) { return field->GetValue().utf8_string(); }
  // A self-test's record: who and where the bench says it ran.
  results::TestRecord self_test() {
    choose(tool("Execute test"));
    const auto runs = presenter().results()->list({});
    if (runs.empty()) throw std::runtime_error("no run kept");
    return *presenter().results()->load(runs[0].run_id);
  }
};

TEST_F(ResultsSettingsWindow, TheNamesAndDatabaseAreKeptAcrossARestartAndTheCommandLineComesFirst) {
  start_with({});
  ResultsSettingsTool& settings = open_settings();
  EXPECT_EQ(settings.command_line_text->GetLabel(), "");
  testing_support::wait_until_placed();
  EXPECT_EQ(testing_support::clipped_controls(settings), std::vector<std::string>{});
  EXPECT_EQ(testing_support::controls_without_tooltip(settings), std::vector<std::string>{});
  type(settings.operator_field, "Grace");
  type(settings.station_field, "bench-7");
  type(settings.dut_field, " chip-11 ");  // the blanks around a name are not kept
  type(settings.results_field, "postgresql://127.0.0.1:1/results");
  click(settings.button_save);
  EXPECT_EQ(settings.result_line->text().utf8_string(),
            "Settings kept in " + settings_file().string() +
                "; the results store changes at the bench's next start");
  EXPECT_EQ(text(settings.dut_field), "chip-11");
  // The names from the next run on.
  const results::TestRecord kept = self_test();
  EXPECT_EQ(kept.operator_name, "Grace");
  EXPECT_EQ(kept.station, "bench-7");
  EXPECT_EQ(kept.dut, "chip-11");
  EXPECT_EQ(presenter().results()->where(), (start_folder / "results.db").string());

  // Started again: the settings as they were saved, the database in use.
  stop();
  start();
  start_with({});
  EXPECT_EQ(presenter().results()->where(), "postgresql://127.0.0.1:1/results");
  EXPECT_EQ(presenter().run_site.operator_name, "Grace");
  EXPECT_EQ(presenter().run_site.station, "bench-7");
  EXPECT_EQ(presenter().run_site.dut, "chip-11");
  ResultsSettingsTool& again = open_settings();
  EXPECT_EQ(text(again.operator_field), "Grace");
  EXPECT_EQ(text(again.station_field), "bench-7");
  EXPECT_EQ(text(again.dut_field), "chip-11");
  EXPECT_EQ(text(again.results_field), "postgresql://127.0.0.1:1/results");

  // pravel --operator Ada --results ...: the command line's, for this run only.
  stop();
  start();
  start_with({"Ada", "", "", ""});
  EXPECT_EQ(presenter().results()->where(), "postgresql://127.0.0.1:1/results");
  EXPECT_EQ(presenter().run_site.operator_name, "Ada");
  EXPECT_EQ(presenter().run_site.station, "bench-7");
  ResultsSettingsTool& given = open_settings();
  EXPECT_EQ(text(given.operator_field), "Grace");  // what is kept, not what the line gave
  EXPECT_EQ(given.command_line_text->GetLabel(),
            "Until the bench closes, the command line's --operator is used instead.");
  testing_support::wait_until_placed();
  EXPECT_EQ(testing_support::clipped_controls(given), std::vector<std::string>{});
  // Saved meanwhile, a setting the line gives stays the line's until the bench closes.
  type(given.operator_field, "Lin");
  type(given.station_field, "bench-8");
  type(given.results_field, "");
  click(given.button_save);
  EXPECT_EQ(presenter().run_site.operator_name, "Ada");
  EXPECT_EQ(presenter().run_site.station, "bench-8");
  stop();
  start();
  start_with({"", "", "", ""});
  EXPECT_EQ(presenter().run_site.operator_name, "Lin");
  EXPECT_EQ(presenter().results()->where(), (start_folder / "results.db").string());
}

TEST_F(ResultsSettingsWindow, AnAddressThatDoesNotParseIsRefusedInOneSentenceAndNothingIsKept) {
  start_with({});
  ResultsSettingsTool& settings = open_settings();
  type(settings.operator_field, "Grace");
  const std::pair<const char*, std::string> refused[] = {
      {"http://lab/results",
       "\"http://lab/results\" is not a database address: give postgresql://HOST/DATABASE"},
      {"postgresql://db.lab:99999/results",
       "\"postgresql://db.lab:99999/results\" is not a database address: its port \"99999\" is "
       "not a number 1..65535"},
      {"postgresql://db lab/results",
       "\"postgresql://db lab/results\" is not a database address: it holds a blank or a "
       "control character"},
      {"postgresql://",
       "\"postgresql://\" is not a database address: give postgresql://HOST/DATABASE"},
  };
  for (const auto& [address, said] : refused) {
    SCOPED_TRACE(address);
    type(settings.results_field, address);
    click(settings.button_save);
    EXPECT_EQ(message(), "Error: " + said + "; the settings were not changed.");
    EXPECT_EQ(settings.result_line->text().utf8_string(),
              said + "; the settings were not changed.");
    EXPECT_EQ(settings.results_field->GetBackgroundColour(), kRefusedColour);
    EXPECT_EQ(settings.results_field->GetToolTipText().utf8_string(), said);
    EXPECT_FALSE(fs::exists(settings_file()));
    EXPECT_EQ(presenter().run_site.operator_name, "");
  }
  // Corrected, the mark goes and the settings are kept.
  type(settings.results_field, "postgresql://lab@[::1]:5433/results?sslmode=disable");
  EXPECT_EQ(settings.results_field->GetBackgroundColour(), plain());
  click(settings.button_save);
  EXPECT_TRUE(fs::exists(settings_file()));
  EXPECT_EQ(presenter().run_site.operator_name, "Grace");

  // A settings file that is not one is said in one sentence; the bench goes on.
  stop();
  std::ofstream(settings_file()) << "{\"operator\": 42}";
  start();
  start_with({"", "", "chip-9", ""});
  EXPECT_EQ(message(), "Error: The bench's settings " + settings_file().string() +
                           " are not the bench's settings file; the settings in force are the "
                           "command line's alone");
  EXPECT_EQ(presenter().run_site.dut, "chip-9");
  EXPECT_EQ(presenter().run_site.operator_name, "");
}

}  // namespace
}  // namespace Zelvar_Core::bench
