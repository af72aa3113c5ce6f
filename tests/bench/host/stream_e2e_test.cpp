// The board's stream recorded from the control panel and played back in
// the board's place, end to end.
#include <wx/tglbtn.h>
#include <wx/uiaction.h>

#include "bench/events/recording_file.h"
#include "tests/bench/events/event_keeper.h"
#include "tests/bench/host/bench_fixture.h"

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
  // "Recorded rec_....raw: 2.3 MB, 151,234 events, 0 dropped"
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

TEST_F(Stream, AFileThatIsNotARecordingIsToldAndNothingPlays) {
  const std::string path = (start_folder / "not_a_recording.raw").string();
  std::ofstream(path) << "% evt 3.0\n% end\n";
  choose(tool("Playback"));
  testing_support::answer_next_file_dialog(path);
  click(session->playback_tool->button_open);
  EXPECT_EQ(testing_support::last_file_dialog().directory, (start_folder / "recordings").string());
  EXPECT_EQ(message(), "Error: Cannot play " + path +
                           ": it is an EVT 3.0 recording; this bench reads EVT 2.0");
  EXPECT_FALSE(presenter().playback().is_open());
  EXPECT_FALSE(session->playback_tool->button_play->IsEnabled());
}

}  // namespace
}  // namespace Zelvar_Core::bench

namespace Zelvar_Core::bench {
namespace {

TEST_F(Stream, CtrlRFromTheKeyboardStillWorksAfterAnUnplugAndAReplug) {
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
