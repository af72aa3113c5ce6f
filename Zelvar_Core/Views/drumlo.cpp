#include "Zelvar_Core/Views/drumlo.h"

#include <wx/stattext.h>

namespace Zelvar_Core {

SerialView::SerialView(wxWindow* parent)
    : AuxViewBase(parent, wxID_ANY, "SERIAL debugger", wxDefaultPosition, wxDefaultSize,
                  wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX) {
  SetMinSize(wxSize(0, 0));
  create_layout();
}

void SerialView::create_layout() {
  SetBackgroundColour(wxNullColour);
  vsizer = new wxBoxSizer(wxVERTICAL);
  hsizer = new wxBoxSizer(wxHORIZONTAL);
  vsizer->Add(hsizer, 0, wxALL, 5);
  panel_serial_control = new SerialControlPanel(this);
  hsizer->Add(panel_serial_control, 0, wxEXPAND, 0);
  SetSizerAndFit(vsizer);
  Layout();
}

SerialControlPanel::SerialControlPanel(wxWindow* parent) : wxPanel(parent) { create_layout(); }

void SerialControlPanel::create_layout() {
  auto* tx_caption = new wxStaticText(this, wxID_ANY, "SERIAL TX data", wxDefaultPosition,
                                      wxDefaultSize, wxCENTER);
  serial_tx_box = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_CENTER);
  auto* rx_caption = new wxStaticText(this, wxID_ANY, "SERIAL RX data", wxDefaultPosition,
                                      wxDefaultSize, wxCENTER);
  serial_rx_box = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                 wxTE_CENTER | wxTE_READONLY);
  btn_write = new wxButton(this, wxID_ANY, "Write SERIAL");
  vsizer = new wxBoxSizer(wxVERTICAL);
  main_grid = new wxGridSizer(2, 0, 0);
  main_grid->Add(tx_caption, 0, wxALIGN_CENTER | wxTOP, 5);
  main_grid->Add(serial_tx_box, 0, wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxLEFT | wxTOP, 5);
  main_grid->Add(rx_caption, 0, wxALIGN_CENTER | wxTOP, 5);
  main_grid->Add(serial_rx_box, 0, wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxLEFT | wxTOP, 5);
  vsizer->Add(main_grid, 0, wxALL, 1);
  vsizer->Add(btn_write, 0, wxALIGN_RIGHT | wxALL, 5);
  SetSizer(vsizer);
}

}  // namespace Zelvar_Core
