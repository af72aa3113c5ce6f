// The bench program end to end: the real host objects on the simulated
// board, driven by real events on real widgets, checked on the board and
// back in the windows.
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <thread>

#include "bench/events/recording_file.h"
#include "tests/bench/host/bench_fixture.h"

namespace Zelvar_Core::bench {
namespace {

using testing_support::answer_next_file_dialog;
using testing_support::fire;
using testing_support::LogCapture;
using testing_support::LogRecord;

// The stream's slices as the board hands them over, empty ones included:
// each is kSliceMicroseconds of board time the stream has been through.
struct Slices : EventListener {
  void on_events(const Event*, std::size_t count) override {
    events += count;
    ++slices;
  }
  std::atomic<std::uint64_t> events{0}, slices{0};
};

TEST_F(Bench, StartsWithEveryToolWindowHiddenAndTheBoardShown) {
  EXPECT_TRUE(window().IsShown());
  for (wxWindow* w : std::initializer_list<wxWindow*>{
           window().edit_register_device_frame, window().edit_dac_frame,
           window().edit_register_chip_frame, window().device_info_frame,
           window().image_histogram_frame, window().serial_control_frame,
           window().adc_control_frame, session->simulator, session->log_tool,
           session->playback_tool, session->rates_tool, session->sweep_tool,
           session->sequence_tool})
    EXPECT_FALSE(w->IsShown()) << w->GetName();
  EXPECT_TRUE(fs::is_directory("tmp"));
  EXPECT_EQ(status(kStatusConnection), "Connected");
  EXPECT_EQ(status(kStatusBitstream), std::string("Bitstream: ") + SimulatedDevice::kFlashDesign);
  EXPECT_EQ(status(kStatusEvents), "Stopped");
  EXPECT_EQ(window().panel_control->button_start_stop->GetLabel(), "Start");
  auto* modes = window().panel_control->modes_box;
  ASSERT_EQ(modes->GetCount(), 3u);
  EXPECT_EQ(modes->GetString(0), "Event stream");
  EXPECT_EQ(modes->GetString(2), "Standby");
  EXPECT_EQ(window().menu_bar->menu_tools->items.size(), 11u);  // three fixed and eight host tools
}

// The bar the bench shows is the front end's four menus and nothing more:
// help and quitting are keys, and the first message says so.
TEST_F(Bench, TheMenuBarHoldsTheFourMenusAndHelpIsAKey) {
  wxMenuBar* bar = window().GetMenuBar();
  ASSERT_EQ(bar, window().menu_bar);
  std::vector<std::string> titles;
  for (size_t i = 0; i < bar->GetMenuCount(); ++i)
    titles.push_back(bar->GetMenuLabel(i).utf8_string());
  EXPECT_EQ(titles, (std::vector<std::string>{"&Device", "&Edit", "&Image", "&Tools"}));
  EXPECT_EQ(bar->FindItem(wxID_EXIT), nullptr);
  EXPECT_EQ(bar->FindItem(wxID_HELP), nullptr);
  EXPECT_EQ(message(), "Press F1 for keys and help");
  choose(wxID_HELP);  // F1's command, as its accelerator sends it
  EXPECT_TRUE(session->help_window->IsShown());
  EXPECT_EQ(session->help_window->pages->GetSelection(), HelpWindow::kKeys);
}

TEST_F(Bench, StartAndStopRunTheAcquisitionThreadAndTheRates) {
  click(window().panel_control->button_start_stop);
  EXPECT_TRUE(presenter().acquiring());
  EXPECT_EQ(window().panel_control->button_start_stop->GetLabel(), "Stop");
  ASSERT_TRUE(wait_for([&] { return image_activity() > 0; })) << "no events reached the image";
  ASSERT_TRUE(wait_for([&] { return presenter().event_rate() > 0; }));  // after a second
  EXPECT_GT(presenter().event_rate(), 1e5);
  EXPECT_GT(presenter().frame_rate(), 0);
  EXPECT_NE(status(kStatusEvents).find("ev/s"), std::string::npos) << status(kStatusEvents);
  EXPECT_NE(status(kStatusFrames).find(" fps"), std::string::npos) << status(kStatusFrames);
  EXPECT_GT(window().image_panel->frames_drawn(), 0);

  click(window().panel_control->button_start_stop);
  EXPECT_FALSE(presenter().acquiring());
  EXPECT_EQ(window().panel_control->button_start_stop->GetLabel(), "Start");
  EXPECT_EQ(status(kStatusEvents), "Stopped");
}

TEST_F(Bench, CaptureWritesNumberedImagesWithoutOverwriting) {
  LogCapture log({"pravel"});
  model().image.counts[0] = 16;  // full scale
  model().image.t_first = 100;
  model().image.t_last = 30100;
  click(window().panel_control->button_capture);
  click(window().panel_control->button_capture);
  const std::string second = (start_folder / "captures/capture_002.pgm").string();
  EXPECT_EQ(message(), "Captured " + second);
  ASSERT_TRUE(fs::exists("captures/capture_001.pgm"));
  std::ifstream in("captures/capture_001.pgm", std::ios::binary);
  std::string magic, comment, width, height, depth;
  std::getline(in, magic);
  std::getline(in, comment);
  in >> width >> height >> depth;
  in.get();
  EXPECT_EQ(magic + " " + width + " " + height + " " + depth, "P5 640 480 255");
  EXPECT_EQ(comment, "# events from t=100 us to t=30100 us");
  EXPECT_EQ(in.get(), 255);  // the full-scale pixel
  EXPECT_EQ(in.get(), 128);  // no events: the middle of -16..16
  EXPECT_EQ(fs::file_size("captures/capture_001.pgm"), 15u + comment.size() + 1 + 640 * 480);
  EXPECT_NE(std::find(log.records().begin(), log.records().end(),
                      LogRecord{"pravel", spdlog::level::info, "Start capture."}),
            log.records().end());
  EXPECT_NE(std::find(log.records().begin(), log.records().end(),
                      LogRecord{"pravel", spdlog::level::info, "Capture written to " + second}),
            log.records().end());
}

TEST_F(Bench, EachResetReachesTheBoardInOrder) {
  auto& issued = model().simulated_device.resets.issued;
  click(window().panel_control->button_reset);
  EXPECT_EQ(issued, (std::vector<std::string>{"reset_device", "reset_fifo", "reset_ram"}));
  click(window().panel_control->button_reset_periphery);
  EXPECT_EQ(issued.back(), "reset_aer");
  model().image.counts[100] = 5;
  click(window().panel_control->button_reset_chip);
  EXPECT_EQ(issued.back(), "reset_chip");
  EXPECT_EQ(issued.size(), 5u);
  EXPECT_EQ(model().image.counts[100], 0);  // the pixels start over
  EXPECT_EQ(message(), "Board: reset_chip done");
}

TEST_F(Bench, ModeChangeSwitchesTheSensor) {
  select_mode(2);
  EXPECT_EQ(presenter().mode(), SensorMode::Standby);
  EXPECT_EQ(message(), "Mode: Standby");
  Slices stream;
  Subscription hear(board().events(), stream);
  click(window().panel_control->button_start_stop);
  // 100 ms of board time through the stream, and no event in it.
  ASSERT_TRUE(wait_for([&] { return stream.slices >= 50; }));
  EXPECT_EQ(stream.events, 0u) << "a chip in standby sent events";
  EXPECT_EQ(board().acquisition().events(), 0u);
  select_mode(1);
  EXPECT_EQ(presenter().mode(), SensorMode::TestPattern);
  EXPECT_TRUE(wait_for([&] { return board().acquisition().events() > 1000; }));
  click(window().panel_control->button_start_stop);
}

TEST_F(Bench, ProgrammingFromTheDialogShowsProgressAndTheDesign) {
  mark_log();
  model().simulated_device.bytes_per_second = 4e6;  // a real board's pace
  const std::string path = write_bitstream("design.bit", "aer640_e2e", 600 * 1024);
  std::vector<int> percents;
  bool dialog_up = true;
  std::string status_while_writing;
  std::vector<std::string> said;  // the dialog's message as it goes
  presenter().programming_progress().on_advance = [&](int percent) {
    percents.push_back(percent);
    status_while_writing = status(kStatusBitstream);
    dialog_up = dialog_up && presenter().programming_progress().dialog() != nullptr &&
                presenter().programming_progress().dialog()->IsShown();
    if (dialog_up)
      said.push_back(presenter().programming_progress().dialog()->GetMessage().utf8_string());
  };
  answer_next_file_dialog(path);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_TRUE(dialog_up) << "no progress shown while programming";
  EXPECT_EQ(status_while_writing, "Bitstream: writing aer640_e2e...");
  ASSERT_GE(percents.size(), 9u);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);
  // Both sizes with their unit; the message of the next advance is the one before this one's.
  ASSERT_GE(said.size(), 2u);
  const std::string whole = size_text(600 * 1024);
  EXPECT_EQ(said.front(), "Writing aer640_e2e: 0 bytes of " + whole) << said.front();
  EXPECT_EQ(said.back().rfind("Writing aer640_e2e: ", 0), 0u) << said.back();
  EXPECT_EQ(said.back().substr(said.back().size() - whole.size() - 4), " of " + whole);
  EXPECT_EQ(presenter().programming_progress().dialog(), nullptr);
  EXPECT_EQ(model().binary_file, path);
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: aer640_e2e");
  auto& history = *window().menu_bar->menu_device->program_history;
  ASSERT_EQ(history.GetCount(), 1u);
  EXPECT_EQ(history.GetHistoryFile(0), path);
  std::ifstream config(start_folder / "tmp/.Pravel_recent_files");
  const std::string saved((std::istreambuf_iterator<char>(config)), {});
  EXPECT_NE(saved.find("design.bit"), std::string::npos) << saved;
  const auto done = LogBook::instance().since(log_mark);
  EXPECT_TRUE(std::any_of(done.begin(), done.end(), [](const LogEntry& e) {
    return e.level == spdlog::level::info &&
           e.message.rfind("Programmed aer640_e2e (600 KiB) in ", 0) == 0;
  }));
  EXPECT_EQ(message().rfind("Programmed aer640_e2e (600 KiB) in ", 0), 0u) << message();
}

TEST_F(Bench, RecentListProgramsAndOutlivesARestart) {
  const std::string a = write_bitstream("a.bit", "design_a");
  const std::string b = write_bitstream("b.bit", "design_b");
  answer_next_file_dialog(a);
  choose(window().menu_bar->menu_device->item_program);
  answer_next_file_dialog(b);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: design_b");
  choose(wxID_FILE2);  // a.bit, the older one
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: design_a");
  EXPECT_EQ(model().binary_file, a);

  stop();
  start();
  auto& history = *window().menu_bar->menu_device->program_history;
  ASSERT_EQ(history.GetCount(), 2u);
  EXPECT_EQ(history.GetHistoryFile(0), a);
  EXPECT_EQ(history.GetHistoryFile(1), b);
  auto* recent = window().menu_bar->menu_device->item_program_history;
  ASSERT_EQ(recent->GetMenuItemCount(), 2u);
  EXPECT_NE(recent->FindItemByPosition(0)->GetItemLabelText().find("a.bit"), wxString::npos);
  choose(wxID_FILE2);
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: design_b");

  // A file that went away is reported by path and leaves the list.
  fs::remove(a);
  LogCapture log({"pravel"});
  choose(wxID_FILE2);
  EXPECT_EQ(history.GetCount(), 1u);
  EXPECT_NE(std::find(log.records().begin(), log.records().end(),
                      LogRecord{"pravel", spdlog::level::err, "The file " + a + " doesn't exist."}),
            log.records().end());
  // The front end's error reaches the user, not only the log.
  EXPECT_EQ(message(), "Error: The file " + a + " doesn't exist.");
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: design_b");
}

TEST_F(Bench, FailingProgrammingIsReportedAndTheProgramGoesOn) {
  const std::string path = write_bitstream("design.bit", "aer640_e2e", 400 * 1024);
  open_simulator();
  check(session->simulator->fail_programming, true);
  answer_next_file_dialog(path);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_EQ(message().rfind("Error: Programming failed at ", 0), 0u) << message();
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: none");
  EXPECT_EQ(window().menu_bar->menu_device->program_history->GetCount(), 0u);
  EXPECT_EQ(presenter().programming_progress().dialog(), nullptr);
  EXPECT_TRUE(window().IsShown());

  session->simulator->Hide();
  open_simulator();
  EXPECT_FALSE(session->simulator->fail_programming->GetValue()) << "the failure is one-shot";
  answer_next_file_dialog(path);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: aer640_e2e");

  // An empty file is refused with its path.
  const std::string empty = (start_folder / "bits/empty.bit").string();
  std::ofstream(empty).close();
  answer_next_file_dialog(empty);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_EQ(message(), "Error: The bitstream " + empty + " is empty");
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: aer640_e2e");
}

TEST_F(Bench, DeviceRegistersAreEditedAndApplied) {
  choose(window().menu_bar->menu_edit->item_reg_dev);
  auto* editor = window().edit_register_device_frame;
  ASSERT_TRUE(editor->IsShown());
  EXPECT_EQ(field(editor, "FIFO_THRESHOLD")->GetValue(), "512");
  type(field(editor, "FIFO_THRESHOLD"), "1000");
  EXPECT_EQ(field(editor, "FIFO_THRESHOLD")->GetBackgroundColour(), kEditedColour);
  click(editor->panel_values->button_apply);
  EXPECT_EQ(model().value_of("FIFO_THRESHOLD"), 1000);
  EXPECT_EQ(field(editor, "FIFO_THRESHOLD")->GetBackgroundColour(), plain());
  EXPECT_EQ(message(), "Written to the board: FIFO_THRESHOLD 512 \u2192 1000");

  // Reopened, it shows what the board holds.
  editor->Close();
  EXPECT_FALSE(editor->IsShown());
  choose(window().menu_bar->menu_edit->item_reg_dev);
  EXPECT_EQ(field(editor, "FIFO_THRESHOLD")->GetValue(), "1000");
}

TEST_F(Bench, BadValuesAreRefusedByNameAndKeepTheUsersText) {
  LogCapture log({"pravel"});
  choose(window().menu_bar->menu_edit->item_dac);
  auto* editor = window().edit_dac_frame;
  ASSERT_TRUE(editor->IsShown());
  type(field(editor, "VBIAS_PR"), "1700");
  type(field(editor, "VTH_ON"), "5000");
  type(field(editor, "VTH_OFF"), "low");
  click(editor->panel_values->button_apply);
  const std::string expected =
      "Not written (2): VTH_ON: 5000 is out of range 0..4095; VTH_OFF: \"low\" is not an "
      "integer";
  EXPECT_EQ(message(), "Error: " + expected);
  ASSERT_FALSE(log.records().empty());
  EXPECT_EQ(log.records().back(), (LogRecord{"pravel", spdlog::level::err, expected}));
  EXPECT_EQ(model().value_of("VBIAS_PR"), 1700);  // the good one is written
  EXPECT_EQ(model().value_of("VTH_ON"), 2400);
  EXPECT_EQ(field(editor, "VTH_ON")->GetValue(), "5000");
  EXPECT_EQ(field(editor, "VTH_OFF")->GetValue(), "low");
  // Refused: their own colour and the reason; written: back to the platform's.
  EXPECT_EQ(field(editor, "VTH_ON")->GetBackgroundColour(), kRefusedColour);
  EXPECT_EQ(field(editor, "VTH_ON")->GetToolTipText(), "VTH_ON: 5000 is out of range 0..4095");
  EXPECT_EQ(field(editor, "VTH_OFF")->GetBackgroundColour(), kRefusedColour);
  EXPECT_EQ(field(editor, "VBIAS_PR")->GetBackgroundColour(), plain());

  // Closed and opened again, the window still holds what was refused, marked.
  editor->Close();
  choose(window().menu_bar->menu_edit->item_dac);
  ASSERT_TRUE(editor->IsShown());
  EXPECT_EQ(field(editor, "VTH_ON")->GetValue(), "5000");
  EXPECT_EQ(field(editor, "VTH_ON")->GetBackgroundColour(), kRefusedColour);
  EXPECT_EQ(field(editor, "VBIAS_PR")->GetValue(), "1700");
  EXPECT_EQ(field(editor, "VBIAS_PR")->GetBackgroundColour(), plain());

  mark_log();
  type(field(editor, "VTH_ON"), " 2600 ");  // blanks around a number are fine
  type(field(editor, "VTH_OFF"), "700");
  click(editor->panel_values->button_apply);
  EXPECT_EQ(model().value_of("VTH_ON"), 2600);
  EXPECT_EQ(model().value_of("VTH_OFF"), 700);
  EXPECT_EQ(message(), "Written to the board: VTH_ON 2400 \u2192 2600, VTH_OFF 800 \u2192 700");
  EXPECT_TRUE(logged(spdlog::level::info,
                     "Written to the board: VTH_ON 2400 \u2192 2600, VTH_OFF 800 \u2192 700"));
  EXPECT_EQ(field(editor, "VTH_ON")->GetBackgroundColour(), plain());
  EXPECT_EQ(field(editor, "VTH_ON")->GetToolTipText(),
            "VTH_ON: ON contrast threshold; 0 to 4095 counts; Apply writes it");
}

TEST_F(Bench, ChipCheckBoxIsWrittenAtOnceAndFieldsOnApply) {
  choose(window().menu_bar->menu_edit->item_reg_chip);
  ASSERT_TRUE(window().edit_register_chip_frame->IsShown());
  auto* enable = chip_box("EN_AER");
  ASSERT_NE(enable, nullptr);
  EXPECT_TRUE(enable->GetValue());
  check(enable, false);
  EXPECT_EQ(model().value_of("EN_AER"), 0);
  Slices stream;
  Subscription hear(board().events(), stream);
  click(window().panel_control->button_start_stop);
  // 100 ms of board time through the stream, and no event in it.
  ASSERT_TRUE(wait_for([&] { return stream.slices >= 50; }));
  EXPECT_EQ(stream.events, 0u) << "events with the AER output off";
  EXPECT_EQ(board().acquisition().events(), 0u);
  click(window().panel_control->button_start_stop);

  auto* gain = dynamic_cast<IntCtrl*>(chip_field("BIAS_GAIN"));
  ASSERT_NE(gain, nullptr);
  type(gain, "9");
  click(window().edit_register_chip_frame->button_apply);
  EXPECT_EQ(message(), "Error: Not written: BIAS_GAIN: 9 is out of range 0..7");
  EXPECT_EQ(model().value_of("BIAS_GAIN"), 3);
  type(gain, "5");
  fire(gain, wxEVT_TEXT_ENTER);  // Enter in the field applies too
  EXPECT_EQ(model().value_of("BIAS_GAIN"), 5);
  EXPECT_EQ(gain->GetBackgroundColour(), plain());
}

TEST_F(Bench, TheSelfTestsDetailShowsWhatEachPassedStepMeasured) {
  choose(tool("Execute test"));
  auto& shown = *session->self_test_window;
  ASSERT_EQ(shown.steps_list->GetItemCount(), 6);
  std::map<std::string, std::string> detail;
  for (long row = 0; row < 6; ++row) {
    EXPECT_EQ(shown.steps_list->GetItemText(row, 1), "passed");
    detail[shown.steps_list->GetItemText(row, 0).utf8_string()] =
        shown.steps_list->GetItemText(row, 2).utf8_string();
  }
  const Register fifo = model().board().registers().find("FIFO_THRESHOLD");
  EXPECT_EQ(detail["connection"], "the board in this program");
  EXPECT_EQ(detail["identity"], "AER-640 sensor board (simulated), serial SIM-0001, version 1.4.2");
  EXPECT_EQ(detail["register read"], std::to_string(model().board().registers().all().size()) +
                                         " registers read in 3 banks");
  EXPECT_EQ(detail["register range"],
            "FIFO_THRESHOLD refused " + std::to_string(fifo.max + 1) + " and kept " +
                std::to_string(model().board().read_register("FIFO_THRESHOLD")));
  EXPECT_NE(detail["event stream"].find(" events in 0.25 s ("), std::string::npos)
      << detail["event stream"];
  const auto adc = model().board().read_adc(1.0);
  EXPECT_EQ(detail["ADC supplies"], fmt::format("VDD {:.3f} V, VDDIO {:.3f} V", adc[0], adc[1]));
}

TEST_F(Bench, TheSelfTestKeepsATestRecordAndAStepThatCouldNotRunIsNoPass) {
  presenter().run_site = {"station-5", "Grace", "chip-11"};
  session->keep_results("");
  auto& store = *presenter().results();
  choose(tool("Execute test"));
  auto runs = store.list({});
  ASSERT_EQ(runs.size(), 1u);
  const results::TestRecord r = *store.load(runs[0].run_id);
  EXPECT_EQ(r.kind, "self-test");
  EXPECT_EQ(r.outcome, results::Outcome::Pass);
  EXPECT_EQ(r.ended_because, "");
  EXPECT_EQ(r.operator_name, "Grace");
  EXPECT_EQ(r.station, "station-5");
  EXPECT_EQ(r.dut, "chip-11");
  EXPECT_EQ(r.board_serial, "SIM-0001");
  EXPECT_EQ(r.sequence_path, "");
  auto& shown = *session->self_test_window;
  ASSERT_EQ(r.steps.size(), 6u);
  for (long row = 0; row < 6; ++row) {
    const auto& step = r.steps[static_cast<std::size_t>(row)];
    EXPECT_EQ(step.number, row + 1);
    EXPECT_EQ(step.kind, shown.steps_list->GetItemText(row, 0).utf8_string());
    EXPECT_EQ(step.what,
              step.kind + ": passed; " + shown.steps_list->GetItemText(row, 2).utf8_string());
    EXPECT_EQ(step.outcome, results::Outcome::Pass);
    EXPECT_LE(step.started, step.ended);
  }
  // The values the steps read, the supplies against their limits.
  std::map<std::string, results::MeasurementRecord> kept;
  for (const auto& m : r.measurements) kept[m.name] = m;
  ASSERT_EQ(kept.count("vdd"), 1u);
  const auto adc = model().board().read_adc(1.0);
  EXPECT_EQ(fmt::format("{:.3f}", kept["vdd"].value), fmt::format("{:.3f}", adc[0]));
  EXPECT_EQ(kept["vdd"].unit, "V");
  EXPECT_DOUBLE_EQ(*kept["vdd"].low, 1.71);
  EXPECT_DOUBLE_EQ(*kept["vdd"].high, 1.89);
  EXPECT_EQ(kept["vdd"].step, 6);
  EXPECT_EQ(kept["vdd"].outcome, results::Outcome::Pass);
  EXPECT_DOUBLE_EQ(*kept["vddio"].low, 3.135);
  EXPECT_EQ(kept["registers_read"].value,
            static_cast<double>(model().board().registers().all().size()));
  EXPECT_EQ(kept["registers_read"].step, 3);
  EXPECT_GT(kept["stream_events"].value, 0);
  EXPECT_EQ(kept["stream_events"].value,
            kept["stream_on_events"].value + kept["stream_off_events"].value);

  // Without a board, the steps that could not run say so, and the run is no pass.
  open_simulator();
  plug(false);
  choose(tool("Execute test"));
  runs = store.list({});
  ASSERT_EQ(runs.size(), 2u);
  const results::TestRecord unplugged = *store.load(runs[0].run_id);
  EXPECT_NE(unplugged.run_id, r.run_id);
  EXPECT_EQ(unplugged.outcome, results::Outcome::Error);
  ASSERT_EQ(unplugged.steps.size(), 6u);
  EXPECT_EQ(unplugged.steps[0].outcome, results::Outcome::Fail);
  EXPECT_EQ(unplugged.steps[0].what, "connection: FAILED; no board is connected");
  for (std::size_t i = 1; i < 6; ++i) {
    EXPECT_EQ(unplugged.steps[i].outcome, results::Outcome::Error);
    EXPECT_EQ(unplugged.steps[i].what,
              unplugged.steps[i].kind + ": not run: no board is connected");
  }
  EXPECT_TRUE(unplugged.measurements.empty());
  EXPECT_EQ(unplugged.ended_because.rfind(
                "step 1 (connection) failed: no board is connected; step 2 (identity) not run: "
                "no board is connected; ",
                0),
            0u)
      << unplugged.ended_because;
}

TEST_F(Bench, AdcIsSampledWhileTheMonitorIsOpenAndStopsWhenItCloses) {
  choose(tool("ADCs"));
  auto* adc = window().adc_control_frame;
  ASSERT_TRUE(adc->IsShown());
  EXPECT_TRUE(presenter().sampling_adc());
  auto& vdd = presenter().adc_channels().at("vdd");
  const auto before = vdd.data_t.size();
  ASSERT_TRUE(wait_for([&] { return vdd.data_t.size() >= before + 3; }));
  EXPECT_TRUE(std::is_sorted(vdd.data_t.begin(), vdd.data_t.end()));
  EXPECT_NEAR(vdd.data_y.back(), 1.8, 0.05);

  // What Update came to is told in the ADC window, which hides the main one's status bar.
  ASSERT_NE(adc->GetStatusBar(), nullptr) << "the ADC window has no line of its own";
  type(adc->panel_menu->sampletime_textbox, "0.05");
  click(adc->panel_menu->button_update);
  EXPECT_EQ(presenter().sample_time(), 0.05);
  EXPECT_EQ(adc->GetStatusBar()->GetStatusText(), "Sample time 0.05 s");
  type(adc->panel_menu->sampletime_textbox, "fast");
  click(adc->panel_menu->button_update);
  const std::string refused = "Sample time \"fast\" must be a number of seconds from 0.01 to 10";
  EXPECT_EQ(message(), "Error: " + refused);
  EXPECT_EQ(adc->GetStatusBar()->GetStatusText(), refused);
  EXPECT_EQ(adc->panel_menu->sampletime_textbox->GetToolTipText(), refused);
  EXPECT_EQ(presenter().sample_time(), 0.05);

  adc->Close();
  EXPECT_FALSE(adc->IsShown());
  EXPECT_FALSE(presenter().sampling_adc());
  // The sampler was joined on close: a sample it queued before runs now,
  // and must not be kept.
  const auto stopped = vdd.data_t.size();
  ASSERT_TRUE(testing_support::round_trip());
  EXPECT_EQ(vdd.data_t.size(), stopped) << "samples after the monitor closed";

  // Opened again, sampling goes on along the same time line.
  choose(tool("ADCs"));
  ASSERT_TRUE(wait_for([&] { return vdd.data_t.size() > stopped; }));
  EXPECT_TRUE(std::is_sorted(vdd.data_t.begin(), vdd.data_t.end()));
  adc->Close();
}

TEST_F(Bench, SerialWriteGetsTheBoardsAnswerAndDeviceInfoShowsItsIdentity) {
  choose(tool("Write SPI"));
  auto* serial = window().serial_control_frame->panel_serial_control;
  ASSERT_TRUE(window().serial_control_frame->IsShown());
  EXPECT_FALSE(window().serial_note->IsShown()) << "the AER-640 has a serial port";
  type(serial->serial_tx_box, "ID?");
  click(serial->btn_write);
  EXPECT_EQ(serial->serial_rx_box->GetValue(), "AER-640 sensor board (simulated) SIM-0001");
  type(serial->serial_tx_box, "A5 01");
  click(serial->btn_write);
  EXPECT_EQ(serial->serial_rx_box->GetValue(), "ACK A5 01");

  choose(window().menu_bar->menu_device->item_info);
  auto* info = window().device_info_frame;
  ASSERT_TRUE(info->IsShown());
  EXPECT_EQ(info->txt_value_vendor->GetLabel(), "Zelvar Labs");
  EXPECT_EQ(info->txt_value_model->GetLabel(), "AER-640 sensor board (simulated)");
  EXPECT_EQ(info->txt_value_sn->GetLabel(), "SIM-0001");
  EXPECT_EQ(info->txt_value_dev_version->GetLabel(), "1.4.2");
}

TEST_F(Bench, DisconnectAndReconnectAreShownAndStopTheAcquisition) {
  LogCapture log({"pravel"});
  click(window().panel_control->button_start_stop);
  ASSERT_TRUE(presenter().acquiring());
  model().binary_file = "/somewhere/design.bit";
  open_simulator();
  plug(false);
  EXPECT_FALSE(presenter().acquiring());
  EXPECT_EQ(window().panel_control->button_start_stop->GetLabel(), "Start");
  EXPECT_EQ(model().binary_file, "");
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: none");
  EXPECT_EQ(image_activity(), 0);

  click(window().panel_control->button_start_stop);
  EXPECT_EQ(message(), "Error: No board is connected: acquisition not started");
  EXPECT_FALSE(presenter().acquiring());
  choose(window().menu_bar->menu_edit->item_reg_dev);
  EXPECT_EQ(message(), "Error: No board is connected: registers not read");
  EXPECT_FALSE(window().edit_register_device_frame->IsShown());

  plug(true);
  EXPECT_EQ(status(kStatusBitstream), std::string("Bitstream: ") + SimulatedDevice::kFlashDesign);
  auto logged = [&](spdlog::level::level_enum level, const std::string& text) {
    return std::find(log.records().begin(), log.records().end(),
                     LogRecord{"pravel", level, text}) != log.records().end();
  };
  EXPECT_TRUE(logged(spdlog::level::info, "Device disconnected"));
  EXPECT_TRUE(logged(spdlog::level::info, "On connection"));
  click(window().panel_control->button_start_stop);
  EXPECT_TRUE(presenter().acquiring());
}

TEST_F(Bench, ThreadAndReadFailuresReachTheStatusBar) {
  click(window().panel_control->button_start_stop);
  open_simulator();
  click(session->simulator->button_break_stream);
  ASSERT_TRUE(wait_for([&] { return !presenter().acquiring(); }));
  ASSERT_TRUE(wait_for([&] { return message().find("broke off") != std::string::npos; }));
  EXPECT_EQ(message(), "Error: Acquisition stopped: The event stream broke off");
  EXPECT_EQ(window().panel_control->button_start_stop->GetLabel(), "Start");

  check(session->simulator->fail_register_read, true);
  choose(window().menu_bar->menu_edit->item_reg_dev);
  EXPECT_EQ(message(), "Error: Register read failed: the board did not answer");
  EXPECT_FALSE(window().edit_register_device_frame->IsShown());
  choose(window().menu_bar->menu_edit->item_reg_dev);
  EXPECT_TRUE(window().edit_register_device_frame->IsShown());

  // An ADC that stops answering stops sampling with a message, not silently.
  choose(tool("ADCs"));
  ASSERT_TRUE(presenter().sampling_adc());
  board().adc().powered = false;
  ASSERT_TRUE(
      wait_for([&] { return message().find("ADC sampling stopped") != std::string::npos; }));
  EXPECT_EQ(message(), "Error: ADC sampling stopped: the board does not answer");
  EXPECT_FALSE(presenter().sampling_adc());
  EXPECT_FALSE(window().adc_control_frame->panel_menu->IsEnabled());
  board().adc().powered = true;
}

TEST_F(Bench, PresetsSaveAndLoadEverythingAndBadOnesChangeNothing) {
  answer_next_file_dialog(fs::absolute("presets/bench.json").string());
  choose(window().menu_bar->menu_edit->item_save_preset);
  ASSERT_TRUE(fs::exists("presets/bench.json"));
  EXPECT_FALSE(fs::exists("presets/bench.json.part"));

  choose(window().menu_bar->menu_edit->item_dac);
  type(field(window().edit_dac_frame, "VTH_ON"), "3000");
  click(window().edit_dac_frame->panel_values->button_apply);
  check(chip_box("TEST_MODE"), true);
  ASSERT_EQ(model().value_of("VTH_ON"), 3000);

  answer_next_file_dialog(fs::absolute("presets/bench.json").string());
  choose(window().menu_bar->menu_edit->item_load_preset);
  EXPECT_EQ(model().value_of("VTH_ON"), 2400);
  EXPECT_EQ(model().value_of("TEST_MODE"), 0);
  EXPECT_EQ(field(window().edit_dac_frame, "VTH_ON")->GetValue(), "2400");
  EXPECT_EQ(field(window().edit_dac_frame, "VTH_ON")->GetBackgroundColour(), plain());
  EXPECT_FALSE(chip_box("TEST_MODE")->GetValue());

  const std::string bad = fs::absolute("presets/bad.json").string();
  std::ofstream(bad) << "{\"board\": \"AER-640\", \"registers\": ";
  type(field(window().edit_dac_frame, "VTH_ON"), "3000");
  click(window().edit_dac_frame->panel_values->button_apply);
  answer_next_file_dialog(bad);
  choose(window().menu_bar->menu_edit->item_load_preset);
  EXPECT_EQ(message(),
            "Error: Preset not loaded: it is not valid JSON (line 1, column 35) (" + bad + ")");
  EXPECT_EQ(model().value_of("VTH_ON"), 3000);
}

TEST_F(Bench, HistogramScalesTheImageAndRefusesBadSettings) {
  choose(window().menu_bar->menu_image->item_histogram);
  auto* histogram = &this->histogram();
  ASSERT_TRUE(histogram->IsShown());
  model().image.counts[0] = 7;
  model().image.counts[1] = -8;
  type(histogram->max_field, "8");
  type(histogram->min_field, "-8");
  type(histogram->bins_field, "16");
  click(histogram->panel_histogram_plot->button_scale);
  EXPECT_EQ(model().histogram.max, 8);
  EXPECT_EQ(model().histogram.min, -8);
  ASSERT_EQ(histogram->counts.size(), 16u);
  EXPECT_EQ(histogram->counts[15], 1);  // 7 in [7, 8)
  EXPECT_EQ(histogram->counts[0], 1);   // -8 in [-8, -7)

  // A range far wider than the counts still draws, with the same colours.
  type(histogram->max_field, "1e9");
  type(histogram->min_field, "-1e9");
  click(histogram->panel_histogram_plot->button_scale);
  EXPECT_EQ(model().histogram.max, 1e9);
  std::vector<unsigned char> rgb(3 * kSensorWidth * kSensorHeight);
  window().image_panel->render(rgb.data());
  EXPECT_EQ(rgb[3 * 2], 24);  // a quiet pixel: the dark background
  type(histogram->max_field, "inf");
  click(histogram->panel_histogram_plot->button_scale);
  EXPECT_EQ(message(), "Error: Histogram: Max \"inf\" is not a finite number");
  type(histogram->max_field, "8");
  type(histogram->min_field, "-8");
  click(histogram->panel_histogram_plot->button_scale);

  type(histogram->max_field, "-9");
  click(histogram->panel_histogram_plot->button_scale);
  EXPECT_EQ(message(), "Error: Histogram: Max (-9) must be greater than Min (-8)");
  type(histogram->max_field, "big");
  click(histogram->panel_histogram_plot->button_scale);
  EXPECT_EQ(message(), "Error: Histogram: Max \"big\" is not a finite number");
  EXPECT_EQ(model().histogram.max, 8);
  EXPECT_EQ(model().histogram.min, -8);
}

TEST_F(Bench, ClosingTheMainWindowStopsEveryThread) {
  click(window().panel_control->button_start_stop);
  choose(tool("ADCs"));
  ASSERT_TRUE(presenter().acquiring());
  ASSERT_TRUE(presenter().sampling_adc());
  int hooks_run = 0;
  presenter().stop_hooks.push_back([&] { ++hooks_run; });
  LogCapture log({"pravel"});
  window().Close();
  testing_support::flush_events();
  EXPECT_EQ(session->window, nullptr);
  EXPECT_FALSE(presenter().acquiring());
  EXPECT_FALSE(presenter().sampling_adc());
  // The session closes the presenter again as it ends: the tools' run threads
  // are gone with their windows by then, and their stop hooks must not run twice.
  presenter().close();
  EXPECT_EQ(hooks_run, 1);
  EXPECT_NE(std::find(log.records().begin(), log.records().end(),
                      LogRecord{"pravel", spdlog::level::info, "Bench closed"}),
            log.records().end());
}

}  // namespace
}  // namespace Zelvar_Core::bench

