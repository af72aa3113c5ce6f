// The host's main window, as the front end uses it: its menu bar, its control
// panel and its seven tool windows. The host builds all of them.
#pragma once

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/radiobox.h>

#include <stdexcept>
#include <string>

#include "Zelvar_Core/Host/windows.h"
#include "Zelvar_Core/Views/drumlo.h"
#include "Zelvar_Core/Views/haskel.h"
#include "Zelvar_Core/Views/prenna.h"
#include "Zelvar_Core/Views/tolmar.h"
#include "Zelvar_Core/Views/vandry.h"

namespace Zelvar_Core {

class ControlPanel : public wxPanel {
 public:
  using wxPanel::wxPanel;
  wxButton* button_start_stop = nullptr;
  wxButton* button_capture = nullptr;
  wxButton* button_reset = nullptr;
  wxButton* button_reset_periphery = nullptr;
  wxButton* button_reset_chip = nullptr;
  wxRadioBox* modes_box = nullptr;  // one item per mode, labelled with its name
};

class MainWindow : public wxFrame, public virtual Closable {
 public:
  using wxFrame::wxFrame;

  MainMenuBar* menu_bar = nullptr;
  ControlPanel* panel_control = nullptr;
  ValuesView* edit_register_device_frame = nullptr;
  ChipRegisterEditor* edit_register_chip_frame = nullptr;
  ValuesView* edit_dac_frame = nullptr;
  DeviceInfoView* device_info_frame = nullptr;
  HistogramWindow* image_histogram_frame = nullptr;
  SerialView* serial_control_frame = nullptr;
  AdcView* adc_control_frame = nullptr;
};

// Reads a member the host must have provided (a window part, the
// presenter's delegates, ...); a missing one is an error naming it.
template <typename T>
T& require(T* member, const char* path) {
  if (member == nullptr) throw std::logic_error(std::string("the host did not provide ") + path);
  return *member;
}

}  // namespace Zelvar_Core
