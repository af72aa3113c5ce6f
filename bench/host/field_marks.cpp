#include "bench/host/field_marks.h"

namespace Zelvar_Core::bench {

void mark_refused(wxWindow* field, const std::string& reason) {
  field->SetBackgroundColour(kRefusedColour);
  field->SetToolTip(wxString::FromUTF8(reason));
  field->Refresh();
}

void clear_mark(wxWindow* field) {
  field->SetBackgroundColour(wxNullColour);
  field->UnsetToolTip();
  field->Refresh();
}

bool is_refused(const wxWindow* field) { return field->GetBackgroundColour() == kRefusedColour; }

}  // namespace Zelvar_Core::bench
