#include "bench/bench_session.h"

#include <filesystem>

namespace Zelvar_Core::bench {

BenchSession::BenchSession() {
  // The recent-files list lives in ./tmp; the menu bar reads it when built.
  std::filesystem::create_directories("tmp");
  presenter = std::make_unique<BenchPresenter>(model);
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
  initializer = std::make_unique<BenchInitializer>(model, *presenter);
  presenter->initializer = initializer.get();

  simulator = new BoardSimulatorTool(window, model.simulated_device,
                                     [this] { presenter->acquisition().fail_next_read(); });
  presenter->tools["Board simulator"] = simulator;
  window->menu_bar->configure_tools({"Board simulator"});
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
  // Normally the main window has closed itself; if not, the threads end
  // before the windows go, and the windows before the objects they call.
  presenter->close();
  delete window;
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

bool ReportingApp::OnExceptionInMainLoop() {
  report_current_exception();
  return true;  // go on
}

void ReportingApp::CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                                    wxEvent& event) const {
  try {
    wxApp::CallEventHandler(handler, functor, event);
  } catch (...) {
    report_current_exception();
  }
}

void ReportingApp::report_current_exception() const {
  std::string what = "unknown error";
  try {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  if (on_error)
    on_error(what);
  else
    get_logger("pravel")->error("{}", what);
}

}  // namespace Zelvar_Core::bench
