#include "tests/support/layout_check.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobox.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

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
