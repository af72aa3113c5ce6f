// The values editor: a grid of captions and text fields with an Apply button.
// Edited fields are highlighted until the values are applied. A bank of more
// values than a grid holds gets a find box, a list drawn row by row as it is
// seen, and one field for the value chosen in the list.
#pragma once

#include <tsl/ordered_map.h>
#include <wx/button.h>
#include <wx/colour.h>
#include <wx/listctrl.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "Zelvar_Core/Host/values.h"
#include "Zelvar_Core/Host/windows.h"
#include "Zelvar_Core/Views/fennick.h"

namespace Zelvar_Core {

// The rows of a large bank, each "label | value", made only as drawn.
class ValuesList : public wxListCtrl {
 public:
  ValuesList(wxWindow* parent, const ValuesMap& values, const std::vector<std::size_t>& rows);
  // The label of the row shown at `row`.
  const std::string& label(long row) const;

 private:
  wxString OnGetItemText(long item, long column) const override;
  const ValuesMap& values_;
  const std::vector<std::size_t>& rows_;  // indices into values_, in the order listed
};

class ValuesPanel : public wxPanel, public EditorPanel {
 public:
  // Up to this many values, a field each; beyond, the list and one field.
  static constexpr std::size_t kFieldsAtMost = 200;

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

  // A large bank's find box and list (null for a bank with a field each):
  // values_widgets then holds the one field, under the label chosen.
  wxTextCtrl* find_field = nullptr;
  ValuesList* values_list = nullptr;
  bool large() const { return values_list != nullptr; }
  // The label the one field edits ("" for a bank with a field each).
  const std::string& chosen() const { return chosen_; }
  // The field edits `label` from now on; a text typed for the one chosen
  // before and not applied is kept for it, shown again when it is chosen again.
  void choose(const std::string& label);
  // Heard once another label is chosen, its value shown in the field.
  std::function<void()> on_choice;
  // Every row and field goes: the next update makes them anew.
  void clear_rows();

 private:
  void create_layout();
  void init_values(const ValuesMap& values);
  void init_large(const ValuesMap& values);
  // The list shows the labels holding the find box's text, whatever its case.
  void filter();

  // The label's row in values_, from the index made when values_ is set.
  const ValueRecord* record(const std::string& label) const;
  void set_values(const ValuesMap& values);

  ValuesMap values_;                                    // a large bank's values, as last shown
  std::unordered_map<std::string, std::size_t> index_;  // label -> its row in values_
  std::vector<std::size_t> listed_;                     // the rows listed: indices into values_
  std::string chosen_;
  wxWindow* caption_ = nullptr;  // the one field's caption
  wxSizer* find_row_ = nullptr;
  std::map<std::string, wxString> unapplied_;  // label -> text typed and not applied
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
