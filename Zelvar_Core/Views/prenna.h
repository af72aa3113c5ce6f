// The values editor: a grid of captions and text fields with an Apply button.
// Edited fields are highlighted until the values are applied.
#pragma once

#include <tsl/ordered_map.h>
#include <wx/button.h>
#include <wx/colour.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <string>

#include "Zelvar_Core/Host/values.h"
#include "Zelvar_Core/Host/windows.h"
#include "Zelvar_Core/Views/fennick.h"

namespace Zelvar_Core {

class ValuesPanel : public wxPanel, public EditorPanel {
 public:
  explicit ValuesPanel(wxWindow* parent);

  // First call builds one row per record; later calls set the texts of the
  // existing rows by label. Either way every highlight is cleared at the end.
  void update_values(const ValuesMap& values);
  void on_text_change(wxWindow* widget) override;
  void to_default_color() override;
  WidgetMap field_widgets() const override;
  wxButton* panel_apply_button() const override { return button_apply; }

  wxBoxSizer* hbox = nullptr;
  wxBoxSizer* vbox = nullptr;
  wxGridSizer* grid_register = nullptr;
  wxBoxSizer* sizer_buttons = nullptr;
  wxButton* button_apply = nullptr;
  tsl::ordered_map<std::string, wxTextCtrl*> values_widgets;
  bool init_flag = false;

 private:
  void create_layout();
  void init_values(const ValuesMap& values);
};

class ValuesView : public AuxViewBase, public EditorWindow {
 public:
  ValuesView(wxWindow* parent, const wxString& title);

  void update_values(const ValuesMap& values);
  void apply();
  void set_menus_state(bool state);

  using AuxViewBase::close;
  wxWindowID GetId() const override { return AuxViewBase::GetId(); }
  EditorPanel& edit_panel() override { return *panel_values; }
  wxButton* window_apply_button() const override { return nullptr; }

  wxBoxSizer* vsizer = nullptr;
  wxBoxSizer* hsizer = nullptr;
  ValuesPanel* panel_values = nullptr;

 private:
  void create_layout();
};

}  // namespace Zelvar_Core
