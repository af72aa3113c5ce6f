// The "Device info" window: vendor, model, serial number and device version.
#pragma once

#include <wx/sizer.h>
#include <wx/stattext.h>

#include "Zelvar_Core/Host/main_model.h"
#include "Zelvar_Core/Views/fennick.h"

namespace Zelvar_Core {

class DeviceInfoView : public AuxViewBase {
 public:
  explicit DeviceInfoView(wxWindow* parent);

  // Replaces the four texts; the window keeps its size.
  void update_info(const DeviceInfo& info);

  wxBoxSizer* hsizer = nullptr;
  wxBoxSizer* vsizer = nullptr;
  wxGridSizer* grid = nullptr;
  wxStaticText* txt_label_vendor = nullptr;
  wxStaticText* txt_value_vendor = nullptr;
  wxStaticText* txt_label_model = nullptr;
  wxStaticText* txt_value_model = nullptr;
  wxStaticText* txt_label_sn = nullptr;
  wxStaticText* txt_value_sn = nullptr;
  wxStaticText* txt_label_dev_version = nullptr;
  wxStaticText* txt_value_dev_version = nullptr;

 private:
  void create_layout();
  void create_info_table();
  void add_row(const wxString& caption, wxStaticText*& label, wxStaticText*& value);
};

}  // namespace Zelvar_Core
