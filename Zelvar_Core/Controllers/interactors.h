// The interactors: bind the events of the main window, its menus, its tool
// windows and the values editors to one delegate operation each.
#pragma once

#include <wx/event.h>

#include "Zelvar_Core/Host/controller_api.h"
#include "Zelvar_Core/Host/main_window.h"
#include "Zelvar_Core/Host/presenter.h"
#include "Zelvar_Core/Host/windows.h"

namespace Zelvar_Core {

class MainInteractor {
 public:
  // Binds everything once; a widget the window lacks stops it with an error,
  // and the bindings made before stay.
  void install(Presenter& presenter, MainWindow& view);

  Presenter* presenter = nullptr;
  MainDelegatesApi* delegates = nullptr;
  MainWindow* view = nullptr;

 private:
  void config_delegates();
  void config_control_button_delegates();
  void config_menu_bar_delegates();
  void config_other_delegates();
  void config_adc_delegates();

  void on_close(wxCloseEvent& evt);
  void on_start_stop(wxCommandEvent& evt);
  void on_capture(wxCommandEvent& evt);
  void on_reset(wxCommandEvent& evt);
  void on_reset_periphery(wxCommandEvent& evt);
  void on_reset_chip(wxCommandEvent& evt);
  void on_mode_change(wxCommandEvent& evt);
  void on_image_histogram_scale(wxCommandEvent& evt);
  void on_write_spi(wxCommandEvent& evt);
  void on_update_adc_ts(wxCommandEvent& evt);
  void on_update_adc_panels(wxCommandEvent& evt);

  void on_menu_edit(wxCommandEvent& evt);
  void on_menu_device(wxCommandEvent& evt);
  void on_menu_device_file_history(wxCommandEvent& evt);
  void on_menu_image(wxCommandEvent& evt);
  void on_menu_tools(wxCommandEvent& evt);
};

class InteractorEditMenuBase {
 public:
  virtual ~InteractorEditMenuBase() = default;

  void install(EditDelegatesApi& delegates, EditorWindow& view);
  void on_text_change(wxCommandEvent& evt);
  void on_apply(wxCommandEvent& evt);

  EditDelegatesApi* delegates = nullptr;
  EditorWindow* view = nullptr;

 protected:
  // Binds the panel's Apply button and every field of the editor.
  virtual void config_delegates();
  void bind_text_field(wxWindow* widget);
};

class InteractorEditRegisterChip : public InteractorEditMenuBase {
 public:
  void install(ChipEditDelegatesApi& delegates, EditorWindow& view);

 protected:
  // Binds the window's Apply button, the check boxes and the integer fields.
  void config_delegates() override;

 private:
  void on_check_box(wxCommandEvent& evt);
  ChipEditDelegatesApi* chip_delegates = nullptr;
};

}  // namespace Zelvar_Core
