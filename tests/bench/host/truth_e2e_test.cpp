// The bench tells the truth: files land where the bench was started, a board
// that is not there is refused in one sentence, every error reaches the
// user, and refused values are marked and explained.
#include <wx/accel.h>
#include <wx/progdlg.h>

#include "bench/host/app/toolkit_log.h"
#include "bench/host/presenter/field_state.h"
#include "bench/host/windows/bench_keys.h"
#include "tests/bench/host/bench_fixture.h"
#include "tests/support/eventually.h"

namespace Zelvar_Core::bench {
namespace {

using testing_support::answer_next_file_dialog;
using testing_support::cancel_next_file_dialog;

TEST_F(Bench, FilesStayInTheStartFolderAfterTheDialogMovesTheWorkingFolder) {
  const std::string elsewhere = write_bitstream("far.bit", "far_design", 100000, "away/bits");
  answer_next_file_dialog(elsewhere);
  choose(window().menu_bar->menu_device->item_program);
  ASSERT_EQ(fs::current_path(), start_folder / "away/bits") << "the dialog did not move it";
  ASSERT_EQ(status(kStatusBitstream), "Bitstream: far_design");

  click(window().panel_control->button_capture);
  const fs::path capture = start_folder / "captures/capture_001.pgm";
  EXPECT_EQ(message(), "Captured " + capture.string());
  EXPECT_TRUE(fs::exists(capture));
  EXPECT_FALSE(fs::exists(start_folder / "away/bits/captures"));

  cancel_next_file_dialog();
  choose(window().menu_bar->menu_edit->item_save_preset);
  EXPECT_EQ(testing_support::last_file_dialog().directory, (start_folder / "presets").string());
  cancel_next_file_dialog();
  choose(window().menu_bar->menu_edit->item_load_preset);
  EXPECT_EQ(testing_support::last_file_dialog().directory, (start_folder / "presets").string());

  EXPECT_TRUE(fs::exists(start_folder / "tmp/.Pravel_recent_files"));
  EXPECT_FALSE(fs::exists(start_folder / "away/bits/tmp"));
  choose(tool("Log"));
  click(session->log_tool->button_folder);
  EXPECT_EQ(session->log_tool->folder_text->path(), (start_folder / "logs").string());
}

TEST_F(Bench, AnUnpluggedBoardGreysItsControlsAndRefusesWhatStillArrives) {
  open_simulator();
  choose(tool("ADCs"));
  plug(false);
  auto& panel = *window().panel_control;
  for (wxWindow* control : std::initializer_list<wxWindow*>{
           panel.button_start_stop, panel.button_capture, panel.button_reset,
           panel.button_reset_periphery, panel.button_reset_chip, panel.modes_box})
    EXPECT_FALSE(control->IsEnabled()) << control->GetLabel();
  EXPECT_FALSE(window().edit_register_device_frame->panel_values->IsEnabled());
  EXPECT_FALSE(window().edit_dac_frame->panel_values->IsEnabled());
  EXPECT_FALSE(chip_editor().signals_panel->IsEnabled());
  EXPECT_FALSE(chip_editor().button_apply->IsEnabled());
  EXPECT_FALSE(window().adc_control_frame->panel_menu->IsEnabled());

  // Requests that still arrive (a script, a stale event) are refused, never done.
  const std::pair<wxWindow*, std::string> refusals[] = {
      {panel.button_reset, "No board is connected: reset not sent"},
      {panel.button_reset_periphery, "No board is connected: reset not sent"},
      {panel.button_reset_chip, "No board is connected: reset not sent"},
      {panel.button_capture, "No board is connected: nothing captured"},
      {panel.button_start_stop, "No board is connected: acquisition not started"},
  };
  for (const auto& [button, sentence] : refusals) {
    click(button);
    EXPECT_EQ(message(), "Error: " + sentence);
  }
  EXPECT_TRUE(board().resets.issued.empty());
  EXPECT_FALSE(fs::exists(start_folder / "captures"));
  select_mode(2);
  EXPECT_EQ(message(), "Error: No board is connected: mode not changed");
  EXPECT_EQ(panel.modes_box->GetSelection(), 0) << "the box shows a mode the chip is not in";
  choose(window().menu_bar->menu_device->item_info);
  EXPECT_EQ(window().device_info_frame->txt_value_sn->GetLabel(), "");
  EXPECT_EQ(window().device_info_frame->txt_value_vendor->GetLabel(), "");

  // A chip signal whose write fails shows the board's value again.
  ASSERT_TRUE(chip_box("EN_AER")->GetValue());
  check(chip_box("EN_AER"), false);
  EXPECT_EQ(message(), "Error: No board is connected: EN_AER not written");
  EXPECT_TRUE(chip_box("EN_AER")->GetValue());

  plug(true);
  for (wxWindow* control : std::initializer_list<wxWindow*>{
           panel.button_start_stop, panel.button_reset, panel.modes_box,
           window().edit_dac_frame->panel_values, chip_editor().signals_panel,
           window().adc_control_frame->panel_menu})
    EXPECT_TRUE(control->IsEnabled()) << control->GetName();
}

TEST_F(Bench, AdcSamplingStopsOnUnplugAndResumesOnReplugWhileTheMonitorIsOpen) {
  open_simulator();
  choose(tool("ADCs"));
  auto& vdd = presenter().adc_channels().at("vdd");
  ASSERT_TRUE(wait_for([&] { return vdd.data_t.size() >= 3; }));
  plug(false);
  EXPECT_FALSE(presenter().sampling_adc());
  EXPECT_EQ(message(), "Board disconnected: acquisition stopped, ADC sampling paused");
  EXPECT_FALSE(window().adc_control_frame->panel_menu->IsEnabled());
  // The sampler was joined with the unplug: a sample it queued before runs
  // now, and must not be kept.
  const auto stopped = vdd.data_t.size();
  ASSERT_TRUE(testing_support::round_trip());
  EXPECT_EQ(vdd.data_t.size(), stopped);

  plug(true);
  EXPECT_TRUE(presenter().sampling_adc());
  EXPECT_TRUE(window().adc_control_frame->panel_menu->IsEnabled());
  ASSERT_TRUE(wait_for([&] { return vdd.data_t.size() >= stopped + 3; }));
  EXPECT_TRUE(std::is_sorted(vdd.data_t.begin(), vdd.data_t.end()));

  // The sampler may read the unpowered board before the bench hears of the
  // unplug: that is the pause, not an error.
  mark_log();
  board().set_connected(false);
  EXPECT_TRUE(testing_support::eventually([&] { return !presenter().sampling_adc(); }))
      << "the sampler never read the unplugged board";
  // The bench hears of the unplug and joins the sampler, whose failure is
  // then queued; a round trip through the queue runs it.
  ASSERT_TRUE(wait_for([&] { return status(kStatusConnection) == connection_text(false); }));
  ASSERT_TRUE(testing_support::round_trip());
  EXPECT_EQ(message(), "Board disconnected: acquisition stopped, ADC sampling paused");
  EXPECT_FALSE(logged(spdlog::level::err, "ADC sampling stopped: the board does not answer"));
  plug(true);
  EXPECT_TRUE(presenter().sampling_adc());

  // Closed, it stays stopped across a replug.
  window().adc_control_frame->Close();
  plug(false);
  plug(true);
  EXPECT_FALSE(presenter().sampling_adc());
}

TEST_F(Bench, ACorrectedValueAfterARefusalIsWhatTheNextApplyTakes) {
  // The focus leaves the field for the button before the click.
  choose(window().menu_bar->menu_image->item_histogram);
  auto& h = histogram();
  type(h.bins_field, "0");
  testing_support::fire(h.bins_field, wxEVT_TEXT_ENTER);
  EXPECT_TRUE(h.fields.refused(h.bins_field));
  type(h.bins_field, "128");
  EXPECT_FALSE(h.fields.refused(h.bins_field)) << "an edit again";
  leave(h.bins_field);
  click(h.panel_histogram_plot->button_scale);
  EXPECT_EQ(model().histogram.bins, 128);
  EXPECT_EQ(h.bins_field->GetValue(), "128");

  choose(tool("ADCs"));
  auto* sample = window().adc_control_frame->panel_menu->sampletime_textbox;
  type(sample, "0");
  press(sample, WXK_RETURN);
  EXPECT_TRUE(presenter().adc_fields().refused(sample));
  type(sample, "0.2");
  leave(sample);
  click(window().adc_control_frame->panel_menu->button_update);
  EXPECT_EQ(presenter().sample_time(), 0.2);
}

TEST_F(Bench, TheOneShotFailuresUntickThemselvesWhenTheyFired) {
  open_simulator();
  auto& simulator = *session->simulator;
  check(simulator.fail_programming, true);
  check(simulator.fail_register_read, true);
  EXPECT_THROW(board().program(write_bitstream("x.bit", "x")), std::runtime_error);
  EXPECT_THROW(board().read_bank(Bank::Dac), std::runtime_error);
  EXPECT_TRUE(wait_for([&] {
    return !simulator.fail_programming->GetValue() && !simulator.fail_register_read->GetValue();
  }));
}

TEST_F(Bench, SelfTestCountsPassedFailedAndNotRun) {
  mark_log();
  choose(tool("Execute test"));
  EXPECT_EQ(message(), "Self-test: 6 passed, 0 failed, 0 not run");
  EXPECT_TRUE(logged(spdlog::level::info, "Test event stream: pass"));
  EXPECT_FALSE(presenter().acquiring());
  open_simulator();
  plug(false);
  choose(tool("Execute test"));
  EXPECT_EQ(message(),
            "Self-test: 0 passed, 1 failed, 5 not run; connection failed: no board is connected; "
            "not run: no board is connected");
  EXPECT_TRUE(logged(spdlog::level::warn, "Test identity: not run: no board is connected"));
}

TEST_F(Bench, StartNeedsADesignAndProgrammingStopsTheStream) {
  click(window().panel_control->button_start_stop);
  ASSERT_TRUE(presenter().acquiring());
  const std::string path = write_bitstream("design.bit", "aer640_e2e", 400 * 1024);
  open_simulator();
  check(session->simulator->fail_programming, true);
  answer_next_file_dialog(path);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_FALSE(presenter().acquiring()) << "the stream ran while the board was configured";
  ASSERT_TRUE(
      wait_for([&] { return window().panel_control->button_start_stop->GetLabel() == "Start"; }));
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: none");
  click(window().panel_control->button_start_stop);
  EXPECT_EQ(message(),
            "Error: No design on the board: program a bitstream before starting the acquisition");
  EXPECT_FALSE(presenter().acquiring());
}

TEST_F(Bench, CancellingProgrammingIsInformationNotAnError) {
  mark_log();
  board().bytes_per_second = 4e6;
  const std::string path = write_bitstream("design.bit", "aer640_e2e", 2 << 20);
  presenter().programming_progress().on_advance = [&](int percent) {
    auto* dialog = presenter().programming_progress().dialog();
    if (percent >= 20 && dialog)
      testing_support::fire(dialog->FindWindow(wxID_CANCEL), wxEVT_BUTTON);
  };
  answer_next_file_dialog(path);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_EQ(message(), "Programming cancelled");
  EXPECT_TRUE(logged(spdlog::level::info, "Programming cancelled"));
  for (const auto& entry : LogBook::instance().since(log_mark))
    EXPECT_LT(entry.level, spdlog::level::err) << entry.message;
  // A later success replaces an earlier error; the log keeps both.
  click(window().panel_control->button_capture);
  EXPECT_EQ(message().rfind("Captured ", 0), 0u);
}

TEST_F(Bench, RefusedSettingsAreMarkedExplainedAndTheValueInForceComesBack) {
  choose(tool("ADCs"));
  auto* sample = window().adc_control_frame->panel_menu->sampletime_textbox;
  for (const char* bad : {"0", "-1", "abc", "0.001"}) {
    type(sample, bad);
    press(sample, WXK_RETURN);  // Enter applies, as the Update button does
    EXPECT_EQ(message(), std::string("Error: Sample time \"") + bad +
                             "\" must be a number of seconds from 0.01 to 10");
    EXPECT_EQ(sample->GetBackgroundColour(), kRefusedColour) << bad;
    EXPECT_EQ(sample->GetToolTipText(), message().substr(7));
  }
  leave(sample);
  EXPECT_EQ(sample->GetValue(), "0.1");
  EXPECT_EQ(sample->GetBackgroundColour(), plain());
  type(sample, " 0.05 ");
  press(sample, WXK_RETURN);
  EXPECT_EQ(presenter().sample_time(), 0.05);
  EXPECT_EQ(message(), "Sample time 0.05 s");
  type(sample, "7");
  press(sample, WXK_ESCAPE);
  EXPECT_EQ(sample->GetValue(), "0.05");

  choose(window().menu_bar->menu_image->item_histogram);
  auto& h = histogram();
  type(h.max_field, "-20");
  press(h.max_field, WXK_RETURN);
  wxCommandEvent enter(wxEVT_TEXT_ENTER, h.max_field->GetId());
  enter.SetEventObject(h.max_field);
  h.max_field->GetEventHandler()->ProcessEvent(enter);
  EXPECT_EQ(message(), "Error: Histogram: Max (-20) must be greater than Min (-16)");
  EXPECT_TRUE(h.fields.refused(h.max_field));
  EXPECT_TRUE(h.fields.refused(h.min_field));
  EXPECT_FALSE(h.fields.refused(h.bins_field));
  leave(h.max_field);
  EXPECT_EQ(h.max_field->GetValue(), "16");
  EXPECT_FALSE(h.fields.refused(h.min_field));
  type(h.bins_field, "0");
  testing_support::fire(h.bins_field, wxEVT_TEXT_ENTER);
  EXPECT_EQ(message(), "Error: Histogram: Bins 0 is out of range 1..4096");
  EXPECT_TRUE(h.fields.refused(h.bins_field));
  EXPECT_EQ(model().histogram.bins, 32);
  press(h.bins_field, WXK_ESCAPE);
  EXPECT_EQ(h.bins_field->GetValue(), "32");
  mark_log();
  type(h.bins_field, "64");
  testing_support::fire(h.bins_field, wxEVT_TEXT_ENTER);
  EXPECT_EQ(model().histogram.bins, 64);
  EXPECT_TRUE(logged(spdlog::level::info, "Histogram rescaled: -16 to 16 in 64 bins"));
}

TEST_F(Bench, ToolkitAssertionsAndLogErrorsGoToTheLogWithoutABox) {
  ToolkitRouting routing;  // as the program has it
  mark_log();
  wxFAIL_MSG("a probe of the bench's routing");
  wxLogError("The disk went away");
  wxLog::FlushActive();
  const auto entries = LogBook::instance().since(log_mark);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].logger, "wx");
  EXPECT_EQ(entries[0].level, spdlog::level::err);
  EXPECT_NE(entries[0].message.find("Toolkit assertion failed at "), std::string::npos);
  EXPECT_NE(entries[0].message.find("a probe of the bench's routing"), std::string::npos);
  EXPECT_EQ(entries[1].logger, "wx");
  EXPECT_EQ(entries[1].message, "The disk went away");
  EXPECT_EQ(message(), "Error: The disk went away");
}

