#include "bench/host/bench_session.h"

#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include "bench/host/log_book.h"

namespace Zelvar_Core::bench {

BenchSession::BenchSession(const BenchFolders& folders_) : folders(folders_), window(nullptr) {
  // The recent-files list lives in tmp; the menu bar reads it when built.
  ensure_folder(folders.tmp);
  presenter = std::make_unique<BenchPresenter>(model, folders);
  // Every error of any logger reaches the status bar, on the GUI thread; what
  // is logged while the windows are being built shows once they stand.
  error_post_ = std::make_shared<GuiPost>([](const std::string&) {});
  LogBook::instance().set_error_listener([this, post = error_post_](const LogEntry& entry) {
    const std::string text = "Error: " + entry.message;
    if (wxIsMainThread() && window != nullptr && delegates != nullptr)
      presenter->show_message(text);
    else
      (*post)([this, text] { presenter->show_message(text); });
  });
  window = new BenchMainWindow(model, chip_modes());
  window->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& event) {
    if (event.GetEventObject() == window) window = nullptr;
    event.Skip();
  });
  presenter->attach(*window);
  delegates = std::make_unique<DelegatesMain>(*presenter, *window, model);
  presenter->delegates_main = delegates.get();
  edit_registers = std::make_unique<DelegatesEditMenuBase>(
      *presenter, *window->edit_register_device_frame, model);
  edit_dacs = std::make_unique<DelegatesEditMenuBase>(*presenter, *window->edit_dac_frame, model);
  edit_chip = std::make_unique<DelegatesEditRegisterChip>(*presenter,
                                                          *window->edit_register_chip_frame, model);
  initializer = std::make_unique<BenchInitializer>(model, *presenter, presenter->status());
  presenter->initializer = initializer.get();

  simulator = new BoardSimulatorTool(window, model.simulated_device);
  log_tool = new LogTool(window, LogBook::instance(), folders.logs.string());
  playback_tool = new PlaybackTool(window, *presenter);
  rates_tool = new RatesTool(window, presenter->rates());
  sweep_tool = new SweepTool(window, *presenter);
  sequence_tool = new SequenceTool(window, *presenter);
  const std::pair<const char*, Tool*> host_tools[] = {
      {"Board simulator", simulator}, {"Log", log_tool},     {"Playback", playback_tool},
      {"Rates", rates_tool},          {"Sweep", sweep_tool}, {"Run sequence...", sequence_tool}};
  std::vector<std::string> names;
  for (const auto& [name, tool] : host_tools) {
    presenter->tools[name] = tool;
    names.push_back(name);
  }
  window->menu_bar->configure_tools(names);
  window->adc_control_frame->update_values(presenter->adc_channels(), presenter->sample_time());
  window->edit_register_device_frame->update_values(model.registers_as_values());
  window->edit_dac_frame->update_values(model.dacs_as_values());

  main_interactor.install(*presenter, *window);
  registers_interactor.install(*edit_registers, *window->edit_register_device_frame);
  dacs_interactor.install(*edit_dacs, *window->edit_dac_frame);
  chip_interactor.install(*edit_chip, *window->edit_register_chip_frame);
  presenter->update_view();
}

BenchSession::~BenchSession() {
  LogBook::instance().set_error_listener(nullptr);
  error_post_.reset();
  // Normally the main window has closed itself; if not, the threads end
  // before the windows go, and the windows before the objects they call.
  presenter->close();
  delete window;
}

void BenchSession::report_through(ReportingApp& app) {
  app.on_error = [this](const std::string& what) { presenter->report_error(what); };
  app.on_cancelled = [this](const std::string& what) { presenter->report_cancelled(what); };
}

void BenchSession::show() { window->Show(); }

void BenchSession::demo() {
  // Every window is opened through its menu entry's command, as a click would.
  auto choose = [this](wxMenuItem* item) {
    wxCommandEvent event(wxEVT_MENU, item->GetId());
    event.SetEventObject(window);
    window->ProcessWindowEvent(event);
  };
  auto& menus = *window->menu_bar;
  presenter->toggle_main_img_thread();
  choose(menus.menu_tools->items.at("ADCs"));
  window->adc_control_frame->panel_menu->enable_widgets.at("Ibias (uA)")->SetValue(false);
  presenter->update_adc_panels();
  choose(menus.menu_edit->item_reg_dev);
  choose(menus.menu_edit->item_dac);
  choose(menus.menu_edit->item_reg_chip);
  choose(menus.menu_device->item_info);
  choose(menus.menu_tools->items.at("Write SPI"));
  window->serial_control_frame->panel_serial_control->serial_tx_box->ChangeValue("ID?");
  presenter->send_serial_data();
  choose(menus.menu_image->item_histogram);
  choose(menus.menu_tools->items.at("Board simulator"));
  // Side by side: the main window, then the editors to its right, the ADC
  // monitor and the histogram below.
  const int gap = 8;
  window->Move(0, 0);
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
  simulator->Move(right_of(window->serial_control_frame), below(window->device_info_frame));
  window->adc_control_frame->Move(0, main.GetBottom() + gap);
  window->image_histogram_frame->Move(right_of(window->adc_control_frame), main.GetBottom() + gap);
  // Where each window is, for whoever takes pictures of them.
  for (wxTopLevelWindow* w : std::initializer_list<wxTopLevelWindow*>{
           window, window->edit_register_device_frame, window->edit_dac_frame,
           window->edit_register_chip_frame, window->device_info_frame,
           window->serial_control_frame, simulator, window->adc_control_frame,
           window->image_histogram_frame}) {
    const wxRect r = w->GetRect();
    presenter->logger->info("Window \"{}\" at {}x{}+{}+{}", w->GetTitle().utf8_string(), r.width,
                            r.height, r.x, r.y);
  }
}

}  // namespace Zelvar_Core::bench