namespace Zelvar_Core::bench {
namespace {

TEST(GuiPost, RunsOnTheGuiThreadReportsErrorsAndStopsWithItsOwner) {
  std::vector<std::string> reports;
  std::vector<std::thread::id> ran_on;
  auto post = std::make_unique<GuiPost>([&](const std::string& what) { reports.push_back(what); });
  std::thread worker([&] {
    (*post)([&] { ran_on.push_back(std::this_thread::get_id()); });
    (*post)([] { throw std::runtime_error("the board went away"); });
  });
  worker.join();
  EXPECT_TRUE(ran_on.empty()) << "ran before the GUI thread took it";
  testing_support::flush_events();
  ASSERT_EQ(ran_on.size(), 1u);
  EXPECT_EQ(ran_on[0], std::this_thread::get_id());
  EXPECT_EQ(reports, std::vector<std::string>{"the board went away"});

  bool ran_late = false;
  (*post)([&] { ran_late = true; });
  post.reset();  // the poster goes before its work is taken
  testing_support::flush_events();
  EXPECT_FALSE(ran_late);

  // A detached copy posts as its poster does, and nothing once it has gone.
  post = std::make_unique<GuiPost>([&](const std::string& what) { reports.push_back(what); });
  auto detached = post->detached();
  int ran = 0;
  std::thread([&] { detached([&] { ++ran; }); }).join();
  testing_support::flush_events();
  EXPECT_EQ(ran, 1);
  post.reset();
  std::thread([&] { detached([&] { ++ran; }); }).join();
  testing_support::flush_events();
  EXPECT_EQ(ran, 1) << "ran after its poster had gone";
}

TEST(ReportingApp, WhatEscapesATimerOrButtonHandlerIsReportedAndTheCallerGoesOn) {
  auto& app = *static_cast<ReportingApp*>(wxTheApp);
  std::vector<std::string> reports;
  app.on_error = [&](const std::string& what) { reports.push_back(what); };
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [](wxTimerEvent&) { throw std::runtime_error("tick failed"); });
  wxTimerEvent tick(timer);
  EXPECT_NO_THROW(timer.ProcessEvent(tick));
  auto* frame = new wxFrame(nullptr, wxID_ANY, "t");
  auto* button = new wxButton(frame, wxID_ANY, "b");
  button->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { throw 42; });
  EXPECT_NO_THROW(fire(button, wxEVT_BUTTON));
  frame->Destroy();
  testing_support::flush_events();
  app.on_error = nullptr;
  EXPECT_EQ(reports, (std::vector<std::string>{"tick failed", "unknown error"}));
}