TEST_F(Bench, TheLogToolShowsThisRunFilteredByLevel) {
  choose(tool("Log"));
  auto& log_tool = *session->log_tool;
  ASSERT_TRUE(log_tool.IsShown());
  presenter().logger->info("an info line");
  presenter().logger->error("an error line");
  log_tool.refresh();
  const int rows = log_tool.list->GetItemCount();
  ASSERT_GE(rows, 2);
  EXPECT_EQ(log_tool.list->GetItemText(rows - 1, 3), "an error line");  // newest last
  EXPECT_EQ(log_tool.list->GetItemText(rows - 1, 1), "error");
  EXPECT_EQ(log_tool.list->GetItemText(rows - 1, 2), "pravel");
  log_tool.level_choice->SetSelection(3);
  testing_support::fire(log_tool.level_choice, wxEVT_CHOICE);
  for (int row = 0; row < log_tool.list->GetItemCount(); ++row)
    EXPECT_EQ(log_tool.list->GetItemText(row, 1), "error");
}

TEST_F(Bench, TheSelfTestShowsEveryStepInItsWindow) {
  choose(tool("Execute test"));
  auto& shown = *session->self_test_window;
  EXPECT_TRUE(shown.IsShown());
  const auto& run = session->initializer->last_run;
  ASSERT_EQ(shown.steps_list->GetItemCount(), static_cast<int>(run.size()));
  for (std::size_t i = 0; i < run.size(); ++i) {
    EXPECT_EQ(shown.steps_list->GetItemText(static_cast<long>(i), 0).utf8_string(), run[i].name);
    EXPECT_EQ(shown.steps_list->GetItemText(static_cast<long>(i), 1), "passed")
        << run[i].name << ": " << run[i].detail;
  }
  EXPECT_EQ(shown.summary_text->GetLabel().utf8_string(), self_test_summary(run));
  // Unplugged, each step says it was not run, and why.
  open_simulator();
  plug(false);
  choose(tool("Execute test"));
  EXPECT_EQ(shown.steps_list->GetItemText(0, 1), "FAILED");
  EXPECT_EQ(shown.steps_list->GetItemText(1, 1), "not run");
  EXPECT_EQ(shown.steps_list->GetItemText(1, 2), "not run: no board is connected");
  plug(true);
}