namespace Zelvar_Core::bench {

void BenchSession::choose_tool(const std::string& name) {
  wxCommandEvent event(wxEVT_MENU, window->menu_bar->menu_tools->items.at(name)->GetId());
  event.SetEventObject(window);
  window->ProcessWindowEvent(event);
}

void BenchSession::demo_scene(const std::string& scene) {
  auto choose = [this](wxMenuItem* item) {
    wxCommandEvent event(wxEVT_MENU, item->GetId());
    event.SetEventObject(window);
    window->ProcessWindowEvent(event);
  };
  auto& menus = *window->menu_bar;
  window->Move(0, 0);
  if (scene == "unplugged") {
    presenter->toggle_main_img_thread();
    choose(menus.menu_tools->items.at("ADCs"));
    window->adc_control_frame->Move(0, window->GetRect().GetBottom() + 8);
    // Unplugged a moment later, with the image and the monitor live.
    window->CallAfter([this] {
      wxMilliSleep(600);
      model.simulated_device.set_connected(false);
    });
  } else if (scene == "refused") {
    choose(menus.menu_edit->item_dac);
    auto* editor = window->edit_dac_frame;
    editor->Move(window->GetRect().GetRight() + 8, 0);
    auto* field = editor->panel_values->values_widgets.at("VTH_ON");
    field->SetValue("5000");
    wxCommandEvent click(wxEVT_BUTTON, editor->panel_values->button_apply->GetId());
    click.SetEventObject(editor->panel_values->button_apply);
    editor->panel_values->button_apply->GetEventHandler()->ProcessEvent(click);
    // The pointer rests on the field so that its tooltip gives the reason.
    static wxTimer hover;
    hover.Bind(wxEVT_TIMER, [field](wxTimerEvent&) {
      wxUIActionSimulator().MouseMove(field->GetScreenRect().GetPosition() +
                                      wxPoint(field->GetSize().x / 2, field->GetSize().y / 2));
    });
    hover.StartOnce(1500);
  } else if (scene == "playback") {
    // Two seconds recorded, then played back in a loop in the board's place.
    presenter->start_recording();
    static wxTimer later;
    later.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      presenter->stop_main_img_thread();
      choose_tool("Playback");
      playback_tool->Move(window->GetRect().GetRight() + 8, 0);
      playback_tool->open_recording(presenter->last_recording());
      playback_tool->loop_box->SetValue(true);
      presenter->playback().set_loop(true);
      playback_tool->button_play->SetValue(true);
      presenter->play_recording();
    });
    later.StartOnce(2000);
  } else if (scene == "sweep") {
    // A threshold sweep under way, with the rates beside it.
    presenter->toggle_main_img_thread();
    choose_tool("Sweep");
    sweep_tool->Move(0, window->GetRect().GetBottom() + 8);
    choose_tool("Rates");
    rates_tool->Move(sweep_tool->GetRect().GetRight() + 8, window->GetRect().GetBottom() + 8);
    sweep_tool->values_field->ChangeValue("2000, 2100, 2200, 2300, 2400, 2500, 2600, 2700, 2800");
    sweep_tool->settle_field->ChangeValue("0.2");
    sweep_tool->measure_field->ChangeValue("0.8");
    wxCommandEvent run(wxEVT_BUTTON, sweep_tool->button_run->GetId());
    run.SetEventObject(sweep_tool->button_run);
    sweep_tool->button_run->GetEventHandler()->ProcessEvent(run);
  } else if (scene == "sequence") {
    // The threshold sweep example under way in its progress window.
    sequence_tool->run((presenter->folders().root / "sequences" / "threshold_sweep.json").string());
    sequence_tool->Move(0, window->GetRect().GetBottom() + 8);
    sequence_tool->Show();
  } else if (scene == "log") {
    presenter->toggle_main_img_thread();
    presenter->toggle_main_img_thread();
    choose(menus.menu_tools->items.at("Execute test"));
    choose(menus.menu_tools->items.at("Log"));
    log_tool->Move(window->GetRect().GetRight() + 8, 0);
    wxCommandEvent click(wxEVT_BUTTON, log_tool->button_folder->GetId());
    click.SetEventObject(log_tool->button_folder);
    log_tool->button_folder->GetEventHandler()->ProcessEvent(click);
  } else {
    demo();
    return;
  }
  for (wxWindow* w : wxTopLevelWindows) {
    if (!w->IsShown()) continue;
    const wxRect r = w->GetRect();
    presenter->logger->info("Window \"{}\" at {}x{}+{}+{}", w->GetLabel().utf8_string(), r.width,
                            r.height, r.x, r.y);
  }
}

}  // namespace Zelvar_Core::bench
