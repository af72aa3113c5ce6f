#include "bench/host/windows/path_field.h"

#include <wx/control.h>
#include <wx/dcclient.h>

namespace Zelvar_Core::bench {

PathField::PathField(wxWindow* parent, const std::string& path)
    : wxTextCtrl(parent, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_READONLY) {
  // Its best width is that of a usual path, not of the one it holds: a
  // deep folder must not widen its window past the screen.
  SetMinSize(wxSize(FromDIP(240), -1));
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    fit();
    event.Skip();
  });
  set_path(path);
}

void PathField::set_path(const std::string& path) {
  path_ = path;
  SetToolTip(wxString::FromUTF8(path));
  fit();
}

void PathField::fit() {
  const wxString whole = wxString::FromUTF8(path_);
  // The line's frame and inner margins take some of the field's width.
  const int room = GetClientSize().x - FromDIP(12);
  wxString shown = whole;
  if (room > 0 && GetTextExtent(whole).x > room) {
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    shown = wxControl::Ellipsize(whole, dc, wxELLIPSIZE_MIDDLE, room);
  }
  if (GetValue() != shown) ChangeValue(shown);
}

}  // namespace Zelvar_Core::bench
