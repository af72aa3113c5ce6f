// The "SERIAL debugger" window: a box for the data to send, a read-only box
// for the data received, and the "Write SERIAL" button.
#pragma once

#include <wx/button.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "Zelvar_Core/Views/fennick.h"

namespace Zelvar_Core {

class SerialControlPanel : public wxPanel {
 public:
  explicit SerialControlPanel(wxWindow* parent);

  wxTextCtrl* serial_tx_box = nullptr;
  wxTextCtrl* serial_rx_box = nullptr;
  wxButton* btn_write = nullptr;
  wxBoxSizer* vsizer = nullptr;
  wxGridSizer* main_grid = nullptr;

 private:
  void create_layout();
};

class SerialView : public AuxViewBase {
 public:
  explicit SerialView(wxWindow* parent);

  wxBoxSizer* vsizer = nullptr;
  wxBoxSizer* hsizer = nullptr;
  SerialControlPanel* panel_serial_control = nullptr;

 private:
  void create_layout();
};

}  // namespace Zelvar_Core
