#include "Zelvar_Core/Controllers/interactors.h"

#include <wx/checkbox.h>
#include <wx/radiobox.h>

#include <stdexcept>
#include <string>

#include "platform/intctrl/int_ctrl.h"

namespace Zelvar_Core {

namespace {

// The object that emitted the event, as the kind of widget the handler
// serves; anything else is an error naming what was expected.
template <typename Widget>
Widget& event_object(const wxEvent& evt, const char* what) {
  auto* widget = dynamic_cast<Widget*>(evt.GetEventObject());
  if (widget == nullptr)
    throw std::logic_error(std::string("the event's object is not the expected ") + what);
  return *widget;
}

}  // namespace

// ---- MainInteractor: installation ---------------------------------------------

void MainInteractor::install(Presenter& presenter_, MainWindow& view_) {
  presenter = &presenter_;
  delegates = &require(presenter_.delegates_main, "presenter.delegates_main");
  view = &view_;
  config_delegates();
}

void MainInteractor::config_delegates() {
  auto bind_close = [this](wxWindow* window, const char* path) {
    require(window, path).Bind(wxEVT_CLOSE_WINDOW, &MainInteractor::on_close, this);
  };
  bind_close(view, "view");
  bind_close(view->edit_register_device_frame, "edit_register_device_frame");
  bind_close(view->edit_register_chip_frame, "edit_register_chip_frame");
  bind_close(view->edit_dac_frame, "edit_dac_frame");
  bind_close(view->device_info_frame, "device_info_frame");
  bind_close(view->image_histogram_frame, "image_histogram_frame");
  bind_close(view->serial_control_frame, "serial_control_frame");
  bind_close(view->adc_control_frame, "adc_control_frame");
  config_control_button_delegates();
  config_menu_bar_delegates();
  config_other_delegates();
  config_adc_delegates();
}

void MainInteractor::config_control_button_delegates() {
  auto& panel = require(view->panel_control, "panel_control");
  auto bind_button = [this](wxButton* button, const char* path, auto handler) {
    require(button, path).Bind(wxEVT_BUTTON, handler, this);
  };
  bind_button(panel.button_start_stop, "panel_control.button_start_stop",
              &MainInteractor::on_start_stop);
  bind_button(panel.button_capture, "panel_control.button_capture", &MainInteractor::on_capture);
  bind_button(panel.button_reset, "panel_control.button_reset", &MainInteractor::on_reset);
  bind_button(panel.button_reset_periphery, "panel_control.button_reset_periphery",
              &MainInteractor::on_reset_periphery);
  bind_button(panel.button_reset_chip, "panel_control.button_reset_chip",
              &MainInteractor::on_reset_chip);
  require(panel.modes_box, "panel_control.modes_box")
      .Bind(wxEVT_RADIOBOX, &MainInteractor::on_mode_change, this);
}

void MainInteractor::config_menu_bar_delegates() {
  auto& bar = require(view->menu_bar, "menu_bar");
  auto& edit = require(bar.menu_edit, "menu_bar.menu_edit");
  auto& device = require(bar.menu_device, "menu_bar.menu_device");
  auto& image = require(bar.menu_image, "menu_bar.menu_image");
  auto& tools = require(bar.menu_tools, "menu_bar.menu_tools");
  auto bind_item = [this](wxMenuItem* item, const char* path, auto dispatcher) {
    view->Bind(wxEVT_MENU, dispatcher, this, require(item, path).GetId());
  };
  bind_item(edit.item_save_preset, "menu_edit.item_save_preset", &MainInteractor::on_menu_edit);
  bind_item(edit.item_load_preset, "menu_edit.item_load_preset", &MainInteractor::on_menu_edit);
  bind_item(edit.item_reg_dev, "menu_edit.item_reg_dev", &MainInteractor::on_menu_edit);
  bind_item(edit.item_reg_chip, "menu_edit.item_reg_chip", &MainInteractor::on_menu_edit);
  bind_item(edit.item_dac, "menu_edit.item_dac", &MainInteractor::on_menu_edit);
  bind_item(device.item_program, "menu_device.item_program", &MainInteractor::on_menu_device);
  bind_item(device.item_info, "menu_device.item_info", &MainInteractor::on_menu_device);
  view->Bind(wxEVT_MENU, &MainInteractor::on_menu_device_file_history, this, wxID_FILE1,
             wxID_FILE9);
  bind_item(image.item_histogram, "menu_image.item_histogram", &MainInteractor::on_menu_image);
  for (const auto& [name, item] : tools.items) {
    bind_item(item, "menu_tools.items", &MainInteractor::on_menu_tools);
  }
}

void MainInteractor::config_other_delegates() {
  auto& histogram = require(view->image_histogram_frame, "image_histogram_frame");
  auto& plot =
      require(histogram.panel_histogram_plot, "image_histogram_frame.panel_histogram_plot");
  require(plot.button_scale, "panel_histogram_plot.button_scale")
      .Bind(wxEVT_BUTTON, &MainInteractor::on_image_histogram_scale, this);
  auto& serial = require(view->serial_control_frame, "serial_control_frame");
  auto& panel = require(serial.panel_serial_control, "serial_control_frame.panel_serial_control");
  require(panel.btn_write, "panel_serial_control.btn_write")
      .Bind(wxEVT_BUTTON, &MainInteractor::on_write_spi, this);
}

void MainInteractor::config_adc_delegates() {
  auto& adc = require(view->adc_control_frame, "adc_control_frame");
  auto& menu = require(adc.panel_menu, "adc_control_frame.panel_menu");
  require(menu.button_update, "panel_menu.button_update")
      .Bind(wxEVT_BUTTON, &MainInteractor::on_update_adc_ts, this);
  for (const auto& [label, check_box] : menu.enable_widgets) {
    require(check_box, "panel_menu.enable_widgets")
        .Bind(wxEVT_CHECKBOX, &MainInteractor::on_update_adc_panels, this);
  }
}

// ---- MainInteractor: control, mode, ADC and other handlers --------------------

void MainInteractor::on_close(wxCloseEvent& evt) {
  // Neither skipped nor vetoed: the delegate alone decides what closing does.
  delegates->on_close(&event_object<wxWindow>(evt, "closing window"));
}

void MainInteractor::on_start_stop(wxCommandEvent&) { delegates->on_start_stop(); }
void MainInteractor::on_capture(wxCommandEvent&) { delegates->on_capture(); }
void MainInteractor::on_reset(wxCommandEvent&) { delegates->on_reset(); }
void MainInteractor::on_reset_periphery(wxCommandEvent&) { delegates->on_reset_periphery(); }
void MainInteractor::on_reset_chip(wxCommandEvent&) { delegates->on_reset_chip(); }

void MainInteractor::on_mode_change(wxCommandEvent& evt) {
  auto& widget = event_object<wxRadioBox>(evt, "mode radio box");
  const int sel = widget.GetSelection();
  delegates->on_mode_change(widget.GetString(sel).utf8_string());
}

void MainInteractor::on_image_histogram_scale(wxCommandEvent&) { delegates->on_scale_histogram(); }
void MainInteractor::on_write_spi(wxCommandEvent&) { delegates->on_write_spi(); }
void MainInteractor::on_update_adc_ts(wxCommandEvent&) { delegates->on_update_adc_ts(); }
void MainInteractor::on_update_adc_panels(wxCommandEvent&) { delegates->on_update_adc_panels(); }

// ---- MainInteractor: menu dispatch --------------------------------------------
// Every test is made at every event; the items are read again each time.

void MainInteractor::on_menu_edit(wxCommandEvent& evt) {
  const auto& menu = *view->menu_bar->menu_edit;
  const int id = evt.GetId();
  if (id == menu.item_save_preset->GetId()) delegates->on_save_preset();
  if (id == menu.item_load_preset->GetId()) delegates->on_load_preset();
  if (id == menu.item_reg_dev->GetId()) delegates->on_show_registers_device();
  if (id == menu.item_reg_chip->GetId()) delegates->on_show_registers_chip();
  if (id == menu.item_dac->GetId()) delegates->on_show_dacs();
}

void MainInteractor::on_menu_device(wxCommandEvent& evt) {
  const auto& menu = *view->menu_bar->menu_device;
  const int id = evt.GetId();
  if (id == menu.item_program->GetId()) delegates->on_program();
  if (id == menu.item_info->GetId()) delegates->on_show_device_info();
}

void MainInteractor::on_menu_device_file_history(wxCommandEvent& evt) {
  delegates->on_program_recent_file(evt.GetId() - wxID_FILE1);
}

void MainInteractor::on_menu_image(wxCommandEvent& evt) {
  if (evt.GetId() == view->menu_bar->menu_image->item_histogram->GetId()) {
    delegates->on_show_histogram();
  }
}

void MainInteractor::on_menu_tools(wxCommandEvent& evt) {
  const auto& items = view->menu_bar->menu_tools->items;
  const int id = evt.GetId();
  if (id == items.at("Write SPI")->GetId()) delegates->on_show_write_spi();
  if (id == items.at("ADCs")->GetId()) delegates->on_show_adcs();
  if (id == items.at("Execute test")->GetId()) delegates->on_test();
  for (const auto& [name, tool] : presenter->tools) {
    if (id == items.at(name)->GetId()) delegates->on_show_tools(tool);
  }
}

// ---- edit-window interactors --------------------------------------------------

void InteractorEditMenuBase::install(EditDelegatesApi& delegates_, EditorWindow& view_) {
  delegates = &delegates_;
  view = &view_;
  config_delegates();
}

void InteractorEditMenuBase::config_delegates() {
  auto& panel = view->edit_panel();
  require(panel.panel_apply_button(), "panel_values.button_apply")
      .Bind(wxEVT_BUTTON, &InteractorEditMenuBase::on_apply, this);
  for (const auto& [label, widget] : panel.field_widgets()) bind_text_field(widget);
}

void InteractorEditMenuBase::bind_text_field(wxWindow* widget) {
  widget->Bind(wxEVT_TEXT, &InteractorEditMenuBase::on_text_change, this);
  widget->Bind(wxEVT_TEXT_ENTER, &InteractorEditMenuBase::on_apply, this);
}

void InteractorEditMenuBase::on_text_change(wxCommandEvent& evt) {
  delegates->on_text_change(&event_object<wxWindow>(evt, "changed field"));
}

void InteractorEditMenuBase::on_apply(wxCommandEvent&) { delegates->on_apply(); }

void InteractorEditRegisterChip::install(ChipEditDelegatesApi& delegates_, EditorWindow& view_) {
  chip_delegates = &delegates_;
  InteractorEditMenuBase::install(delegates_, view_);
}

void InteractorEditRegisterChip::config_delegates() {
  // Installed through a reference to the base, only the base's delegates
  // were kept: they must offer the check-box operation too.
  if (chip_delegates == nullptr) chip_delegates = dynamic_cast<ChipEditDelegatesApi*>(delegates);
  if (chip_delegates == nullptr)
    throw std::logic_error(
        "the chip-register editor's delegates offer no on_check_box_change (they must be "
        "chip-editor delegates)");
  require(view->window_apply_button(), "button_apply")
      .Bind(wxEVT_BUTTON, &InteractorEditRegisterChip::on_apply, this);
  for (const auto& [label, widget] : view->edit_panel().field_widgets()) {
    if (dynamic_cast<wxCheckBox*>(widget) != nullptr) {
      widget->Bind(wxEVT_CHECKBOX, &InteractorEditRegisterChip::on_check_box, this);
    } else if (dynamic_cast<IntCtrl*>(widget) != nullptr) {
      bind_text_field(widget);
    }
  }
}

void InteractorEditRegisterChip::on_check_box(wxCommandEvent& evt) {
  chip_delegates->on_check_box_change(&event_object<wxCheckBox>(evt, "check box"));
}

}  // namespace Zelvar_Core
