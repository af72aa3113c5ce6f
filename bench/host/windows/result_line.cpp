#include "bench/host/windows/result_line.h"

#include <wx/sizer.h>
#include <wx/toplevel.h>

#include <algorithm>
#include <vector>

namespace Zelvar_Core::bench {

wxString wrapped_text(const wxString& text, int width, const wxWindow& window) {
  const auto fits = [&](const wxString& line) { return window.GetTextExtent(line).x <= width; };
  wxString out, line;
  const auto flush = [&] {
    if (!out.empty()) out += '\n';
    out += line;
    line.clear();
  };
  // Pieces that end after a blank or a slash: where a line may break.
  std::vector<wxString> pieces;
  wxString piece;
  for (const wxUniChar c : text) {
    piece += c;
    if (c == ' ' || c == '/') {
      pieces.push_back(piece);
      piece.clear();
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  for (const wxString& p : pieces) {
    if (fits(line + p)) {
      line += p;
      continue;
    }
    if (!line.empty()) flush();
    if (fits(p)) {
      line = p;
      continue;
    }
    for (const wxUniChar c : p) {  // longer than a line on its own
      if (!line.empty() && !fits(line + c)) flush();
      line += c;
    }
  }
  flush();
  // A blank that ended a line is not shown.
  wxString result;
  for (const wxString& l : wxSplit(out, '\n', '\0')) {
    wxString trimmed = l;
    trimmed.Trim(true);
    result += (result.empty() ? "" : "\n") + trimmed;
  }
  return result;
}

ResultLine::ResultLine(wxWindow* parent)
    : wxStaticText(parent, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE) {
  SetMinSize(wxSize(FromDIP(40), -1));  // the window's width decides, not the text's
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    if (GetSize().x != wrapped_for_) CallAfter([this] { wrap(); });
  });
}

void ResultLine::show(const wxString& text) {
  text_ = text;
  SetToolTip(text.empty() ? wxString() : text);
  wrapped_for_ = -1;
  wrap();
}

void ResultLine::wrap() {
  const int width = std::max(GetSize().x, FromDIP(40));
  if (width == wrapped_for_) return;
  wrapped_for_ = width;
  const wxString label = text_.empty() ? wxString() : wrapped_text(text_, width, *this);
  if (label == GetLabel()) return;
  SetLabel(label);
  InvalidateBestSize();  // a label that does not resize itself keeps its old best size
  const int lines = static_cast<int>(label.Freq('\n')) + 1;
  SetMinSize(wxSize(FromDIP(40), std::max(GetBestSize().y, lines * GetCharHeight())));
  // The window grows as tall as the lines need.
  wxWindow* top = wxGetTopLevelParent(this);
  if (top == nullptr) return;
  wxWindow* content = GetParent();
  content->Layout();
  if (content->GetSizer() == nullptr) return;
  const int short_by = content->GetSizer()->GetMinSize().y - content->GetClientSize().y;
  if (short_by > 0) top->SetSize(top->GetSize() + wxSize(0, short_by));
  content->Layout();
}

}  // namespace Zelvar_Core::bench