// The bench on the built-in AER-320 (pravel --sensor 320x240): every
// window follows what that board declares instead of the AER-640.
class SmallSensor : public Bench {
 protected:
  void SetUp() override {
    sensor = SimulatedSensor::Aer320;
    Bench::SetUp();
  }
};

TEST_F(SmallSensor, TheImageIsTheSensorsAtItsAspectAndEventsBeyondItAreCountedNotDrawn) {
  auto& image = *window().image_panel;
  EXPECT_EQ(image.sensor_size(), wxSize(320, 240));
  const wxRect shown = image.image_rect();
  EXPECT_NEAR(static_cast<double>(shown.width) / shown.height, 4.0 / 3.0, 0.01)
      << shown.width << " x " << shown.height;
  EXPECT_GT(shown.width, 320) << "not scaled to the room the window gives it";
  EXPECT_TRUE(wxRect(image.GetClientSize()).Contains(shown));

  mark_log();
  click(window().panel_control->button_start_stop);
  ASSERT_TRUE(wait_for([&] { return image_activity() > 0; })) << "no events reached the image";
  EXPECT_EQ(model().image.geometry, (SensorGeometry{320, 240}));
  EXPECT_EQ(model().image.counts.size(), 320u * 240u);
  // Two events beyond the sensor, among the board's own.
  const Event beyond[] = {{1, 400, 100, 1}, {2, 10, 300, 0}};
  board().events().publish(beyond, 2);
  ASSERT_TRUE(wait_for([&] {
    return logged(spdlog::level::warn, "Events outside the sensor's 320 x 240: counted, not drawn");
  }));
  click(window().panel_control->button_start_stop);
  EXPECT_TRUE(
      logged(spdlog::level::warn, "2 events outside the sensor's 320 x 240 left out of the image"));
}

