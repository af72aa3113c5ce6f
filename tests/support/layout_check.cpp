#include "tests/support/layout_check.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/control.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/radiobox.h>
#include <wx/scrolwin.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>
#include <wx/toolbar.h>

#include <algorithm>
#include <functional>

namespace Zelvar_Core::testing_support {

namespace {

std::string describe(const wxTopLevelWindow& top, const wxWindow* w, const char* kind,
                     const wxString& text, const wxSize& need, const wxSize& has) {
  return top.GetTitle().utf8_string() + ": " + kind + " \"" + text.utf8_string() + "\" needs " +
         std::to_string(need.x) + "x" + std::to_string(need.y) + ", has " + std::to_string(has.x) +
         "x" + std::to_string(has.y) + (w->IsShown() ? "" : " (hidden)");
}

bool labelled(const wxWindow* w) {
  return dynamic_cast<const wxStaticText*>(w) || dynamic_cast<const wxButton*>(w) ||
         dynamic_cast<const wxToggleButton*>(w) || dynamic_cast<const wxCheckBox*>(w) ||
         dynamic_cast<const wxChoice*>(w) || dynamic_cast<const wxRadioBox*>(w) ||
         dynamic_cast<const wxStaticBox*>(w);
}

bool worked(const wxWindow* w) {
  if (auto* text = dynamic_cast<const wxTextCtrl*>(w)) return text->IsEditable();
  return dynamic_cast<const wxButton*>(w) || dynamic_cast<const wxToggleButton*>(w) ||
         dynamic_cast<const wxCheckBox*>(w) || dynamic_cast<const wxChoice*>(w) ||
         dynamic_cast<const wxRadioBox*>(w) || dynamic_cast<const wxSlider*>(w) ||
         dynamic_cast<const wxSpinCtrl*>(w);
}

std::string rect_text(const wxRect& r) {
  return std::to_string(r.width) + "x" + std::to_string(r.height) + " at " + std::to_string(r.x) +
         "," + std::to_string(r.y);
}

// The frame's own bars lie outside its client area by design.
bool frame_bar(const wxWindow* w) {
  return dynamic_cast<const wxStatusBar*>(w) || dynamic_cast<const wxMenuBar*>(w) ||
         dynamic_cast<const wxToolBar*>(w);
}

// Every shown control (and every window without shown children, such as a
// plot) that lies partly outside the area a user sees of it: its window's
// client area, and the client area of each window it lies in; within a
// scrolled window, the area it scrolls over. `visible` is in the client
// coordinates of `parent`, where its children's rectangles are.
void out_of_sight(const wxTopLevelWindow& top, const wxWindow* parent, const wxRect& visible,
                  std::vector<std::string>& found) {
  const int slack = 1;  // a pixel of rounding
  wxRect grown = visible;
  grown.Inflate(slack);
  for (const wxWindow* w : parent->GetChildren()) {
    if (w->IsTopLevel() || !w->IsShown() || (parent == &top && frame_bar(w))) continue;
    const wxRect rect = w->GetRect();
    const bool leaf =
        std::none_of(w->GetChildren().begin(), w->GetChildren().end(),
                     [](const wxWindow* c) { return c->IsShown() && !c->IsTopLevel(); });
    if ((labelled(w) || worked(w) || leaf) && !rect.IsEmpty() && !grown.Contains(rect)) {
      const wxString text = labelled(w) ? w->GetLabel() : w->GetName();
      found.push_back(top.GetTitle().utf8_string() + ": " +
                      wxString(w->GetClassInfo()->GetClassName()).utf8_string() + " \"" +
                      text.utf8_string() + "\" lies out of sight: " + rect_text(rect) +
                      " in a visible " + rect_text(visible));
      continue;  // what lies in it is out of sight with it
    }
    // A control's own parts (a list's header and rows) are its own business.
    if (dynamic_cast<const wxControl*>(w) != nullptr) continue;
    // The part of it in sight, in its own client coordinates (inside its border).
    const wxSize client = w->GetClientSize();
    const wxPoint origin =
        rect.GetPosition() + wxPoint((rect.width - client.x) / 2, (rect.height - client.y) / 2);
    wxRect inner(wxPoint(0, 0), client);
    if (auto* scrolled = dynamic_cast<const wxScrollHelperBase*>(w)) {
      // What it scrolls over can be brought into sight.
      inner = wxRect(wxPoint(0, 0) - scrolled->CalcUnscrolledPosition(wxPoint(0, 0)),
                     w->GetVirtualSize());
    } else {
      wxRect seen = visible;
      seen.Offset(-origin);
      inner.Intersect(seen);
    }
    out_of_sight(top, w, inner, found);
  }
}

}  // namespace

std::vector<std::string> controls_without_tooltip(const wxTopLevelWindow& window) {
  std::vector<std::string> untipped;
  std::function<void(const wxWindow*)> visit = [&](const wxWindow* w) {
    if (worked(w) && w->GetToolTipText().empty())
      untipped.push_back(window.GetTitle().utf8_string() + ": " +
                         wxString(w->GetClassInfo()->GetClassName()).utf8_string() + " \"" +
                         w->GetLabel().utf8_string() + "\" (" + w->GetName().utf8_string() + ")");
    for (const wxWindow* child : w->GetChildren())
      if (!child->IsTopLevel()) visit(child);
  };
  visit(&window);
  return untipped;
}

std::vector<std::string> clipped_controls(const wxTopLevelWindow& window) {
  std::vector<std::string> clipped;
  const int slack = 1;  // a pixel of rounding
  std::function<void(const wxWindow*)> visit = [&](const wxWindow* w) {
    if (!w->IsShown()) return;
    if (labelled(w)) {
      const wxSize need = w->GetBestSize(), has = w->GetSize();
      if (need.x > has.x + slack || need.y > has.y + slack)
        clipped.push_back(
            describe(window, w, wxString(w->GetClassInfo()->GetClassName()).utf8_string().c_str(),
                     w->GetLabel(), need, has));
    } else if (auto* text = dynamic_cast<const wxTextCtrl*>(w);
               text && !text->IsMultiLine() && !text->GetValue().empty()) {
      const wxSize need = text->GetTextExtent(text->GetValue());
      const wxSize has = text->GetClientSize();
      if (need.x > has.x + slack)
        clipped.push_back(describe(window, w, "text field", text->GetValue(), need, has));
    } else if (auto* bar = dynamic_cast<const wxStatusBar*>(w)) {
      for (int field = 0; field + 1 < bar->GetFieldsCount(); ++field) {
        wxRect rect;
        bar->GetFieldRect(field, rect);
        const wxSize need = bar->GetTextExtent(bar->GetStatusText(field));
        if (need.x > 0 && need.x > rect.width + slack)
          clipped.push_back(
              describe(window, w, "status field", bar->GetStatusText(field), need, rect.GetSize()));
      }
    }
    for (const wxWindow* child : w->GetChildren())
      if (!child->IsTopLevel()) visit(child);
  };
  visit(&window);
  out_of_sight(window, &window, wxRect(wxPoint(0, 0), window.GetClientSize()), clipped);
  // A window manager puts the title beside its buttons (about 90 px, and a
  // bolder font): a window narrower than that cuts its own title.
  const wxString title = window.GetTitle();
  const int title_needs = window.GetTextExtent(title).x * 11 / 10 + 90;
  if (title_needs > window.GetSize().x)
    clipped.push_back(
        describe(window, &window, "title", title, wxSize(title_needs, 0), window.GetSize()));
  return clipped;
}

}  // namespace Zelvar_Core::testing_support
