#include "bench/host/presenter/field_state.h"

#include <wx/checkbox.h>
#include <wx/textctrl.h>

#include <stdexcept>

#include "Zelvar_Core/Views/fennick.h"

namespace Zelvar_Core::bench {

std::string text_of(const wxWindow* field) {
  if (auto* box = dynamic_cast<const wxCheckBox*>(field)) return box->GetValue() ? "1" : "0";
  if (auto* text = dynamic_cast<const wxTextCtrl*>(field)) return text->GetValue().utf8_string();
  throw std::logic_error("a field that is neither a check box nor a text field");
}

FieldStates::Entry& FieldStates::entry(wxWindow* field) {
  const auto found = fields_.find(field);
  if (found != fields_.end()) return found->second;
  Entry& made = fields_[field];
  made.usual_tip = field->GetToolTipText();
  return made;
}

void FieldStates::show(wxWindow* field, const std::string& in_force) {
  Entry& shown = entry(field);
  shown.in_force = in_force;
  shown.refused = false;
  draw(field);
}

void FieldStates::refresh(wxWindow* field, const std::string& in_force) {
  entry(field).in_force = in_force;
  draw(field);
}

void FieldStates::refuse(wxWindow* field, const std::string& reason) {
  Entry& refused = entry(field);
  refused.refused = true;
  refused.refused_text = text_of(field);
  refused.reason = reason;
  draw(field);
}

FieldState FieldStates::state(const wxWindow* field) const {
  const auto found = fields_.find(field);
  const std::string text = text_of(field);
  if (found == fields_.end()) return FieldState::Clean;
  const Entry& entry = found->second;
  if (entry.refused && text == entry.refused_text) return FieldState::Refused;
  return text == entry.in_force ? FieldState::Clean : FieldState::Pending;
}

std::string FieldStates::reason(const wxWindow* field) const {
  return refused(field) ? fields_.at(field).reason : "";
}

std::string FieldStates::in_force(const wxWindow* field) const {
  const auto found = fields_.find(field);
  return found == fields_.end() ? "" : found->second.in_force;
}

void FieldStates::draw(wxWindow* field) const {
  const auto found = fields_.find(field);
  const wxString usual = found == fields_.end() ? wxString() : found->second.usual_tip;
  const auto usual_tip = [&] {
    if (usual.empty())
      field->UnsetToolTip();
    else
      field->SetToolTip(usual);
  };
  switch (state(field)) {
    case FieldState::Clean:
      field->SetBackgroundColour(wxNullColour);
      usual_tip();
      break;
    case FieldState::Pending:
      field->SetBackgroundColour(kEditedColour);
      usual_tip();
      break;
    case FieldState::Refused:
      field->SetBackgroundColour(kRefusedColour);
      field->SetToolTip(wxString::FromUTF8(reason(field)));
      break;
  }
  field->Refresh();
}

void bind_setting_field(FieldStates& states, wxTextCtrl* field, wxButton* apply,
                        std::function<void()> restore) {
  auto click = [apply] {
    wxCommandEvent event(wxEVT_BUTTON, apply->GetId());
    event.SetEventObject(apply);
    apply->GetEventHandler()->ProcessEvent(event);
  };
  if (field->HasFlag(wxTE_PROCESS_ENTER))
    field->Bind(wxEVT_TEXT_ENTER, [click](wxCommandEvent&) { click(); });
  field->Bind(wxEVT_KEY_DOWN, [click, restore](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER)
      click();
    else if (event.GetKeyCode() == WXK_ESCAPE)
      restore();
    else
      event.Skip();
  });
  field->Bind(wxEVT_TEXT, [&states, field](wxCommandEvent& event) {
    states.draw(field);
    event.Skip();
  });
  field->Bind(wxEVT_KILL_FOCUS, [&states, field, restore](wxFocusEvent& event) {
    if (states.refused(field)) restore();
    event.Skip();
  });
}

}  // namespace Zelvar_Core::bench
