#include "bench/host/windows/chip_editor.h"

#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "Zelvar_Core/Views/fennick.h"
#include "platform/intctrl/int_ctrl.h"

namespace Zelvar_Core::bench {

ChipSignalsPanel::ChipSignalsPanel(wxWindow* parent, const std::vector<Register>& signals)
    : wxPanel(parent) {
  SetSizer(new wxFlexGridSizer(2, 4, 10));
  add_rows(signals);
}

void ChipSignalsPanel::rebuild(const std::vector<Register>& signals) {
  GetSizer()->Clear(true);  // the captions and fields go with their rows
  values_widgets.clear();
  add_rows(signals);
  Layout();
}

void ChipSignalsPanel::add_rows(const std::vector<Register>& signals) {
  auto* grid = GetSizer();
  for (const auto& s : signals) {
    grid->Add(new wxStaticText(this, wxID_ANY, wxString::FromUTF8(register_caption(s))), 0,
              wxALIGN_CENTER_VERTICAL);
    wxWindow* field;
    if (s.max == 1) {
      field = new wxCheckBox(this, wxID_ANY, "");
      const std::string tip = s.description.empty() ? s.name + ": on or off; Apply writes it"
                              : s.read_only
                                  ? register_tip(s, "")
                                  : s.name + ": " + s.description + "; on or off, Apply writes it";
      field->SetToolTip(wxString::FromUTF8(tip));
      field->Enable(!s.read_only);  // the board does not take a write to it
    } else {
      // Enter in the field applies, like the Apply button.
      auto* number = new IntCtrl(this, wxID_ANY, 0, wxDefaultPosition, wxDefaultSize,
                                 wxTE_CENTRE | wxTE_PROCESS_ENTER);
      number->SetEditable(!s.read_only);
      field = number;
      field->SetToolTip(wxString::FromUTF8(register_tip(s, "Enter or Apply writes it")));
    }
    values_widgets[s.name] = field;
    grid->Add(field, 0, wxALIGN_CENTER_VERTICAL);
  }
  show(signals);
}

void ChipSignalsPanel::on_text_change(wxWindow* widget) {
  widget->SetBackgroundColour(kEditedColour);
}

void ChipSignalsPanel::to_default_color() {
  for (auto& [name, w] : values_widgets) w->SetBackgroundColour(wxNullColour);
  Refresh();
}

void ChipSignalsPanel::show(const std::vector<Register>& signals) {
  for (const auto& s : signals) {
    auto* w = values_widgets.at(s.name);
    if (auto* box = dynamic_cast<wxCheckBox*>(w))
      box->SetValue(s.value != 0);
    else if (auto* field = dynamic_cast<IntCtrl*>(w))
      field->ChangeValue(wxString::Format("%lld", static_cast<long long>(s.value)));
  }
}

BenchChipEditor::BenchChipEditor(wxWindow* parent, const std::vector<Register>& signals)
    : ChipRegisterEditor(parent, wxNewId(), "Chip registers", wxDefaultPosition, wxDefaultSize,
                         wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  signals_panel = new ChipSignalsPanel(this, signals);
  panel_values = signals_panel;
  button_apply = new wxButton(this, wxID_APPLY, "Apply");
  button_apply->SetToolTip("Write the changed signals to the chip");
  sizer->Add(signals_panel, 0, wxALL, 10);
  sizer->Add(button_apply, 0, wxALIGN_RIGHT | wxALL, 5);
  SetSizerAndFit(sizer);
}

void BenchChipEditor::rebuild(const std::vector<Register>& signals) {
  signals_panel->rebuild(signals);
  GetSizer()->SetSizeHints(this);
  Fit();
}

void BenchChipEditor::set_menus_state(bool state) {
  signals_panel->Enable(state);
  button_apply->Enable(state);
}

}  // namespace Zelvar_Core::bench
