// What the bench knows of its input fields, kept apart from how they look:
// each shows the value in force (clean), an edit not yet applied (pending),
// or a text the bench refused (with the reason). Colours and tooltips are
// drawn from it; nothing is read back from a colour.
#pragma once

#include <wx/button.h>
#include <wx/colour.h>
#include <wx/textctrl.h>
#include <wx/window.h>

#include <functional>
#include <map>
#include <string>

namespace Zelvar_Core::bench {

inline const wxColour kRefusedColour(255, 190, 190);

enum class FieldState { Clean, Pending, Refused };

// A field's text: a text field's value, a check box's "1" or "0".
std::string text_of(const wxWindow* field);

class FieldStates {
 public:
  // The field now shows `in_force`, the value the board or setting holds;
  // a refusal is forgotten.
  void show(wxWindow* field, const std::string& in_force);
  // The value in force changed under the field, which keeps the user's
  // text: a refused text stays refused.
  void refresh(wxWindow* field, const std::string& in_force);
  // The field's text was refused: so it stays until its text changes.
  void refuse(wxWindow* field, const std::string& reason);
  // Clean when it shows what is in force, refused while it holds the text
  // that was refused, pending otherwise.
  FieldState state(const wxWindow* field) const;
  bool refused(const wxWindow* field) const { return state(field) == FieldState::Refused; }
  std::string reason(const wxWindow* field) const;  // "" unless refused
  // The text in force the field last showed ("" when never shown).
  std::string in_force(const wxWindow* field) const;
  // Colour and tooltip as the state has them: the platform's colour, the
  // colour of an edit, or the refused colour with the reason as tooltip.
  void draw(wxWindow* field) const;
  // The field is about to go: nothing of it is kept for a field made later.
  void forget(const wxWindow* field) { fields_.erase(field); }

 private:
  struct Entry {
    std::string in_force;
    bool refused = false;
    std::string refused_text, reason;
    wxString usual_tip;  // the field's own tooltip, back when it is not refused
  };
  Entry& entry(wxWindow* field);
  std::map<const wxWindow*, Entry> fields_;
};

// A setting's field: Enter applies as `apply` does when clicked; Escape,
// or leaving the field while it holds a refused text, puts back what is in
// force (`restore`); typing draws it anew (a refused text typed into is an
// edit again, which the next apply takes).
void bind_setting_field(FieldStates& states, wxTextCtrl* field, wxButton* apply,
                        std::function<void()> restore);

}  // namespace Zelvar_Core::bench
