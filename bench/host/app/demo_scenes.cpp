#include "bench/host/app/demo_scenes.h"

#include <wx/toplevel.h>
#include <wx/uiaction.h>

namespace Zelvar_Core::bench {

void DemoScenes::choose(wxMenuItem* item) {
  wxCommandEvent event(wxEVT_MENU, item->GetId());
  event.SetEventObject(s_.window);
  s_.window->ProcessWindowEvent(event);
}

void DemoScenes::click(wxButton* button) {
  wxCommandEvent event(wxEVT_BUTTON, button->GetId());
  event.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(event);
}

void DemoScenes::show(const std::string& scene) {
  s_.window->Move(0, 0);
  const std::pair<const char*, void (DemoScenes::*)()> scenes[] = {
      {"unplugged", &DemoScenes::unplugged},
      {"refused", &DemoScenes::refused},
      {"playback", &DemoScenes::playback},
      {"export", &DemoScenes::exported},
      {"rates", &DemoScenes::rates},
      {"beside", &DemoScenes::beside},
      {"sweep", &DemoScenes::sweep},
      {"sequence", &DemoScenes::sequence},
      {"log", &DemoScenes::log},
      {"help", &DemoScenes::help},
      {"sensor", &DemoScenes::sensor}};
  auto chosen = &DemoScenes::every_window;
  for (const auto& [name, shows] : scenes)
    if (scene == name) chosen = shows;
  (this->*chosen)();
  log_places();
}

void DemoScenes::log_places() {
  for (wxWindow* w : wxTopLevelWindows) {
    if (!w->IsShown()) continue;
    const wxRect r = w->GetRect();
    s_.presenter->logger->info("Window \"{}\" at {}x{}+{}+{}", w->GetLabel().utf8_string(), r.width,
                               r.height, r.x, r.y);
  }
}

void DemoScenes::every_window() {
  auto* window = s_.window;
  auto& menus = *window->menu_bar;
  s_.presenter->toggle_main_img_thread();
  choose(menus.menu_tools->items.at("ADCs"));
  window->adc_control_frame->panel_menu->enable_widgets
      .at(s_.model.board().declaration().adc_labels().back())
      ->SetValue(false);
  s_.presenter->update_adc_panels();
  choose(menus.menu_edit->item_reg_dev);
  choose(menus.menu_edit->item_dac);
  choose(menus.menu_edit->item_reg_chip);
  choose(menus.menu_device->item_info);
  choose(menus.menu_tools->items.at("Write SPI"));
  window->serial_control_frame->panel_serial_control->serial_tx_box->ChangeValue("ID?");
  if (s_.model.board().declaration().has_serial_port) s_.presenter->send_serial_data();
  choose(menus.menu_image->item_histogram);
  choose(menus.menu_tools->items.at("Board simulator"));
  // Side by side: the main window, then the editors to its right, the ADC
  // monitor and the histogram below.
  const int gap = 8;
  const wxRect main = window->GetRect();
  auto right_of = [gap](wxWindow* w) { return w->GetRect().GetRight() + gap; };
  auto below = [gap](wxWindow* w) { return w->GetRect().GetBottom() + gap; };
  window->edit_register_device_frame->Move(main.GetRight() + gap, 0);
  window->edit_dac_frame->Move(right_of(window->edit_register_device_frame), 0);
  window->edit_register_chip_frame->Move(main.GetRight() + gap,
                                         below(window->edit_register_device_frame));
  window->device_info_frame->Move(right_of(window->edit_register_chip_frame),
                                  below(window->edit_register_device_frame));
  window->serial_control_frame->Move(main.GetRight() + gap,
                                     below(window->edit_register_chip_frame));
  s_.simulator->Move(right_of(window->serial_control_frame), below(window->device_info_frame));
  window->adc_control_frame->Move(0, main.GetBottom() + gap);
  window->image_histogram_frame->Move(right_of(window->adc_control_frame), main.GetBottom() + gap);
}

void DemoScenes::sensor() {
  // Every window as the board declares itself, and the mode it lacks asked
  // for (`pravel --demo sensor --sensor 320x240`: the test pattern).
  every_window();
  const auto& modes = chip_modes();
  for (std::size_t i = 0; i < modes.size(); ++i) {
    if (s_.model.board().declaration().has_mode(static_cast<SensorMode>(i))) continue;
    try {
      s_.presenter->set_mode(modes[i]);
    } catch (const std::exception& e) {
      s_.presenter->report_error(e.what());
    }
    break;
  }
}

void DemoScenes::unplugged() {
  s_.presenter->toggle_main_img_thread();
  choose(s_.window->menu_bar->menu_tools->items.at("ADCs"));
  s_.window->adc_control_frame->Move(0, s_.window->GetRect().GetBottom() + 8);
  // Unplugged a moment later, with the image and the monitor live.
  later_.Bind(wxEVT_TIMER,
              [this](wxTimerEvent&) { s_.model.simulated_device.set_connected(false); });
  later_.StartOnce(600);
}

void DemoScenes::refused() {
  choose(s_.window->menu_bar->menu_edit->item_dac);
  auto* editor = s_.window->edit_dac_frame;
  editor->Move(s_.window->GetRect().GetRight() + 8, 0);
  auto* field = editor->panel_values->values_widgets.at("VTH_ON");
  field->SetValue("5000");
  click(editor->panel_values->button_apply);
  // The pointer rests on the field so that its tooltip gives the reason.
  later_.Bind(wxEVT_TIMER, [field](wxTimerEvent&) {
    wxUIActionSimulator().MouseMove(field->GetScreenRect().GetPosition() +
                                    wxPoint(field->GetSize().x / 2, field->GetSize().y / 2));
  });
  later_.StartOnce(1500);
}

void DemoScenes::playback() {
  // Two seconds recorded, then played back in a loop in the board's place.
  s_.presenter->start_recording();
  later_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    auto* tool = s_.playback_tool.get();
    s_.presenter->stop_main_img_thread();
    s_.choose_tool("Playback");
    tool->Move(s_.window->GetRect().GetRight() + 8, 0);
    tool->open_recording(s_.presenter->last_recording());
    tool->loop_box->SetValue(true);
    s_.presenter->playback().set_loop(true);
    tool->button_play->SetValue(true);
    s_.presenter->play_recording();
  });
  later_.StartOnce(2000);
}