TEST_F(SmallSensor, TheAdcMonitorShowsTheBoardsTwoChannelsWithTheirUnits) {
  choose(tool("ADCs"));
  auto* adc = window().adc_control_frame;
  ASSERT_TRUE(adc->IsShown());
  ASSERT_EQ(presenter().adc_channels().size(), 2u);
  auto& vdd = presenter().adc_channels().at("vdd");
  ASSERT_TRUE(wait_for([&] { return vdd.data_t.size() >= 3; }));
  auto* grid = adc->panel_menu->grid_register;
  ASSERT_EQ(grid->GetItemCount(), 6u) << "one row of three cells per channel";
  EXPECT_EQ(grid->GetItem(size_t{0})->GetWindow()->GetLabel(), "CH0: VDD (V)");
  EXPECT_EQ(grid->GetItem(size_t{3})->GetWindow()->GetLabel(),
            wxString::FromUTF8("CH1: Temperature (\u00b0C)"));
  EXPECT_EQ(adc->panel_plot->canvas_list.size(), 2u);
  for (const auto& [label, field] : adc->panel_menu->values_widgets) {
    double value = 0;
    EXPECT_TRUE(field->GetValue().ToCDouble(&value)) << label << ": " << field->GetValue();
    EXPECT_TRUE(std::isfinite(value)) << label;
  }
  EXPECT_NEAR(vdd.data_y.back(), 1.2, 0.1);
}

