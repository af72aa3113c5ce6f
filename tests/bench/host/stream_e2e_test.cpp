// The board's stream recorded from the control panel and played back in
// the board's place, end to end.
#include <wx/tglbtn.h>
#include <wx/uiaction.h>

#include <condition_variable>
#include <mutex>

#include "bench/events/evt2.h"
#include "bench/events/recording_file.h"
#include "bench/sequences/rates.h"
#include "tests/bench/events/event_keeper.h"
#include "tests/bench/host/bench_fixture.h"
#include "tests/support/eventually.h"
#include "tests/support/stream_stall.h"

namespace Zelvar_Core::bench {
namespace {

using Keeper = testing_support::EventKeeper;

class Stream : public Bench {
 protected:
  void toggle_record(bool on) {
    auto* toggle = window().button_record;
    toggle->SetValue(on);
    wxCommandEvent event(wxEVT_TOGGLEBUTTON, toggle->GetId());
    event.SetEventObject(toggle);
    event.SetInt(on);
    toggle->GetEventHandler()->ProcessEvent(event);
  }
  // Records about `events` events from the control panel; returns the file.
  std::string record(Keeper& keeper, std::size_t events) {
    Subscription hear(board().events(), keeper);
    toggle_record(true);
    EXPECT_TRUE(presenter().recording());
    EXPECT_TRUE(presenter().acquiring()) << "recording did not start the acquisition";
    EXPECT_TRUE(wait_for([&] { return keeper.size() > events; }));
    click(window().panel_control->button_start_stop);  // the recording stops with it
    EXPECT_FALSE(presenter().recording());
    return presenter().last_recording();
  }
  // A recording of `count` events written directly, in the start folder.
  std::string write_recording(const std::string& name, std::size_t count) {
    std::vector<Event> events;
    for (std::size_t i = 0; i < count; ++i)
      events.push_back({static_cast<std::int64_t>(i) * 10, static_cast<std::uint16_t>(i % 640),
                        static_cast<std::uint16_t>(i % 480), static_cast<std::uint8_t>(i % 2)});
    std::vector<std::uint32_t> words;
    evt2::Encoder().encode(events.data(), events.size(), words);
    const std::string path = (start_folder / name).string();
    std::ofstream out(path, std::ios::binary);
    out << evt2::header_text("2026-12-08 12:00:00", {{"design", "aer640_test"}});
    out.write(reinterpret_cast<const char*>(words.data()),
              static_cast<std::streamsize>(words.size() * 4));
    return path;
  }
  static std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
};

TEST_F(Stream, RecordingHoldsEveryEventTheStatusBarCounted) {
  mark_log();
  Keeper live;
  const std::string path = record(live, 150000);
  const fs::path expected_folder = start_folder / "recordings";
  EXPECT_EQ(fs::path(path).parent_path(), expected_folder);
  EXPECT_EQ(fs::path(path).filename().string().rfind("rec_", 0), 0u);
  const RecordingInfo info = RecordingReader::scan(path);
  EXPECT_EQ(info.events, live.size());
  EXPECT_EQ(info.header.value("design"), SimulatedDevice::kFlashDesign);
  EXPECT_EQ(info.header.value("mode"), "Event stream");
  EXPECT_EQ(info.header.value("VTH_ON"), "2400");
  EXPECT_EQ(info.header.value("BIAS_GAIN"), "3");
  // "Recorded rec_....raw: 2.3 MiB, 151,234 events, 0 dropped"
  const std::string said = message();
  ASSERT_EQ(said.rfind("Recorded " + fs::path(path).filename().string() + ": ", 0), 0u) << said;
  std::string count = said.substr(said.find(", ") + 2);
  count = count.substr(0, count.find(" events"));
  count.erase(std::remove(count.begin(), count.end(), ','), count.end());
  EXPECT_EQ(std::stoull(count), info.events);
  EXPECT_NE(said.find(", 0 dropped"), std::string::npos);
  EXPECT_TRUE(logged(spdlog::level::info, "Recording started: " + path));
}

TEST_F(Stream, PlaybackShowsTheRecordedEventsAsTheLiveRunDid) {
  Keeper live;
  const std::string path = record(live, 150000);
  choose(tool("Playback"));
  auto& tool_window = *session->playback_tool;
  ASSERT_TRUE(tool_window.IsShown());
  tool_window.open_recording(path);
  tool_window.speed_choice->SetSelection(5);  // as fast as possible
  testing_support::fire(tool_window.speed_choice, wxEVT_CHOICE);
  Keeper played;
  Subscription hear(board().events(), played);
  tool_window.button_play->SetValue(true);
  testing_support::fire(tool_window.button_play, wxEVT_TOGGLEBUTTON);
  EXPECT_FALSE(presenter().acquiring());
  ASSERT_TRUE(wait_for([&] { return !presenter().playback().playing(); }));
  EXPECT_EQ(played.size(), live.size());
  EXPECT_EQ(played.frame().counts, live.frame().counts) << "not the live run's image";
  EXPECT_EQ(status(kStatusStream).rfind("Playback " + fs::path(path).filename().string(), 0), 0u)
      << status(kStatusStream);
  // Starting the board again takes the recording's place.
  click(window().panel_control->button_start_stop);
  EXPECT_TRUE(presenter().acquiring());
  click(window().panel_control->button_start_stop);
}

TEST_F(Stream, CtrlRTogglesAndUnpluggingEndsTheRecordingWithItsFileWhole) {
  choose(window().record_command);  // Ctrl+R
  ASSERT_TRUE(presenter().recording());
  EXPECT_TRUE(window().button_record->GetValue());
  ASSERT_TRUE(wait_for([&] { return board().events().published() > 50000; }));
  open_simulator();
  plug(false);
  EXPECT_FALSE(presenter().recording());
  EXPECT_FALSE(window().button_record->GetValue());
  EXPECT_FALSE(window().button_record->IsEnabled());
  const RecordingInfo info = RecordingReader::scan(presenter().last_recording());
  EXPECT_GT(info.events, 50000u);
  EXPECT_EQ(info.partial_bytes, 0u);
  plug(true);
}

using Stall = testing_support::StreamStall;

TEST_F(Stream, WhatTheBoardLosesIsLoggedWhileTheStreamRunsNotOnlyAtItsStop) {
  mark_log();
  click(window().panel_control->button_start_stop);
  ASSERT_TRUE(presenter().acquiring());
  Stall stall;
  Subscription hear(board().events(), stall);
  ASSERT_TRUE(wait_for([&] { return stall.holding(); }));
  // More of the board's time than its FIFO holds goes by with the stream held.
  const std::int64_t from = board().clock().now_us();
  ASSERT_TRUE(wait_for(
      [&] { return board().clock().now_us() > from + 2 * Acquisition::kMaxLagMicroseconds; }));
  stall.let_go();
  ASSERT_TRUE(wait_for([&] { return board().lost_by_board() > 0; }));
  const auto told = [&]() -> std::string {
    for (const auto& entry : LogBook::instance().since(log_mark))
      if (entry.level == spdlog::level::warn && entry.message.rfind("The board lost ", 0) == 0)
        return entry.message;
    return "";
  };
  ASSERT_TRUE(wait_for([&] { return !told().empty(); }));
  EXPECT_TRUE(presenter().acquiring()) << "told only once the stream stopped";
  // Its count, as the board counted it when the bench looked.
  const std::string said = told();
  const std::string count = said.substr(15, said.find(" events") - 15);
  EXPECT_EQ(said, "The board lost " + count + " events (" + count + " since its stream started)");
  std::string digits;
  for (char c : count)
    if (c != ',') digits += c;
  EXPECT_GT(std::stoull(digits), 0u);
  EXPECT_LE(std::stoull(digits), board().lost_by_board());
  click(window().panel_control->button_start_stop);
}

// Lets board time pass 100 ms at a time (less than the board's FIFO holds),
// each step published before the next, without running the toolkit.
bool pass_board_time(SimulatedDevice& board, std::int64_t until_us) {
  for (std::int64_t now = board.clock().now_us(); now < until_us;) {
    const std::int64_t step = std::min<std::int64_t>(100000, until_us - now);
    board.clock().advance(step);
    now += step;
    if (!testing_support::eventually([&] { return board.acquisition().published_until() >= now; }))
      return false;
  }
  return true;
}

TEST_F(Stream, TheLiveImageTheRatesAndTheRecordingHoldTheSameEvents) {
  board().clock().hold();  // the stream is what the test lets pass
  Keeper shown;
  DisplayListening show(presenter().display(), shown);
  toggle_record(true);
  ASSERT_TRUE(presenter().recording());
  // Board time passes while the toolkit does not run: the live image takes
  // its frame only at the stop, and holds the whole run.
  ASSERT_TRUE(pass_board_time(board(), 1050000)) << "the stream did not keep up";
  click(window().panel_control->button_start_stop);
  ASSERT_FALSE(presenter().recording());
  EXPECT_EQ(board().lost_by_board(), 0u);
  EXPECT_EQ(presenter().display().skipped(), 0u);
  const std::vector<Event> recorded = testing_support::read_all(presenter().last_recording());
  ASSERT_EQ(recorded.size(), board().acquisition().events());
  EXPECT_TRUE(testing_support::same_events(shown.events, recorded));
  EventFrame expected;
  expected.accumulate(recorded.data(), recorded.size());
  EXPECT_EQ(model().image.counts, expected.counts) << "not the recording's image";
  EXPECT_EQ(model().image.t_first, expected.t_first);
  EXPECT_EQ(model().image.t_last, expected.t_last);
  // The Rates tool's meter, as one that heard the recording from a start
  // (its first bin left out) to a stop (its last, cut short, left out).
  RateMeter heard;
  heard.follow(false);
  heard.follow(true);
  heard.on_events(recorded.data(), recorded.size());
  heard.follow(false);
  const RateMeter::Trace got = presenter().rates().trace(), want = heard.trace();
  EXPECT_EQ(got.t.size(), 9u);
  EXPECT_EQ(got.t, want.t);
  EXPECT_EQ(got.on, want.on);
  EXPECT_EQ(got.off, want.off);
}

TEST_F(Stream, ADisplayThatFallsBehindLosesNoEventOfTheBoardNorOfTheRecording) {
  // Thresholds that make about 20 M events/s.
  for (auto [name, value] : {std::pair<const char*, const char*>{"VTH_ON", "1750"},
                             {"VTH_OFF", "1450"},
                             {"BIAS_GAIN", "7"}})
    model().write_value(name, value);
  board().clock().hold();
  choose(tool("Rates"));
  Stall stall;  // the display stops at the stream's first events
  DisplayListening show(presenter().display(), stall);
  toggle_record(true);
  ASSERT_TRUE(presenter().recording());
  // 0.3 s of board time: more events than the display's queue holds, fewer than the
  // recorder's.
  ASSERT_TRUE(pass_board_time(board(), 300000)) << "the board's thread waited for the display";
  ASSERT_TRUE(stall.holding());
  EXPECT_EQ(board().lost_by_board(), 0u);
  const std::uint64_t skipped = presenter().display().skipped();
  EXPECT_GT(skipped, 0u);
  EXPECT_LT(skipped, board().acquisition().events());
  stall.let_go();
  click(window().panel_control->button_start_stop);
  ASSERT_FALSE(presenter().recording());
  const RecordingInfo info = RecordingReader::scan(presenter().last_recording());
  EXPECT_EQ(info.events, board().acquisition().events()) << "the recording missed events";
  EXPECT_NE(message().find(", 0 dropped"), std::string::npos) << message();
  // The Rates tool says how much it did not show, apart from the board's losses.
  session->rates_tool->refresh();
  const std::string header = session->rates_tool->values_text->GetLabel().utf8_string();
  const std::string told =
      "    (" + count_text(skipped) + " events not shown: the display fell behind)";
  ASSERT_GE(header.size(), told.size()) << header;
  EXPECT_EQ(header.substr(header.size() - told.size()), told) << header;
  EXPECT_EQ(status(kStatusEvents), "Stopped");
}

TEST_F(Stream, AFileThatIsNotARecordingIsToldAndNothingPlays) {
  const std::string path = (start_folder / "not_a_recording.raw").string();
  std::ofstream(path) << "% evt 3.0\n% end\n";
  const std::string text = (start_folder / "notes.txt").string();
  std::ofstream(text) << "two word";
  const std::string good = write_recording("good.raw", 1000);
  choose(tool("Playback"));
  auto& tool_window = *session->playback_tool;
  for (const auto& [bad, said] :
       {std::pair<std::string, std::string>{
            path, "Cannot play " + path + ": it is an EVT 3.0 recording; this bench reads EVT 2.0"},
        {text, text + " is not an EVT 2.0 recording: it has no header and no time word in its 2 "
                      "words"}}) {
    testing_support::answer_next_file_dialog(good);  // a recording is open before
    click(tool_window.button_open);
    ASSERT_TRUE(presenter().playback().is_open());
    ASSERT_TRUE(tool_window.button_export->IsEnabled());
    testing_support::answer_next_file_dialog(bad);
    click(tool_window.button_open);
    EXPECT_EQ(testing_support::last_file_dialog().directory,
              (start_folder / "recordings").string());
    EXPECT_EQ(message(), "Error: " + said);
    EXPECT_FALSE(presenter().playback().is_open());
    EXPECT_EQ(presenter().playback().info().path, "");
    EXPECT_EQ(tool_window.info_text->GetValue(), "No recording is open.");
    EXPECT_EQ(tool_window.position_text->GetLabel(), "0.0 / 0.0 s");
    for (wxWindow* control : std::initializer_list<wxWindow*>{
             tool_window.button_export, tool_window.button_play, tool_window.speed_choice,
             tool_window.loop_box, tool_window.seek_slider})
      EXPECT_FALSE(control->IsEnabled());
  }
}

TEST_F(Stream, TheToolsExportReplacesAnEarlierExportButNeverItsRecording) {
  const std::string recording = write_recording("to_export.raw", 5000);
  const std::string original = contents(recording);
  const std::string out = (start_folder / "recordings" / "to_export.h5").string();
  fs::create_directories(start_folder / "recordings");
  choose(tool("Playback"));
  auto& tool_window = *session->playback_tool;
  tool_window.open_recording(recording);
  for (int time = 0; time < 2; ++time) {  // the second after the dialog asked to replace it
    testing_support::answer_next_file_dialog(out);
    click(tool_window.button_export);
    EXPECT_EQ(message().rfind("Exported 5,000 events to " + out + " in ", 0), 0u) << message();
  }
  EXPECT_EQ(testing_support::last_file_dialog().filename, "to_export.h5");
  EXPECT_EQ(contents(out).substr(1, 3), "HDF");
  testing_support::answer_next_file_dialog(recording);
  click(tool_window.button_export);
  EXPECT_EQ(message(),
            "Error: Cannot export " + recording + " to " + recording + ": they are the same file");
  EXPECT_TRUE(contents(recording) == original) << "the recording changed";
}

TEST_F(Stream, ThePlaybackWindowTellsWhatItsExportWroteWhole) {
  const std::string recording = write_recording("to_export.raw", 5000);
  // A folder deep enough that the sentence is wider than the window.
  const fs::path folder = start_folder / "recordings" / std::string(150, 'e');
  fs::create_directories(folder);
  const std::string out = (folder / "to_export.h5").string();
  choose(tool("Playback"));
  auto& tool_window = *session->playback_tool;
  tool_window.open_recording(recording);
  testing_support::answer_next_file_dialog(out);
  click(tool_window.button_export);
  const std::string said = message();
  ASSERT_EQ(said.rfind("Exported 5,000 events to " + out + " in ", 0), 0u) << said;
  EXPECT_EQ(tool_window.result_line->text(), wxString::FromUTF8(said));
  EXPECT_TRUE(wait_for([&] { return shown_whole(*tool_window.result_line); }))
      << shown_whole(*tool_window.result_line).message();
  // A refused export is told there too.
  testing_support::answer_next_file_dialog(recording);
  click(tool_window.button_export);
  EXPECT_EQ(tool_window.result_line->text().utf8_string(), message().substr(7));
}

TEST_F(Stream, PlaybackOpenChoosesTheNewestRecording) {
  fs::create_directories(start_folder / "recordings");
  const auto now = fs::file_time_type::clock::now();
  const std::pair<const char*, int> files[] = {{"rec_20261201_100000.raw", -300},
                                               {"rec_20261130_090000.raw", -60},
                                               {"rec_20261202_110000.raw", -200},
                                               {"notes.txt", 0}};
  for (const auto& [name, minutes] : files) {
    const fs::path path = start_folder / "recordings" / name;
    std::ofstream(path) << "x";
    fs::last_write_time(path, now + std::chrono::minutes(minutes));
  }
  choose(tool("Playback"));
  testing_support::cancel_next_file_dialog();
  click(session->playback_tool->button_open);
  EXPECT_EQ(testing_support::last_file_dialog().directory, (start_folder / "recordings").string());
  EXPECT_EQ(testing_support::last_file_dialog().filename, "rec_20261130_090000.raw");
}

TEST_F(Stream, ClosingPlaybackTakesItsLineAwayAndTheMessageFieldStaysReadable) {
  const std::string recording = write_recording("rec_20261208_120000.raw", 5000);
  choose(tool("Playback"));
  auto& tool_window = *session->playback_tool;
  tool_window.open_recording(recording);
  EXPECT_EQ(status(kStatusStream).rfind("Playback rec_20261208_120000.raw paused at ", 0), 0u)
      << status(kStatusStream);
  // Beside the playback's line, at the window's own size, a message is read whole.
  auto& bar = *window().GetStatusBar();
  for (const char* said : {"Board connected", "Recording stopped: stopped by the user"}) {
    presenter().show_message(said);
    wxRect field;
    bar.GetFieldRect(kStatusMessage, field);
    EXPECT_GE(field.width, bar.GetTextExtent(said).x) << said;
  }
  session->playback_tool->Close();
  EXPECT_EQ(status(kStatusStream), "");
  choose(tool("Playback"));  // the recording is still open in it
  EXPECT_EQ(status(kStatusStream).rfind("Playback rec_20261208_120000.raw paused at ", 0), 0u);
}

}  // namespace
}  // namespace Zelvar_Core::bench

namespace Zelvar_Core::bench {
namespace {

TEST_F(Stream, CtrlRThroughTheDisplayStillWorksAfterAnUnplugAndAReplug) {
  window().Raise();
  window().panel_control->button_capture->SetFocus();
  run_for(200);
  wxUIActionSimulator keys;  // real key presses, through the display
  open_simulator();
  plug(false);  // the focused button greys out and loses the focus
  plug(true);
  window().Raise();
  run_for(200);
  keys.Char('R', wxMOD_CONTROL);
  ASSERT_TRUE(wait_for([&] { return presenter().recording(); }))
      << "Ctrl+R did nothing; the focus is on " << wxWindow::FindFocus();
  keys.Char('R', wxMOD_CONTROL);
  EXPECT_TRUE(wait_for([&] { return !presenter().recording(); }));
}

}  // namespace
}  // namespace Zelvar_Core::bench