void DemoScenes::exported() {
  // A second recorded, then exported to HDF5 from the Playback window.
  s_.presenter->start_recording();
  later_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    s_.presenter->stop_main_img_thread();
    s_.choose_tool("Playback");
    const std::string recording = s_.presenter->last_recording();
    s_.playback_tool->open_recording(recording);
    s_.playback_tool->export_to(recording.substr(0, recording.size() - 4) + ".h5");
  });
  later_.StartOnce(1000);
}

void DemoScenes::rates() {
  // The Rates tool, where the bench opens it, across a stop: 3 s of stream,
  // 3 s stopped, 3 s of stream, then stopped.
  // Opened once the main window has its place on the desktop.
  s_.presenter->toggle_main_img_thread();
  later_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    if (acts_++ == 0) {
      s_.choose_tool("Rates");
      later_.StartOnce(2000);
      return;
    }
    s_.presenter->toggle_main_img_thread();
    if (acts_ < 4) later_.StartOnce(3000);
  });
  later_.StartOnce(1000);
}

void DemoScenes::beside() {
  // A tool window opened as a user opens it: the bench places it.
  s_.presenter->toggle_main_img_thread();
  later_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { s_.choose_tool("Playback"); });
  later_.StartOnce(1000);
}

void DemoScenes::sweep() {
  // A threshold sweep under way, with the rates beside it.
  auto* tool = s_.sweep_tool.get();
  s_.presenter->toggle_main_img_thread();
  s_.choose_tool("Sweep");
  tool->Move(0, s_.window->GetRect().GetBottom() + 8);
  s_.choose_tool("Rates");
  s_.rates_tool->Move(tool->GetRect().GetRight() + 8, s_.window->GetRect().GetBottom() + 8);
  tool->values_field->ChangeValue("2000, 2100, 2200, 2300, 2400, 2500, 2600, 2700, 2800");
  tool->settle_field->ChangeValue("0.2");
  tool->measure_field->ChangeValue("0.8");
  click(tool->button_run);
}

void DemoScenes::sequence() {
  // The threshold sweep example under way in its progress window.
  s_.sequence_tool->run(
      (s_.presenter->folders().root / "sequences" / "threshold_sweep.json").string());
  s_.sequence_tool->Move(0, s_.window->GetRect().GetBottom() + 8);
  s_.sequence_tool->Show();
}

void DemoScenes::help() {
  // The Help window's pages and the self-test's window.
  choose(s_.window->menu_bar->menu_tools->items.at("Execute test"));
  s_.self_test_window->Move(0, s_.window->GetRect().GetBottom() + 8);
  s_.help_window->show(HelpWindow::kFiles);
  s_.help_window->Move(s_.window->GetRect().GetRight() + 8, 0);
}

void DemoScenes::log() {
  auto& menus = *s_.window->menu_bar;
  s_.presenter->toggle_main_img_thread();
  s_.presenter->toggle_main_img_thread();
  choose(menus.menu_tools->items.at("Execute test"));
  choose(menus.menu_tools->items.at("Log"));
  s_.log_tool->Move(s_.window->GetRect().GetRight() + 8, 0);
  click(s_.log_tool->button_folder);
}

}  // namespace Zelvar_Core::bench