TEST_F(SmallSensor, TheEditorsShowTheBoardsRegistersWithUnitsAndAReadOnlyOneTakesNoWrite) {
  choose(window().menu_bar->menu_edit->item_dac);
  auto* dacs = window().edit_dac_frame;
  ASSERT_TRUE(dacs->IsShown());
  WidgetMap dac_fields;
  for (const auto& [label, f] : dacs->panel_values->values_widgets) dac_fields[label] = f;
  EXPECT_EQ(labels(dac_fields),
            (std::vector<std::string>{"PR_BIAS", "REFRACTORY", "THR_OFF", "THR_ON"}));
  EXPECT_EQ(caption(dacs, "THR_ON"), "THR_ON (mV)");
  EXPECT_EQ(caption(dacs, "REFRACTORY"), "REFRACTORY (\u00b5s)");
  EXPECT_EQ(field(dacs, "THR_ON")->GetToolTipText().utf8_string(),
            "THR_ON: ON contrast threshold; 0 to 1023 mV; Apply writes it");
  type(field(dacs, "THR_ON"), "650");
  click(dacs->panel_values->button_apply);
  EXPECT_EQ(board().read_register("THR_ON"), 650);

  choose(window().menu_bar->menu_edit->item_reg_dev);
  auto* device = window().edit_register_device_frame;
  ASSERT_TRUE(device->IsShown());
  auto* chip_id = field(device, "CHIP_ID");
  EXPECT_FALSE(chip_id->IsEditable());
  EXPECT_EQ(chip_id->GetToolTipText().utf8_string(),
            "CHIP_ID: The chip's identification word; read-only");
  EXPECT_EQ(caption(device, "FIFO_THRESHOLD"), "FIFO_THRESHOLD (events)");
  EXPECT_EQ(device->panel_values->values_widgets.count("TIMESTAMP_DIV"), 0u);
  const auto id = board().read_register("CHIP_ID");
  chip_id->SetValue("1");  // as a program would, the field taking no typing
  click(device->panel_values->button_apply);
  EXPECT_EQ(message(), "Error: Not written: CHIP_ID is read-only: nothing was written");
  EXPECT_EQ(board().read_register("CHIP_ID"), id);

  choose(window().menu_bar->menu_edit->item_reg_chip);
  EXPECT_EQ(labels(chip_editor().signals_panel->values_widgets),
            (std::vector<std::string>{"EN_AER", "RST_N"}));
  EXPECT_EQ(chip_box("EN_AER")->GetToolTipText().utf8_string(),
            "EN_AER: 1 enables the AER output; on or off, Apply writes it");
}

