#include "Zelvar_Core/Views/prenna.h"

#include <wx/stattext.h>

namespace Zelvar_Core {

ValuesPanel::ValuesPanel(wxWindow* parent) : wxPanel(parent) {
  create_layout();
  values_widgets.clear();
  init_flag = false;
}

void ValuesPanel::create_layout() {
  SetBackgroundColour(wxNullColour);
  hbox = new wxBoxSizer(wxHORIZONTAL);
  vbox = new wxBoxSizer(wxVERTICAL);
  hbox->Add(vbox, 0, wxALL, 1);
  grid_register = new wxGridSizer(2, 0, 0);
  vbox->Add(grid_register, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 5);
  sizer_buttons = new wxBoxSizer(wxHORIZONTAL);
  vbox->Add(sizer_buttons, 0, wxALIGN_RIGHT | wxALL, 5);
  button_apply = new wxButton(this, wxID_APPLY, "Apply");
  sizer_buttons->Add(button_apply, 0, wxALL, 5);
  SetSizer(hbox);
  Layout();
}

void ValuesPanel::update_values(const ValuesMap& values) {
  if (init_flag) {
    for (const auto& [key, record] : values) {
      values_widgets.at(record.label)->SetValue(wxString::FromUTF8(to_text(record.value)));
    }
  } else {
    init_values(values);
    init_flag = true;
  }
  to_default_color();
}

void ValuesPanel::init_values(const ValuesMap& values) {
  for (const auto& [key, record] : values) {
    const wxString label = wxString::FromUTF8(record.label);
    auto* caption =
        new wxStaticText(this, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, wxCENTER);
    auto* field =
        new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(to_text(record.value)), wxDefaultPosition,
                       wxDefaultSize, wxTE_CENTRE | wxTE_PROCESS_ENTER);
    values_widgets[record.label] = field;
    grid_register->Add(caption, 0, wxALIGN_CENTER | wxTOP, 5);
    grid_register->Add(field, 0, wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxLEFT | wxTOP, 5);
  }
}

void ValuesPanel::on_text_change(wxWindow* widget) { widget->SetBackgroundColour(kEditedColour); }

void ValuesPanel::to_default_color() {
  for (const auto& [label, field] : values_widgets) field->SetBackgroundColour(wxNullColour);
  Refresh();
}

WidgetMap ValuesPanel::field_widgets() const {
  WidgetMap widgets;
  for (const auto& [label, field] : values_widgets) widgets[label] = field;
  return widgets;
}

ValuesView::ValuesView(wxWindow* parent, const wxString& title)
    : AuxViewBase(parent, wxNewId(), title, wxDefaultPosition, wxDefaultSize,
                  wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX) {
  SetMinSize(wxSize(0, 0));
  create_layout();
}

void ValuesView::create_layout() {
  SetBackgroundColour(wxNullColour);
  vsizer = new wxBoxSizer(wxVERTICAL);
  hsizer = new wxBoxSizer(wxHORIZONTAL);
  vsizer->Add(hsizer, 0, wxALL, 5);
  panel_values = new ValuesPanel(this);
  hsizer->Add(panel_values, 0, wxEXPAND);
  SetSizerAndFit(vsizer);
  Layout();
}

void ValuesView::update_values(const ValuesMap& values) {
  panel_values->update_values(values);
  // The rows are made on the first update: the window's size hints follow
  // them, or a window manager keeps the hints of the empty window and
  // squeezes the Apply button out of sight.
  GetSizer()->SetSizeHints(this);
}

void ValuesView::apply() { panel_values->to_default_color(); }

void ValuesView::set_menus_state(bool state) { panel_values->Enable(state); }

}  // namespace Zelvar_Core
