// The delegates: each user request as its fixed sequence of calls on the
// host's model, presenter and windows.
#pragma once

#include <string>

#include "Zelvar_Core/Host/controller_api.h"
#include "Zelvar_Core/Host/main_model.h"
#include "Zelvar_Core/Host/main_window.h"
#include "Zelvar_Core/Host/presenter.h"
#include "Zelvar_Core/Host/windows.h"

namespace Zelvar_Core {

class DelegatesMain : public MainDelegatesApi {
 public:
  DelegatesMain(Presenter& presenter, MainWindow& view, MainModel& model);

  // Acquisition, mode, connection and reset.
  void on_start_stop() override;
  void on_capture() override;
  void on_reset() override;
  void on_reset_periphery() override;
  void on_reset_chip() override;
  void on_mode_change(const std::string& mode) override;
  void on_connection_change() override;

  // Bitstream programming, recent files and presets.
  void on_program() override;
  void on_program_recent_file(int idx) override;
  void on_save_preset() override;
  void on_load_preset() override;

  // Tool windows, histogram, serial, ADC, tools, test and close.
  void on_show_device_info() override;
  void on_show_registers_device() override;
  void on_show_registers_chip() override;
  void on_show_dacs() override;
  void on_show_histogram() override;
  void on_scale_histogram() override;
  void on_show_write_spi() override;
  void on_show_adcs() override;
  void on_write_spi() override;
  void on_update_adc_ts() override;
  void on_update_adc_panels() override;
  void on_show_tools(Tool* tool) override;
  void on_test() override;
  void on_close(wxWindow* window) override;

  Presenter& presenter;
  MainWindow& view;
  MainModel& model;

 private:
  void save_program_history();
  Device& device();
  DeviceActions& actions();
};

class DelegatesEditMenuBase : public virtual EditDelegatesApi {
 public:
  DelegatesEditMenuBase(Presenter& presenter, EditorWindow& view, MainModel& model);

  void on_text_change(wxWindow* widget) override;
  void on_apply() override;
  void on_close() override;

  Presenter& presenter;
  EditorWindow& view;
  MainModel& model;
};

class DelegatesEditRegisterChip : public DelegatesEditMenuBase, public ChipEditDelegatesApi {
 public:
  DelegatesEditRegisterChip(Presenter& presenter, EditorWindow& view, MainModel& model);

  void on_check_box_change(wxCheckBox* evt_widget) override;
};

}  // namespace Zelvar_Core