TEST_F(SmallSensor, TheTestPatternModeTheBoardLacksIsRefusedAndNothingIsSent) {
  mark_log();
  select_mode(1);  // "Test pattern"
  EXPECT_EQ(message(), "Error: The board has no test pattern mode: nothing was sent");
  EXPECT_EQ(board().mode(), SensorMode::EventStream);
  EXPECT_EQ(window().panel_control->modes_box->GetSelection(), 0);
  select_mode(2);  // one it has
  EXPECT_EQ(board().mode(), SensorMode::Standby);
}

TEST_F(SmallSensor, TheSerialWindowSaysTheBoardHasNoSerialPort) {
  choose(tool("Write SPI"));
  auto* serial = window().serial_control_frame->panel_serial_control;
  ASSERT_TRUE(window().serial_control_frame->IsShown());
  ASSERT_TRUE(window().serial_note->IsShownOnScreen());
  EXPECT_EQ(window().serial_note->GetLabel(), "This board has no serial port");
  EXPECT_FALSE(serial->serial_tx_box->IsEnabled());
  EXPECT_FALSE(serial->btn_write->IsEnabled());
  // Sent all the same (Enter in the field, a key): refused in one sentence.
  click(serial->btn_write);
  EXPECT_EQ(message(), "Error: The board has no serial port: nothing was sent");
  EXPECT_EQ(serial->serial_rx_box->GetValue(), "");
}

TEST_F(SmallSensor, TheSweepOffersTheBoardsOwnRegisters) {
  mark_log();
  choose(tool("Sweep"));
  auto& sweep = *session->sweep_tool;
  ASSERT_TRUE(sweep.IsShown());
  EXPECT_EQ(sweep.parameter_choice->GetStringSelection(), "PR_BIAS");  // its first DAC
  EXPECT_EQ(sweep.parameter_choice->FindString("VTH_ON"), wxNOT_FOUND);
  EXPECT_FALSE(logged(spdlog::level::err, "Sweep: choose the parameter to sweep"));
}