TEST_F(Bench, ChipSignalWritesAreLoggedLikeRegisterWrites) {
  choose(window().menu_bar->menu_edit->item_reg_chip);
  mark_log();
  check(chip_box("EN_AER"), false);
  EXPECT_TRUE(logged(spdlog::level::info, "Written to the board: EN_AER 1 \u2192 0"));
  EXPECT_EQ(message(), "Written to the board: EN_AER 1 \u2192 0");
  check(chip_box("EN_AER"), true);
}

TEST_F(Bench, EveryKeyDoesWhatItsCommandDoes) {
  // Each key is an accelerator of the main window for the command it names.
  const auto keys = bench_keys(window());
  wxAcceleratorTable* table = window().GetAcceleratorTable();
  ASSERT_TRUE(table && table->IsOk());
  // Keys that choose menu entries open what the entry opens.
  const std::pair<std::string, wxWindow*> opened[] = {
      {"Ctrl+1", window().edit_register_device_frame},
      {"Ctrl+2", window().edit_dac_frame},
      {"Ctrl+3", window().edit_register_chip_frame},
      {"Ctrl+4", window().adc_control_frame},
      {"Ctrl+5", window().image_histogram_frame},
      {"Ctrl+6", session->playback_tool},
      {"Ctrl+7", session->rates_tool},
      {"Ctrl+8", session->sweep_tool},
      {"Ctrl+L", session->log_tool},
      {"Ctrl+B", session->simulator},
      {"Ctrl+I", window().device_info_frame},
      {"F1", session->help_window},
      {"Ctrl+T", session->self_test_window}};
  for (const auto& [shown, target] : opened) {
    const auto key =
        std::find_if(keys.begin(), keys.end(), [&](const BenchKey& k) { return k.shown == shown; });
    ASSERT_NE(key, keys.end()) << shown;
    choose(key->command);
    EXPECT_TRUE(target->IsShown()) << shown << " did not open its window";
  }
  // The buttons' keys click them.
  const auto command = [&](const std::string& shown) {
    return std::find_if(keys.begin(), keys.end(),
                        [&](const BenchKey& k) { return k.shown == shown; })
        ->command;
  };
  choose(command("F5"));
  EXPECT_TRUE(presenter().acquiring());
  choose(command("F6"));
  EXPECT_TRUE(fs::exists(start_folder / "captures" / "capture_001.pgm"));
  choose(command("Ctrl+R"));
  EXPECT_TRUE(presenter().recording());
  choose(command("Ctrl+R"));
  EXPECT_FALSE(presenter().recording());
  choose(command("F5"));
  EXPECT_FALSE(presenter().acquiring());
  // Every key is in the window's table, and in the Help window's list.
  EXPECT_EQ(session->help_window->keys_list->GetItemCount(), static_cast<int>(keys.size()));
  for (const auto& key : keys) {
    bool found = false;
    for (long row = 0; row < session->help_window->keys_list->GetItemCount(); ++row)
      found = found || session->help_window->keys_list->GetItemText(row, 0) == key.shown;
    EXPECT_TRUE(found) << key.shown;
  }
  // Ctrl+Q quits, as closing the window does.
  choose(command("Ctrl+Q"));
  testing_support::flush_events();
  EXPECT_EQ(session->window, nullptr);
}

}  // namespace
}  // namespace Zelvar_Core::bench
