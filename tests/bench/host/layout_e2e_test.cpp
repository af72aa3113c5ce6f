// Every window of the bench opened as a user opens it, with live data in
// it, and every control's text whole: run with and without a window
// manager (the test command runs these tests a second time under openbox).
#include <wx/toplevel.h>

#include "tests/bench/host/bench_fixture.h"
#include "tests/support/layout_check.h"

namespace Zelvar_Core::bench {
namespace {

class Layout : public Bench {
 protected:
  // Every window shown now, each control's text checked.
  std::vector<std::string> in_shown_windows(
      std::vector<std::string> (*check)(const wxTopLevelWindow&)) {
    testing_support::wait_until_placed();
    std::vector<std::string> found;
    for (wxWindow* w : wxTopLevelWindows) {
      auto* top = dynamic_cast<wxTopLevelWindow*>(w);
      if (top == nullptr || !top->IsShown()) continue;
      for (auto& line : check(*top)) found.push_back(line);
    }
    return found;
  }
  // Every window of the bench, the way a user opens each.
  void open_every_window() {
    auto& menus = *window().menu_bar;
    choose(menus.menu_edit->item_reg_dev);
    choose(menus.menu_edit->item_dac);
    choose(menus.menu_edit->item_reg_chip);
    choose(menus.menu_device->item_info);
    choose(menus.menu_image->item_histogram);
    for (const char* name : {"ADCs", "Write SPI", "Board simulator", "Log", "Playback", "Rates",
                             "Sweep", "Execute test", "Results"})
      choose(tool(name));
    session->help_window->show(HelpWindow::kFiles);
    // The ADC monitor's channel boxes are made with its first samples.
    ASSERT_TRUE(wait_for([&] { return presenter().adc_channels().at("vdd").data_t.size() > 1; }));
  }
  // The recording's line, renewed each second by its timer, tells events
  // recorded: it is as wide as a recording makes it.
  std::function<bool()> recording_line_counts_events = [this] {
    const std::string line = status(kStatusStream);
    return line.rfind("REC ", 0) == 0 && line.find(" | 0 ev |") == std::string::npos;
  };
  std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + line;
    return text;
  }
};

TEST_F(Layout, EveryWindowShowsTheWholeTextOfEveryControl) {
  click(window().panel_control->button_start_stop);
  open_every_window();
  window().serial_control_frame->panel_serial_control->serial_tx_box->ChangeValue("ID?");
  presenter().send_serial_data();
  // A recording under way, then one open for playback: their lines and labels.
  presenter().start_recording();
  ASSERT_TRUE(wait_for(recording_line_counts_events));
  presenter().stop_recording("stopped by the user");
  session->playback_tool->open_recording(presenter().last_recording());
  ASSERT_TRUE(wait_for([&] { return presenter().adc_channels().at("vdd").data_t.size() > 3; }));
  const auto clipped = in_shown_windows(testing_support::clipped_controls);
  EXPECT_TRUE(clipped.empty()) << clipped.size() << " controls clipped:" << joined(clipped);
}

// A folder deeper than a window is wide is shown elided in the middle, its
// start and its last names in sight, whole in the tooltip, copied whole;
// the windows that show it stay within the screen.
TEST_F(Layout, ADeepFolderIsShownElidedAndCopiedWhole) {
  const fs::path deep = restart_in_deep_folder(200);
  ASSERT_GE(deep.string().size(), 200u);
  choose(tool("Log"));
  session->help_window->show(HelpWindow::kFiles);
  const auto clipped = in_shown_windows(testing_support::clipped_controls);
  EXPECT_TRUE(clipped.empty()) << clipped.size() << " controls clipped:" << joined(clipped);
  const std::string logs = (deep / "logs").string();
  auto& log_tool = *session->log_tool;
  const wxString shown = log_tool.folder_text->GetValue();
  EXPECT_EQ(log_tool.folder_text->path(), logs);
  EXPECT_EQ(log_tool.folder_text->GetToolTipText().utf8_string(), logs);
  EXPECT_LT(shown.size(), logs.size());
  EXPECT_TRUE(shown.StartsWith(wxString::FromUTF8(logs.substr(0, 8)))) << shown;
  EXPECT_TRUE(shown.EndsWith("/logs")) << shown;
  EXPECT_NE(shown.Find("..."), wxNOT_FOUND) << shown;
  click(log_tool.button_folder);
  EXPECT_EQ(log_tool.folder_outcome->GetLabel(), "Copied");
  EXPECT_EQ(testing_support::clipboard_text(), logs);
  for (const wxWindow* w :
       {static_cast<wxWindow*>(&log_tool), static_cast<wxWindow*>(session->help_window)})
    EXPECT_LE(w->GetSize().x, wxGetDisplaySize().x) << w->GetLabel();
  for (const auto& place : session->help_window->places)
    EXPECT_EQ(place.path.rfind(deep.string(), 0), 0u) << place.what;
}

// With or without a window manager (a frame nobody places opens at the
// screen's corner, over the main window's menu).
TEST_F(Layout, EveryWindowOpensBesideTheMainWindowNeverOverItsMenuOrStart) {
  open_every_window();
  auto overlaps = [&] {
    const wxRect main = window().GetRect();
    const wxRect menu(main.x, main.y, main.width,
                      window().ClientToScreen(wxPoint(0, 0)).y - main.y);
    const wxRect start = window().panel_control->button_start_stop->GetScreenRect();
    std::vector<std::string> found;
    for (wxWindow* w : wxTopLevelWindows) {
      auto* top = dynamic_cast<wxTopLevelWindow*>(w);
      if (top == nullptr || !top->IsShown() || top == &window()) continue;
      const wxRect r = top->GetRect();
      if (r.Intersects(menu) || r.Intersects(start))
        found.push_back(top->GetTitle().utf8_string() + " at " + std::to_string(r.x) + "," +
                        std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
                        std::to_string(r.height));
    }
    return found;
  };
  EXPECT_TRUE(wait_for([&] { return overlaps().empty(); }))
      << "over the menu or Start:" << joined(overlaps());
}

TEST_F(Layout, EveryControlAUserWorksSaysWhatItDoes) {
  open_every_window();
  const auto untipped = in_shown_windows(testing_support::controls_without_tooltip);
  EXPECT_TRUE(untipped.empty()) << untipped.size() << " without a tooltip:" << joined(untipped);
}

TEST_F(Layout, TheStatusBarShowsEachFieldWholeWhileRecording) {
  click(window().panel_control->button_start_stop);
  presenter().start_recording();
  ASSERT_TRUE(wait_for(recording_line_counts_events)) << status(kStatusStream);
  const auto clipped = testing_support::clipped_controls(window());
  EXPECT_TRUE(clipped.empty()) << joined(clipped);
  presenter().stop_recording("stopped by the user");
}

}  // namespace
}  // namespace Zelvar_Core::bench