TEST_F(SmallSensor, ARecordingFromItPlaysBackAndExportsAs320By240) {
  window().button_record->SetValue(true);
  fire(window().button_record, wxEVT_TOGGLEBUTTON);
  ASSERT_TRUE(presenter().recording());
  ASSERT_TRUE(wait_for([&] { return image_activity() > 0; }));
  click(window().panel_control->button_start_stop);  // the recording stops with the stream
  ASSERT_FALSE(presenter().recording());
  const std::string path = presenter().last_recording();
  const RecordingInfo info = RecordingReader::scan(path);
  EXPECT_EQ(info.header.width, 320);
  EXPECT_EQ(info.header.height, 240);
  EXPECT_GT(info.events, 0u);
  EXPECT_EQ(info.outside, 0u);

  choose(tool("Playback"));
  auto& playback = *session->playback_tool;
  playback.open_recording(path);
  model().image = EventFrame();  // another sensor's image shown: the playback must replace it
  playback.speed_choice->SetSelection(5);  // as fast as possible
  fire(playback.speed_choice, wxEVT_CHOICE);
  playback.button_play->SetValue(true);
  fire(playback.button_play, wxEVT_TOGGLEBUTTON);
  ASSERT_TRUE(wait_for([&] { return !presenter().playback().playing(); }));
  // The last frame is taken once the bench hears that the playback ended.
  ASSERT_TRUE(wait_for([&] { return !presenter().playback().playing() && image_activity() > 0; }));
  EXPECT_EQ(model().image.geometry, (SensorGeometry{320, 240}));
  EXPECT_EQ(window().image_panel->sensor_size(), wxSize(320, 240));

  playback.export_to("small.h5");  // in the start folder, where the bench runs
  ASSERT_TRUE(fs::exists("small.h5")) << playback.result_line->text();
  if (std::system("/usr/bin/python3 -c 'import h5py' 2>/dev/null") != 0)
    GTEST_SKIP() << "Debian's python3-h5py is not installed (scripts/deps.sh installs it)";
  std::ofstream("geometry.py") << "import h5py\n"
                                  "with h5py.File('small.h5', 'r') as f:\n"
                                  "    a = f['events'].attrs\n"
                                  "    print(int(a['width']), int(a['height']), a['geometry'])\n";
  ASSERT_EQ(std::system("/usr/bin/python3 geometry.py > geometry.out 2>&1"), 0);
  std::ifstream in("geometry.out");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "320 240 320x240\n");
}

// A board declaring many more registers than a list holds: the Sweep window
// lists those the user looks for rather than every one, and a sequence on it
// runs to its report.
class HugeBoard : public Bench {
 protected:
  virtual int registers() const { return 2000; }
  std::unique_ptr<Board> served_board() override {
    BoardDeclaration declaration = declaration_of(SimulatedSensor::Aer640);
    for (int i = 0; i < registers(); ++i)
      declaration.device_registers.push_back(
          Register{fmt::format("REG_{:06d}", i), 0, 0, 4095, "", "A register of many"});
    auto board = std::make_unique<SimulatedDevice>(SimulatedSensor::Aer640, std::move(declaration));
    huge = board.get();
    return board;
  }
  SimulatedDevice* huge = nullptr;
};

TEST_F(HugeBoard, TheSweepListsTheRegistersLookedForAndFindsAnyOfThem) {
  ASSERT_TRUE(session->window->IsShown());
  choose(tool("Sweep"));
  auto& sweep = *session->sweep_tool;
  ASSERT_TRUE(sweep.IsShown());
  EXPECT_LE(sweep.parameter_choice->GetCount(), SweepTool::kListedAtMost);
  EXPECT_EQ(sweep.parameter_choice->GetStringSelection(), "VTH_ON");  // the threshold, as ever
  ASSERT_NE(sweep.parameter_filter, nullptr);
  ASSERT_TRUE(sweep.parameter_filter->IsShownOnScreen());
  type(sweep.parameter_filter, "reg_00199");
  ASSERT_EQ(sweep.parameter_choice->GetCount(), 10u);
  for (unsigned i = 0; i < 10; ++i)
    EXPECT_EQ(sweep.parameter_choice->GetString(i), wxString::Format("REG_00199%u", i));
  EXPECT_EQ(sweep.parameter_choice->GetStringSelection(), "REG_001990");  // the first found
  sweep.parameter_choice->SetStringSelection("REG_001995");
  EXPECT_EQ(sweep.plan().name, "REG_001995");
  type(sweep.parameter_filter, "");  // every register again, as many as the list holds
  EXPECT_EQ(sweep.parameter_choice->GetCount(), SweepTool::kListedAtMost);
  EXPECT_EQ(sweep.parameter_choice->GetStringSelection(), "REG_001995");  // still chosen
}

TEST_F(HugeBoard, ASequenceRunsToItsReport) {
  const fs::path path = start_folder / "huge.json";
  std::ofstream(path) << R"({"name": "huge", "steps": [{"set": "REG_001999", "value": 7},
      {"measure": 0.2}, {"expect": "on_rate_mean", "min": 0, "max": 1e12}]})";
  answer_next_file_dialog(path.string());
  choose(tool("Run sequence..."));
  auto& runner = *session->sequence_tool;
  ASSERT_TRUE(testing_support::pump_until(
      [&] { return !runner.running() && runner.last_exit_code() >= 0; }, 60s));
  EXPECT_EQ(runner.last_exit_code(), 0) << runner.result_text->GetLabel();
  EXPECT_EQ(huge->read_register("REG_001999"), 7);
  std::ifstream report(runner.last_report());
  const std::string text((std::istreambuf_iterator<char>(report)), {});
  EXPECT_NE(text.find("REG_001999"), std::string::npos);
}

// A board of 100,000 registers: the window shows, and the registers editor
// lists them all without a field each; the register found is edited and written.
class VastBoard : public HugeBoard {
 protected:
  int registers() const override { return 100000; }
};

