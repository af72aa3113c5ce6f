// The operations that the interactors call on the delegates. The interactors
// know only these; the delegates module implements them.
#pragma once

#include <wx/checkbox.h>
#include <wx/window.h>

#include <string>

namespace Zelvar_Core {

class Tool;

class MainDelegatesApi {
 public:
  virtual ~MainDelegatesApi() = default;
  virtual void on_start_stop() = 0;
  virtual void on_capture() = 0;
  virtual void on_reset() = 0;
  virtual void on_reset_periphery() = 0;
  virtual void on_reset_chip() = 0;
  virtual void on_mode_change(const std::string& mode) = 0;
  virtual void on_connection_change() = 0;
  virtual void on_program() = 0;
  virtual void on_program_recent_file(int idx) = 0;
  virtual void on_save_preset() = 0;
  virtual void on_load_preset() = 0;
  virtual void on_show_device_info() = 0;
  virtual void on_show_registers_device() = 0;
  virtual void on_show_registers_chip() = 0;
  virtual void on_show_dacs() = 0;
  virtual void on_show_histogram() = 0;
  virtual void on_scale_histogram() = 0;
  virtual void on_show_write_spi() = 0;
  virtual void on_show_adcs() = 0;
  virtual void on_write_spi() = 0;
  virtual void on_update_adc_ts() = 0;
  virtual void on_update_adc_panels() = 0;
  virtual void on_show_tools(Tool* tool) = 0;
  virtual void on_test() = 0;
  virtual void on_close(wxWindow* window) = 0;
};

class EditDelegatesApi {
 public:
  virtual ~EditDelegatesApi() = default;
  virtual void on_text_change(wxWindow* widget) = 0;
  virtual void on_apply() = 0;
  virtual void on_close() = 0;
};

class ChipEditDelegatesApi : public virtual EditDelegatesApi {
 public:
  virtual void on_check_box_change(wxCheckBox* evt_widget) = 0;
};

}  // namespace Zelvar_Core
