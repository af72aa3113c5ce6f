#include "Zelvar_Core/Views/haskel.h"

namespace Zelvar_Core {

DeviceInfoView::DeviceInfoView(wxWindow* parent)
    : AuxViewBase(parent, wxID_ANY, "Device info", wxDefaultPosition, wxDefaultSize,
                  wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX) {
  create_layout();
}

void DeviceInfoView::create_layout() {
  SetBackgroundColour(wxNullColour);
  hsizer = new wxBoxSizer(wxHORIZONTAL);
  vsizer = new wxBoxSizer(wxVERTICAL);
  grid = new wxGridSizer(2, 5, 0);
  hsizer->Add(vsizer, 0, wxALL, 1);
  vsizer->Add(grid, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 20);
  create_info_table();
  SetSizerAndFit(hsizer);
  Layout();
}

void DeviceInfoView::create_info_table() {
  add_row("Vendor:", txt_label_vendor, txt_value_vendor);
  add_row("Model:", txt_label_model, txt_value_model);
  add_row("Serial number:", txt_label_sn, txt_value_sn);
  add_row("Device version:", txt_label_dev_version, txt_value_dev_version);
}

void DeviceInfoView::add_row(const wxString& caption, wxStaticText*& label, wxStaticText*& value) {
  label = new wxStaticText(this, wxID_ANY, caption, wxDefaultPosition, wxDefaultSize, wxCENTER);
  value = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxLEFT);
  grid->Add(label, 0, wxALIGN_RIGHT | wxRIGHT, 10);
  grid->Add(value, 0, wxALIGN_LEFT);
}

void DeviceInfoView::update_info(const DeviceInfo& info) {
  txt_value_vendor->SetLabel(wxString::FromUTF8(info.vendor));
  txt_value_model->SetLabel(wxString::FromUTF8(info.product_name));
  txt_value_sn->SetLabel(wxString::FromUTF8(info.serial_number));
  txt_value_dev_version->SetLabel(wxString::FromUTF8(info.dev_version));
}

}  // namespace Zelvar_Core
