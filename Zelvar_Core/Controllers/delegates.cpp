#include "Zelvar_Core/Controllers/delegates.h"

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/log.h>

#include <stdexcept>

namespace Zelvar_Core {

namespace {

Closable& as_closable(wxWindow* window) {
  auto* closable = dynamic_cast<Closable*>(window);
  if (closable == nullptr) throw std::logic_error("the closing window offers no close()");
  return *closable;
}

// The Device menu of the main window, each part required.
MainDeviceMenu& device_menu(MainWindow& view) {
  auto& bar = require(view.menu_bar, "menu_bar");
  return require(bar.menu_device, "menu_bar.menu_device");
}

wxFileHistory& history_of(MainWindow& view) {
  return require(device_menu(view).program_history.get(), "menu_device.program_history");
}

}  // namespace

DelegatesMain::DelegatesMain(Presenter& presenter, MainWindow& view, MainModel& model)
    : presenter(presenter), view(view), model(model) {}

// Read again at every use, as the host may swap them; a missing one is an
// error naming it.
Device& DelegatesMain::device() { return require(model.device, "model.device"); }
DeviceActions& DelegatesMain::actions() {
  return require(device().actions, "model.device.actions");
}

// ---- acquisition, mode, connection and reset --------------------------------

void DelegatesMain::on_start_stop() {
  presenter.logger->debug("On start or stop");
  presenter.toggle_main_img_thread();
}

void DelegatesMain::on_capture() {
  presenter.capture();
  presenter.logger->info("Start capture.");
}

void DelegatesMain::on_reset() {
  actions().reset_device();
  actions().reset_fifo();
  actions().reset_ram();
  presenter.logger->debug("Reset device.");
}

void DelegatesMain::on_reset_periphery() {
  presenter.logger->debug("Reset periphery.");
  actions().reset_aer();
}

void DelegatesMain::on_reset_chip() {
  presenter.logger->info("Reset chip.");
  actions().reset_chip();
}

void DelegatesMain::on_mode_change(const std::string& mode) { presenter.set_mode(mode); }

void DelegatesMain::on_connection_change() {
  if (!device().is_connected) {
    presenter.logger->info("Device disconnected");
    model.binary_file = "";
    presenter.stop_main_img_thread();
    model.reset_image();
    presenter.update_image();
  } else {
    presenter.logger->info("On connection");
    presenter.update_view();
  }
}

// ---- bitstream programming, recent files and presets ------------------------

void DelegatesMain::on_program() {
  // On the stack: the dialog goes however this operation ends.
  wxFileDialog dialog(&view, "Open bitstream file", wxEmptyString, wxEmptyString,
                      "Bitstream files (*.bit)|*.bit",
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_CHANGE_DIR);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  model.binary_file = dialog.GetPath().utf8_string();
  device().program(model.binary_file);
  model.read_dev_registers();
  auto& history = history_of(view);
  history.AddFileToHistory(wxString::FromUTF8(model.binary_file));
  save_program_history();
}

void DelegatesMain::on_program_recent_file(int idx) {
  auto& history = history_of(view);
  // The menu offers nine numbers whatever the history holds; one it does not
  // hold is reported like a vanished file, and nothing is read out of bounds.
  const bool held = idx >= 0 && static_cast<size_t>(idx) < history.GetCount();
  const wxString bin_path = held ? history.GetHistoryFile(idx) : wxString();
  if (held && wxFileName::Exists(bin_path)) {
    history.AddFileToHistory(bin_path);
    model.binary_file = bin_path.utf8_string();
    device().program(bin_path.utf8_string());
    model.read_dev_registers();
  } else {
    log_error(presenter.logger, "The file %s doesn't exist.", bin_path.utf8_string());
    if (held) history.RemoveFileFromHistory(idx);
  }
  save_program_history();
}

void DelegatesMain::save_program_history() {
  auto& menu = device_menu(view);
  auto& config = require(menu.program_history_config.get(), "menu_device.program_history_config");
  history_of(view).Save(config);
  // The list is the user's working memory: make sure its folder exists, and
  // if the file still cannot be written, say so (the list stays in memory).
  const wxFileName file(menu.program_history_path);
  const wxString folder = file.GetPath();
  {
    wxLogNull quiet;  // the reason is told once, below, not by the toolkit too
    if (!folder.empty() && !wxFileName::DirExists(folder))
      wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    if (config.Flush()) return;
  }
  const std::string reason = !folder.empty() && !wxFileName::DirExists(folder)
                                 ? "its folder " + folder.utf8_string() + " cannot be made"
                                 : "the file cannot be written";
  log_error(presenter.logger, "The list of recent bitstreams was not saved to %s.",
            menu.program_history_path.utf8_string() + ": " + reason);
}

void DelegatesMain::on_save_preset() { presenter.save_preset(); }

void DelegatesMain::on_load_preset() { presenter.load_preset(); }

// ---- tool windows, histogram, serial, ADC, tools, test and close ------------

void DelegatesMain::on_show_device_info() {
  auto& window = require(view.device_info_frame, "device_info_frame");
  window.update_info(device().info);
  window.open();
}

void DelegatesMain::on_show_registers_device() {
  auto& window = require(view.edit_register_device_frame, "edit_register_device_frame");
  model.read_dev_registers();
  window.open();
}

void DelegatesMain::on_show_registers_chip() {
  auto& window = require(view.edit_register_chip_frame, "edit_register_chip_frame");
  model.read_signals();
  window.open();
}

void DelegatesMain::on_show_dacs() {
  auto& window = require(view.edit_dac_frame, "edit_dac_frame");
  presenter.update_view(window.GetId());
  window.open();
}

void DelegatesMain::on_show_histogram() {
  require(view.image_histogram_frame, "image_histogram_frame").open();
}

void DelegatesMain::on_scale_histogram() {
  auto& window = require(view.image_histogram_frame, "image_histogram_frame");
  const BinSettings settings = window.get_bin_settings();
  require(model.img_histogram, "model.img_histogram")
      .set_settings(settings.max, settings.min, settings.bins);
  window.scale();
  presenter.process_img();
  presenter.update_image();
}

void DelegatesMain::on_show_write_spi() {
  require(view.serial_control_frame, "serial_control_frame").open();
}

void DelegatesMain::on_show_adcs() {
  auto& window = require(view.adc_control_frame, "adc_control_frame");
  presenter.run_adc();
  window.open();
}

void DelegatesMain::on_write_spi() { presenter.send_serial_data(); }

void DelegatesMain::on_update_adc_ts() { presenter.update_adc_ts(); }

void DelegatesMain::on_update_adc_panels() { presenter.update_adc_panels(); }

void DelegatesMain::on_show_tools(Tool* tool) {
  require(tool, "tool");
  if (tool->chip_reg_update) model.read_signals();
  if (tool->dev_reg_update) model.read_dev_registers();
  if (!tool->is_shown()) tool->open();
}

void DelegatesMain::on_test() { require(presenter.initializer, "presenter.initializer").on_test(); }

void DelegatesMain::on_close(wxWindow* window) {
  // The window comes from the toolkit's close event, not from the host.
  if (window == nullptr) throw std::logic_error("the close event names no window");
  if (window->GetId() == require(view.adc_control_frame, "adc_control_frame").GetId()) {
    presenter.stop_adc();
  }
  if (window->GetId() == view.GetId()) {
    presenter.close();
    as_closable(window).close();
  } else {
    as_closable(window).close();
  }
}

// ---- edit windows -------------------------------------------------------------

DelegatesEditMenuBase::DelegatesEditMenuBase(Presenter& presenter, EditorWindow& view,
                                             MainModel& model)
    : presenter(presenter), view(view), model(model) {}

void DelegatesEditMenuBase::on_text_change(wxWindow* widget) {
  view.edit_panel().on_text_change(widget);
}

void DelegatesEditMenuBase::on_apply() {
  presenter.update_model(view.GetId());
  view.edit_panel().to_default_color();
}

void DelegatesEditMenuBase::on_close() { view.close(); }

DelegatesEditRegisterChip::DelegatesEditRegisterChip(Presenter& presenter, EditorWindow& view,
                                                     MainModel& model)
    : DelegatesEditMenuBase(presenter, view, model) {}

void DelegatesEditRegisterChip::on_check_box_change(wxCheckBox* evt_widget) {
  const int check_value = evt_widget->GetValue() ? 1 : 0;
  for (const auto& [label, widget] : view.edit_panel().field_widgets()) {
    if (evt_widget->GetId() == widget->GetId()) {
      model.write_signal(label, check_value);
      break;
    }
  }
}

}  // namespace Zelvar_Core