TEST_F(VastBoard, TheWindowShowsAndTheEditorFindsAndWritesAnyRegister) {
  ASSERT_TRUE(session->window->IsShown());
  choose(window().menu_bar->menu_edit->item_reg_dev);
  auto* editor = window().edit_register_device_frame;
  ASSERT_TRUE(editor->IsShown());
  auto* panel = editor->panel_values;
  ASSERT_TRUE(panel->large());
  ASSERT_TRUE(panel->find_field->IsShownOnScreen());
  ASSERT_TRUE(panel->values_list->IsShownOnScreen());
  const auto declared = declaration_of(SimulatedSensor::Aer640).device_registers.size();
  EXPECT_EQ(panel->values_list->GetItemCount(), static_cast<long>(declared) + registers());
  EXPECT_EQ(panel->values_widgets.size(), 1u) << "a field for each register";

  type(panel->find_field, "reg_09999");  // whatever its case
  ASSERT_EQ(panel->values_list->GetItemCount(), 10);
  EXPECT_EQ(panel->values_list->GetItemText(3), "REG_099993");
  EXPECT_EQ(panel->chosen(), "REG_099990");  // the first found
  panel->values_list->SetItemState(5, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  ASSERT_EQ(panel->chosen(), "REG_099995");
  EXPECT_EQ(caption(editor, "REG_099995"), "REG_099995");
  EXPECT_EQ(field(editor, "REG_099995")->GetToolTipText(),
            "REG_099995: A register of many; 0 to 4095; Apply writes it");
  type(field(editor, "REG_099995"), "7");
  click(panel->button_apply);
  EXPECT_EQ(message(), "Written to the board: REG_099995 0 \u2192 7");
  EXPECT_EQ(huge->read_register("REG_099995"), 7);
  EXPECT_TRUE(wait_for([&] { return panel->values_list->GetItemText(5, 1) == "7"; }));

  // Typed, not applied, and another register chosen: the text waits for its register.
  type(field(editor, "REG_099995"), "9");
  panel->values_list->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  ASSERT_EQ(panel->chosen(), "REG_099991");
  EXPECT_EQ(field(editor, "REG_099991")->GetValue(), "0");
  EXPECT_EQ(presenter().editor_fields().state(field(editor, "REG_099991")), FieldState::Clean);
  panel->values_list->SetItemState(5, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  EXPECT_EQ(field(editor, "REG_099995")->GetValue(), "9");
  EXPECT_EQ(presenter().editor_fields().state(field(editor, "REG_099995")), FieldState::Pending);
  EXPECT_EQ(huge->read_register("REG_099995"), 7);
  click(panel->button_apply);
  EXPECT_EQ(huge->read_register("REG_099995"), 9);
}

// A board that becomes another sensor while the bench runs, as a served
// board does when its server comes back as another one: behind it, a
// simulated AER-640 and AER-320; become() changes which one answers and
// tells the bench from a thread of its own, as the board's link does.
class ChangingBoard : public Board {
 public:
  // A held serial answer is given as the board is let go, on a thread of
  // its own: a served board's command thread ending its last call.
  ~ChangingBoard() override {
    if (held_answer_) std::thread([this] { held_answer_("late answer", ""); }).join();
  }
  void become(SimulatedSensor sensor) {
    now_ = sensor == SimulatedSensor::Aer320 ? &aer320_ : &aer640_;
    std::thread([this] { tell(declaration_listener); }).join();
  }
  bool connected() const override { return now()->connected(); }
  const BoardDeclaration& declaration() const override { return now()->declaration(); }
  DeviceInfo read_identity() const override { return now()->read_identity(); }
  std::string design() const override { return now()->design(); }
  using Board::program;
  void program(const std::string& path, ProgrammingObserver* observer) override {
    now()->program(path, observer);
  }
  std::vector<Register> read_bank(Bank bank) override { return now()->read_bank(bank); }
  std::int64_t read_register(const std::string& name) const override {
    return now()->read_register(name);
  }
  void write_register(const std::string& name, std::int64_t value) override {
    now()->write_register(name, value);
  }
  const RegisterFile& registers() const override { return now()->registers(); }
  SensorMode mode() const override { return now()->mode(); }
  void start_acquisition() override { throw Refused("this board does not stream"); }
  void stop_acquisition() override {}
  bool acquiring() const override { return false; }
  EventHub& events() override { return hub_; }
  std::uint64_t lost_by_board() const override { return 0; }
  std::vector<double> read_adc(double t) const override { return now()->read_adc(t); }
  void serial_transact(const std::string& line, SerialDone done) override {
    if (hold_serial_answer)
      held_answer_ = std::move(done);
    else
      now()->serial_transact(line, std::move(done));
  }
  SimulatedDevice aer640_{SimulatedSensor::Aer640}, aer320_{SimulatedSensor::Aer320};
  bool hold_serial_answer = false;

 protected:
  void change_mode(SensorMode mode) override { now()->set_mode(mode); }
  void reset(const std::string&, std::function<void(const std::string&)> done) override {
    done("");
  }

 private:
  SimulatedDevice* now() const { return now_.load(); }
  std::atomic<SimulatedDevice*> now_{&aer640_};  // the ADC is sampled on a thread of its own
  EventHub hub_;
  SerialDone held_answer_;
};

class BoardChangingSensor : public SmallSensor {
 protected:
  void SetUp() override {
    make_board = [this] {
      auto made = std::make_unique<ChangingBoard>();
      changing = made.get();
      return made;
    };
    Bench::SetUp();
  }
  // The board becomes `sensor`, and the bench says so.
  void become(SimulatedSensor sensor, const std::string& told) {
    changing->become(sensor);
    ASSERT_TRUE(wait_for([&] { return message() == told; })) << message();
  }
  ChangingBoard* changing = nullptr;
};

TEST_F(BoardChangingSensor, ASerialAnswerThatComesAfterTheBenchClosedIsLeftAlone) {
  changing->hold_serial_answer = true;
  choose(tool("Write SPI"));
  auto* serial = window().serial_control_frame->panel_serial_control;
  type(serial->serial_tx_box, "ID?");
  click(serial->btn_write);
  LogCapture log({"pravel"});
  stop();  // the presenter goes first; the board answers as it is let go
  testing_support::flush_events();
  for (const auto& record : log.records())
    EXPECT_EQ(record.message.find("late answer"), std::string::npos) << record.message;
}

TEST_F(BoardChangingSensor, EveryWindowRebuildsFromTheNewDeclarationAndKeepsNothingOfTheOld) {
  choose(tool("ADCs"));
  auto* adc = window().adc_control_frame;
  ASSERT_TRUE(wait_for([&] { return presenter().sampling_adc(); }));
  ASSERT_EQ(adc_rows(adc).size(), 4u);
  EXPECT_EQ(model().image.geometry, (SensorGeometry{640, 480}));

  become(SimulatedSensor::Aer320, "The board is now AER-320: 320\u00d7240, 2 ADC channels");
  // The ADC monitor: the board's two rows and plots, sampled on.
  EXPECT_EQ(adc_rows(adc),
            (std::vector<std::string>{"CH0: VDD (V)", "CH1: Temperature (\u00b0C)"}));
  EXPECT_EQ(adc->panel_menu->grid_register->GetItemCount(), 6u) << "one row of three per channel";
  EXPECT_EQ(adc->panel_plot->canvas_list.size(), 2u);
  EXPECT_EQ(adc->panel_plot->vbox->GetItemCount(), 2u);
  auto& temperature = presenter().adc_channels().at("temperature");
  ASSERT_TRUE(wait_for([&] { return temperature.data_y.size() >= 3; }));
  EXPECT_TRUE(presenter().sampling_adc());
  EXPECT_NEAR(temperature.data_y.back(), 31, 15);
  // Its check boxes are heard as the first ones were.
  check(adc->panel_menu->enable_widgets.at("VDD (V)"), false);
  EXPECT_FALSE(adc->panel_plot->canvas_list.at("VDD (V)")->IsShown());

  // The editors: the board's registers only, captioned with their units.
  auto* device = window().edit_register_device_frame;
  auto* dacs = window().edit_dac_frame;
  EXPECT_EQ(labels(device->panel_values->field_widgets()),
            (std::vector<std::string>{"CHIP_ID", "CTRL", "FIFO_THRESHOLD", "ROI_X0", "ROI_Y0"}));
  EXPECT_EQ(device->panel_values->grid_register->GetItemCount(), 10u);
  EXPECT_FALSE(field(device, "CHIP_ID")->IsEditable());
  EXPECT_EQ(labels(dacs->panel_values->field_widgets()),
            (std::vector<std::string>{"PR_BIAS", "REFRACTORY", "THR_OFF", "THR_ON"}));
  EXPECT_EQ(caption(dacs, "THR_ON"), "THR_ON (mV)");
  EXPECT_EQ(labels(chip_editor().signals_panel->values_widgets),
            (std::vector<std::string>{"EN_AER", "RST_N"}));
  EXPECT_EQ(chip_editor().signals_panel->GetSizer()->GetItemCount(), 4u);
  // A new field is heard: typed, applied, written to the board it is now.
  choose(window().menu_bar->menu_edit->item_dac);
  type(field(dacs, "THR_ON"), "650");
  click(dacs->panel_values->button_apply);
  EXPECT_EQ(changing->aer320_.read_register("THR_ON"), 650);
  check(chip_box("EN_AER"), false);
  EXPECT_EQ(changing->aer320_.read_register("EN_AER"), 0);

  // The image is the sensor's size; the serial window says it has no port.
  EXPECT_EQ(model().image.geometry, (SensorGeometry{320, 240}));
  EXPECT_EQ(window().image_panel->sensor_size(), wxSize(320, 240));
  EXPECT_TRUE(window().serial_note->IsShown());
  EXPECT_FALSE(window().serial_control_frame->panel_serial_control->btn_write->IsEnabled());

  // And back: the AER-640 as it was, its four channels and its registers.
  become(SimulatedSensor::Aer640, "The board is now AER-640: 640\u00d7480, 4 ADC channels");
  EXPECT_EQ(adc_rows(adc).size(), 4u);
  EXPECT_EQ(adc->panel_plot->canvas_list.size(), 4u);
  EXPECT_EQ(device->panel_values->values_widgets.count("CHIP_ID"), 0u);
  EXPECT_EQ(dacs->panel_values->grid_register->GetItemCount(), 10u);
  EXPECT_EQ(caption(dacs, "VTH_ON"), "VTH_ON (counts)");
  EXPECT_EQ(model().image.geometry, (SensorGeometry{640, 480}));
  EXPECT_FALSE(window().serial_note->IsShown());
  EXPECT_TRUE(window().serial_control_frame->panel_serial_control->btn_write->IsEnabled());
}

}  // namespace
}  // namespace Zelvar_Core::bench
